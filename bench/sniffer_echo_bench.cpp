// Echo delay of the data sniffer over a pseudo-terminal, per byte, at the full line rate of
// 25,000 bytes/s, beside two plain byte relays measured in the same run:
//   - socat relaying between two pseudo-terminals,
//   - a minimal poll() echo loop on a pseudo-terminal (the same shape as the tool's echo).
// The stream is realistic sniffer traffic: a BMS polling a bank of 160 balancers, so the tool
// also parses every burst and builds the table rows at its end.
//
//   sniffer_echo_bench [--seconds S] [--rounds R] [--no-socat]
//
// Each phase runs for S seconds (default 10), the three in turn for R rounds (default 5) so that a
// noisy machine favours none; every phase checks that every byte came back exactly once and in
// order. The figures are the medians of the rounds' p99.

#include "bench_options.hpp"
#include "echo_phase.hpp"
#include "engine/engine_host.hpp"
#include "support/pty.hpp"

#include <QCoreApplication>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using zanst::bus::Bytes;
using namespace zanst::bench;

PhaseResult toolPhase(const Bytes& pattern, double seconds, int& tablesBuilt) {
    zanst::test::Pty pty;
    zanst::app::EngineHost host;
    std::atomic<int> tables{0};
    QObject::connect(
        host.engine()->sniffer(), &zanst::app::SnifferFeature::reported, host.engine(),
        [&](const zanst::sniffer::SnifferReport& r) { tables += static_cast<int>(r.burstsEnded.size()); },
        Qt::DirectConnection);
    const QString path = QString::fromStdString(pty.slavePath());
    host.runBlocking([&] {
        host.engine()->ports()->selectPort(path);
        host.engine()->modes()->selectMode(zanst::bus::Mode::Sniffer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const PhaseResult r = runPhase(pty.masterFd(), pty.masterFd(), pattern, seconds);
    tablesBuilt = tables.load();
    return r;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    int rounds = 5;
    bool noSocat = false;
    const zanst::bench::OptionTable options{
        "The data sniffer's echo delay per byte at 25,000 bytes/s, beside socat and a poll() echo loop.",
        {{"--seconds", "S", "seconds per phase (default 10)", &seconds, 0.0},
         {"--rounds", "R", "rounds of the three phases, alternating (default 5)", &rounds, 1.0},
         {"--no-socat", "", "leave out the socat relay", &noSocat}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    const bool withSocat = !noSocat;
    QCoreApplication app(argc, argv);

    const Bytes pattern = snifferPattern();

    std::printf("per-byte echo delay at %.0f bytes/s, %.0f s per phase, %d rounds, pattern of %zu bytes\n",
                kBytesPerSecond, seconds, rounds, pattern.size());
    std::vector<double> socatP99;
    std::vector<double> loopP99;
    std::vector<double> toolP99;
    bool clean = true;
    int tables = 0;
    for (int r = 0; r < rounds; ++r) {
        if (withSocat) {
            bool ran = false;
            const PhaseResult relay = socatPhase(pattern, seconds, ran);
            if (ran) {
                print("socat relay (2 ptys)", relay);
                socatP99.push_back(relay.p99us);
            } else {
                std::printf("socat relay: not available\n");
            }
        }
        const PhaseResult loop = echoLoopPhase(pattern, seconds);
        print("poll() echo loop (1 pty)", loop);
        loopP99.push_back(loop.p99us);
        const PhaseResult tool = toolPhase(pattern, seconds, tables);
        print("zanst sniffer (1 pty)", tool);
        toolP99.push_back(tool.p99us);
        clean = clean && tool.received == tool.sent && tool.mismatches == 0;
    }
    const double t = median(toolP99);
    const double l = median(loopP99);
    const double so = median(socatP99);
    std::printf("echo p99, median of %d rounds: zanst %.1f us, poll() loop %.1f us (%.2f x), socat %.1f us "
                "(%.2f x); the last round built %d tables\n",
                rounds, t, l, l > 0 ? t / l : 0.0, so, so > 0 ? t / so : 0.0, tables);
    std::printf("%s\n", clean ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED");
    return clean ? 0 : 1;
}
