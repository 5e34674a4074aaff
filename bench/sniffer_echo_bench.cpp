// Echo delay of the data sniffer over a pseudo-terminal, per byte, at the full line rate of
// 25,000 bytes/s, beside two plain byte relays measured in the same run:
//   - socat relaying between two pseudo-terminals,
//   - a minimal poll() echo loop on a pseudo-terminal (the same shape as the tool's echo).
// The stream is realistic sniffer traffic: a BMS polling a bank of 160 balancers, so the tool
// also parses every burst and builds the table rows at its end.
//
//   sniffer_echo_bench [--seconds S] [--no-socat]
//
// Each phase runs for S seconds (default 10); every phase checks that every byte came back
// exactly once and in order.

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

// A plain echo on one pseudo-terminal: poll, read, write back what was read.
PhaseResult echoLoopPhase(const Bytes& pattern, double seconds) {
    zanst::test::Pty pty;
    const int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    makeRaw(slave);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        std::uint8_t buffer[4096];
        while (!stop.load()) {
            pollfd p{slave, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                const ssize_t n = ::read(slave, buffer, sizeof buffer);
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::write(slave, buffer + done, static_cast<std::size_t>(n - done));
                    done += w > 0 ? w : 0;
                }
            }
        }
    });
    const PhaseResult r = runPhase(pty.masterFd(), pty.masterFd(), pattern, seconds);
    stop = true;
    echo.join();
    ::close(slave);
    return r;
}

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

} // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    bool noSocat = false;
    const zanst::bench::OptionTable options{
        "The data sniffer's echo delay per byte at 25,000 bytes/s, beside socat and a poll() echo loop.",
        {{"--seconds", "S", "seconds per phase (default 10)", &seconds, 0.0},
         {"--no-socat", "", "leave out the socat relay", &noSocat}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    const bool withSocat = !noSocat;
    QCoreApplication app(argc, argv);

    const Bytes pattern = snifferPattern();

    std::printf("per-byte echo delay at %.0f bytes/s, %.0f s per phase, pattern of %zu bytes\n",
                kBytesPerSecond, seconds, pattern.size());
    if (withSocat) {
        bool ran = false;
        const PhaseResult relay = socatPhase(pattern, seconds, ran);
        if (ran) {
            print("socat relay (2 ptys)", relay);
        } else {
            std::printf("socat relay: not available\n");
        }
    }
    print("poll() echo loop (1 pty)", echoLoopPhase(pattern, seconds));
    int tables = 0;
    const PhaseResult tool = toolPhase(pattern, seconds, tables);
    print("zanst sniffer (1 pty)", tool);
    std::printf("zanst built %d tables (one per burst with records)\n", tables);
    const bool clean = tool.received == tool.sent && tool.mismatches == 0;
    std::printf("%s\n", clean ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED");
    return clean ? 0 : 1;
}
