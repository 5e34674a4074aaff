// Polls zanst-sim like the tool in "Battery tester" mode and measures what matters for it:
// the simulator's CPU use while playing a full bank at one poll a second, and the gap between
// the last byte of a request and the first byte of the answer.
//
//   sim_latency [--seconds S] [--fast-polls N] [--batteries N] [--sim PATH] [--baseline 1]
//
// With --baseline 1 a do-nothing responder takes the simulator's place: it answers each request
// with as many zero bytes as the simulator would, so the figures show what the pseudo-terminal
// and the machine's scheduling cost by themselves.

#include "bench_options.hpp"
#include "bus/protocol.hpp"
#include "support/records.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using zanst::bus::Bytes;
namespace test = zanst::test;
using Clock = std::chrono::steady_clock;

struct Args {
    std::string sim = ZANST_SIM_PATH;
    int seconds = 30;
    int fastPolls = 2000;
    int batteries = 10;
    bool baseline = false;
};

// Answers by byte count alone: an info request (32 bytes) and measurement polls.
[[noreturn]] void baselineResponder(const std::string& link, std::size_t infoAnswer, std::size_t pollSize,
                                    std::size_t pollAnswer) {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(fd);
    ::unlockpt(fd);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    if (::symlink(::ptsname(fd), link.c_str()) != 0) {
        ::_exit(1);
    }
    std::vector<std::uint8_t> buf(8192);
    const std::vector<std::uint8_t> info(infoAnswer, 0);
    const std::vector<std::uint8_t> answer(pollAnswer, 0);
    std::size_t have = 0;
    bool enumerated = false;
    while (true) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n <= 0) {
            ::usleep(1000);
            continue;
        }
        have += static_cast<std::size_t>(n);
        if (!enumerated && have >= 32) {
            have -= 32;
            enumerated = true;
            if (::write(fd, info.data(), info.size()) < 0) {
                ::_exit(1);
            }
        }
        if (enumerated && have >= pollSize) {
            have -= pollSize;
            if (::write(fd, answer.data(), answer.size()) < 0) {
                ::_exit(1);
            }
        }
    }
}

// CPU time of a process in nanoseconds, from the scheduler's own accounting.
long long cpuNs(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = 0;
    f >> ns;
    return ns;
}

int readFull(int fd, std::size_t count, int timeoutMs, Clock::time_point* first) {
    std::size_t got = 0;
    std::vector<std::uint8_t> buf(8192);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        if (got == 0 && first != nullptr) {
            *first = Clock::now();
        }
        const ssize_t n = ::read(fd, buf.data(), std::min(buf.size(), count - got));
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        }
    }
    return static_cast<int>(got);
}

Bytes infoPoll() {
    Bytes payload(16, 0);
    payload[0] = 0xA3;
    payload[1] = 0xE4;
    return test::concat({Bytes(10, 0), test::frame(0x01, payload, 0)});
}

Bytes measurementPoll(int cells) {
    Bytes payload(20, 0);
    payload[0] = 0x48; // 3400 mV
    payload[1] = 0x0D;
    Bytes out = test::concat({Bytes(10, 0), test::frame(0x02, payload, 2)});
    for (int i = 1; i <= cells; ++i) {
        const Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < cells ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

struct Stats {
    std::vector<double> us;
    int lost = 0;
    void print(const char* name) {
        std::sort(us.begin(), us.end());
        const auto at = [&](double q) {
            return us.empty() ? 0.0
                              : us[std::min(us.size() - 1,
                                            static_cast<std::size_t>(q * static_cast<double>(us.size())))];
        };
        std::printf("%-28s polls=%zu lost=%d  p50=%.1f us  p99=%.1f us  max=%.1f us\n", name, us.size(), lost,
                    at(0.5), at(0.99), us.empty() ? 0.0 : us.back());
    }
};

} // namespace

int main(int argc, char** argv) {
    Args a;
    int baseline = 0;
    const zanst::bench::OptionTable options{
        "Polls zanst-sim as the battery tester does: its CPU at one poll a second, request-to-answer gap.",
        {{"--seconds", "S", "whole seconds of polls one a second (default 30)", &a.seconds, 0.0},
         {"--fast-polls", "N", "back-to-back polls after them (default 2000)", &a.fastPolls, 0.0},
         {"--batteries", "N", "batteries of 16 cells in the bank (default 10)", &a.batteries, 1.0},
         {"--sim", "PATH", "the simulator to run (default the one built beside it)", &a.sim},
         {"--baseline", "0|1", "1: a do-nothing responder in the simulator's place (default 0)", &baseline,
          0.0, 1.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    a.baseline = baseline != 0;
    const int cells = 16 * a.batteries;
    char dir[] = "/tmp/zanst-sim-bench-XXXXXX";
    const std::string link = std::string(::mkdtemp(dir)) + "/bank";
    const std::string batteries = std::to_string(a.batteries);

    const std::size_t pollBytes = 10 + 26 + static_cast<std::size_t>(cells) * 12;
    const pid_t pid = ::fork();
    if (pid == 0 && a.baseline) {
        baselineResponder(link, 22 + static_cast<std::size_t>(cells) * 32, pollBytes,
                          26 + static_cast<std::size_t>(cells) * 12);
    }
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDOUT_FILENO);
        ::execl(a.sim.c_str(), a.sim.c_str(), "bank", "--preset", "0xA612", "--batteries", batteries.c_str(),
                "--quiet", "--link", link.c_str(), "--exit-with-parent", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int fd = -1;
    for (int i = 0; i < 200 && fd < 0; ++i) {
        fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (fd < 0) {
        std::fprintf(stderr, "sim_latency: %s did not come up\n", a.sim.c_str());
        return 1;
    }
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the simulator see the port open

    const Bytes info = infoPoll();
    if (::write(fd, info.data(), info.size()) != static_cast<ssize_t>(info.size()) ||
        readFull(fd, 22 + static_cast<std::size_t>(cells) * 32, 2000, nullptr) != 22 + cells * 32) {
        std::fprintf(stderr, "sim_latency: no info answer for %d balancers\n", cells);
        ::kill(pid, SIGTERM);
        return 1;
    }
    const Bytes poll = measurementPoll(cells);
    const std::size_t answer = 26 + static_cast<std::size_t>(cells) * 12;

    const auto pollOnce = [&](Stats& s) {
        if (::write(fd, poll.data(), poll.size()) != static_cast<ssize_t>(poll.size())) {
            ++s.lost;
            return;
        }
        const auto sent = Clock::now();
        Clock::time_point first{};
        if (readFull(fd, answer, 1000, &first) != static_cast<int>(answer)) {
            ++s.lost;
            return;
        }
        s.us.push_back(std::chrono::duration<double, std::micro>(first - sent).count());
    };

    std::printf("%s: %d balancers (0xA612 x %d), request %zu bytes, answer %zu bytes\n",
                a.baseline ? "baseline responder (no processing)" : "zanst-sim bank", cells, a.batteries,
                poll.size(), answer);
    // One poll a second, as the tool does; CPU time of the simulator over the whole span.
    Stats slow;
    const long long cpu0 = cpuNs(pid);
    const auto wall0 = Clock::now();
    for (int i = 0; i < a.seconds; ++i) {
        const auto next = wall0 + std::chrono::seconds(i + 1);
        pollOnce(slow);
        std::this_thread::sleep_until(next);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = static_cast<double>(cpuNs(pid) - cpu0) / 1e9;
    std::printf("CPU at 1 poll/s over %.1f s: %.4f s = %.3f %% of one core\n", wall, cpu, 100.0 * cpu / wall);
    slow.print("gap at 1 poll/s:");

    Stats fast;
    for (int i = 0; i < a.fastPolls; ++i) {
        pollOnce(fast);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    fast.print("gap, back-to-back polls:");

    ::close(fd);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::unlink(link.c_str()); // the baseline responder leaves its link
    ::rmdir(std::string(dir).c_str());
    return 0;
}
