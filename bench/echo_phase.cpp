#include "echo_phase.hpp"

#include "scripted_bus.hpp"
#include "support/pty.hpp"

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
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zanst::bench {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}

PhaseResult runPhase(int writeFd, int readFd, const bus::Bytes& pattern, double seconds) {
    const auto total = static_cast<std::size_t>(seconds * kBytesPerSecond);
    std::vector<std::int64_t> sentAt(total, 0);
    std::vector<std::int64_t> gotAt;
    gotAt.reserve(total);
    bus::Bytes got;
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

PhaseResult socatPhase(const bus::Bytes& pattern, double seconds, bool& ran) {
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

PhaseResult echoLoopPhase(const bus::Bytes& pattern, double seconds) {
    test::Pty pty;
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

bus::Bytes snifferPattern() {
    // A BMS polling 160 balancers once per 6,700 bytes or so: bursts of 1,946 bytes plus quiet.
    std::mt19937 rng(5);
    bus::Bytes pattern = bmsInfoBurst(160, 16);
    for (int i = 0; i < 3; ++i) {
        const bus::Bytes burst = bmsMeasurementBurst(160, rng);
        pattern.insert(pattern.end(), burst.begin(), burst.end());
        pattern.insert(pattern.end(), 500, 0x00);
    }
    return pattern;
}

} // namespace zanst::bench
