// Echo delay of the data sniffer over a pseudo-terminal, per byte, at the full line rate of
// 25,000 bytes/s, beside two plain byte relays measured in the same run:
//   - socat relaying between two pseudo-terminals,
//   - a minimal poll() echo loop on a pseudo-terminal (the same shape as the tool's echo).
// The stream is realistic sniffer traffic: a BMS polling a bank of 160 balancers, so the tool
// also parses every burst and builds the table rows at its end.
//
//   sniffer_echo_bench [--duration SECONDS] [--no-socat]
//
// Each phase runs for the duration (default 10 s); every phase checks that every byte came
// back exactly once and in order.

#include "engine/engine_host.hpp"
#include "scripted_bus.hpp"
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

using Clock = std::chrono::steady_clock;
using zanst::bus::Bytes;

constexpr double kBytesPerSecond = 25000.0;

struct PhaseResult {
    std::size_t sent = 0;
    std::size_t received = 0;
    std::size_t mismatches = 0;
    double p50us = 0;
    double p99us = 0;
    double maxus = 0;
};

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}

// Sends `pattern` cyclically into writeFd at 25,000 bytes/s, one byte per write, and reads the
// bytes coming back on readFd; returns the per-byte delays.
PhaseResult runPhase(int writeFd, int readFd, const Bytes& pattern, double seconds) {
    const auto total = static_cast<std::size_t>(seconds * kBytesPerSecond);
    std::vector<std::int64_t> sentAt(total, 0);
    std::vector<std::int64_t> gotAt;
    gotAt.reserve(total);
    Bytes got;
    got.reserve(total);
    std::atomic<bool> senderDone{false};

    std::thread receiver([&] {
        std::uint8_t buffer[4096];
        std::int64_t quietSince = 0;
        while (got.size() < total) {
            pollfd p{readFd, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready > 0 && (p.revents & POLLIN)) {
                const ssize_t n = ::read(readFd, buffer, sizeof buffer);
                const std::int64_t t = nowNs();
                for (ssize_t i = 0; i < n; ++i) {
                    got.push_back(buffer[i]);
                    gotAt.push_back(t);
                }
                quietSince = 0;
            } else if (senderDone.load()) {
                if (quietSince == 0) {
                    quietSince = nowNs();
                } else if (nowNs() - quietSince > 2'000'000'000) {
                    break; // two seconds without a byte after the last one went out: lost
                }
            }
        }
    });

    std::thread sender([&] {
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        const std::int64_t start = nowNs();
        const double periodNs = 1e9 / kBytesPerSecond;
        for (std::size_t i = 0; i < total; ++i) {
            const auto due = start + static_cast<std::int64_t>(static_cast<double>(i) * periodNs);
            std::int64_t now = nowNs();
            if (now < due) {
                timespec ts{static_cast<time_t>(due / 1'000'000'000), static_cast<long>(due % 1'000'000'000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
            }
            const std::uint8_t b = pattern[i % pattern.size()];
            sentAt[i] = nowNs();
            while (::write(writeFd, &b, 1) != 1) {
                pollfd p{writeFd, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
        senderDone = true;
    });

    sender.join();
    receiver.join();

    PhaseResult r;
    r.sent = total;
    r.received = got.size();
    std::vector<double> delays;
    delays.reserve(got.size());
    for (std::size_t i = 0; i < got.size() && i < total; ++i) {
        if (got[i] != pattern[i % pattern.size()]) {
            ++r.mismatches;
        }
        delays.push_back(static_cast<double>(gotAt[i] - sentAt[i]) / 1000.0);
    }
    if (!delays.empty()) {
        std::sort(delays.begin(), delays.end());
        r.p50us = delays[delays.size() / 2];
        r.p99us = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
        r.maxus = delays.back();
    }
    return r;
}

void print(const char* name, const PhaseResult& r) {
    std::printf("%-28s sent %8zu  back %8zu  wrong/reordered %zu  p50 %7.1f us  p99 %7.1f us  max %8.1f us\n",
                name, r.sent, r.received, r.mismatches, r.p50us, r.p99us, r.maxus);
    std::fflush(stdout);
}

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

PhaseResult socatPhase(const Bytes& pattern, double seconds, bool& ran) {
    const std::string a = "/tmp/zanst-echo-a-" + std::to_string(getpid());
    const std::string b = "/tmp/zanst-echo-b-" + std::to_string(getpid());
    const std::string argA = "pty,raw,echo=0,link=" + a;
    const std::string argB = "pty,raw,echo=0,link=" + b;
    char* argv[] = {const_cast<char*>("socat"), const_cast<char*>(argA.c_str()),
                    const_cast<char*>(argB.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "socat", nullptr, nullptr, argv, environ) != 0) {
        ran = false;
        return {};
    }
    for (int i = 0; i < 100 && !(std::filesystem::exists(a) && std::filesystem::exists(b)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int fa = ::open(a.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int fb = ::open(b.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ran = fa >= 0 && fb >= 0;
    PhaseResult r;
    if (ran) {
        makeRaw(fa);
        makeRaw(fb);
        r = runPhase(fa, fb, pattern, seconds);
    }
    ::close(fa);
    ::close(fb);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return r;
}

PhaseResult toolPhase(const Bytes& pattern, double seconds, int& tablesBuilt) {
    zanst::test::Pty pty;
    zanst::app::EngineHost host;
    std::atomic<int> tables{0};
    QObject::connect(
        host.engine()->sniffer(), &zanst::app::SnifferFeature::snapshotTaken, host.engine(),
        [&](const zanst::tester::BankSnapshot&) { ++tables; }, Qt::DirectConnection);
    const QString path = QString::fromStdString(pty.slavePath());
    host.runBlocking([&] {
        host.engine()->selectPort(path);
        host.engine()->selectTab(zanst::bus::Tab::Sniffer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const PhaseResult r = runPhase(pty.masterFd(), pty.masterFd(), pattern, seconds);
    tablesBuilt = tables.load();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    bool withSocat = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--duration" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--no-socat") {
            withSocat = false;
        } else {
            std::fprintf(stderr, "usage: %s [--duration SECONDS] [--no-socat]\n", argv[0]);
            return 2;
        }
    }
    QCoreApplication app(argc, argv);

    // A BMS polling 160 balancers once per 6,700 bytes or so: bursts of 1,946 bytes plus quiet.
    std::mt19937 rng(5);
    Bytes pattern = zanst::bench::bmsInfoBurst(160, 16);
    for (int i = 0; i < 3; ++i) {
        const Bytes burst = zanst::bench::bmsMeasurementBurst(160, rng);
        pattern.insert(pattern.end(), burst.begin(), burst.end());
        pattern.insert(pattern.end(), 500, 0x00);
    }

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
