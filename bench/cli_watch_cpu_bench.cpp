// CPU of `zanst-cli watch` while it polls a bank of 160 balancers once a second: the program as
// a child process, its port a pseudo-terminal whose far end is a scripted ring of balancers, its
// CPU time (all threads) read from /proc over S seconds after the enumeration. The whole window
// doing the same (poll_cpu_bench) runs in the same rounds for comparison.
//
//   cli_watch_cpu_bench [--seconds S] [--rounds R] [--busy N] [--no-window]

#include "bench_options.hpp"
#include "cli_bench.hpp"
#include "scripted_bus.hpp"
#include "support/pty.hpp"
#include "support/sim_process.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

namespace {

using namespace zanst::bench;
using namespace std::chrono_literals;

constexpr int kBalancers = 160;
constexpr auto kSettle = 6s; // port, mode step, enumeration, first polls

struct CliRound {
    double cpuPercent = -1;
    std::size_t ticks = 0;
    bool lastShowsAll = false;
};

CliRound cliRound(int seconds) {
    CliRound round;
    zanst::test::Pty pty;
    pty.closeSlave(); // the tool refuses a port another process holds open (the ring's child would)
    zanst::test::TempDir dir;
    const pid_t ring = startRingProcess(pty.masterFd(), kBalancers, false);
    {
        Child cli(ZANST_CLI_PATH, {"watch", "--port", pty.slavePath()}, dir / "watch.out", dir / "watch.err");
        std::this_thread::sleep_for(kSettle);
        const std::size_t linesBefore = zanst::test::readFile(dir / "watch.out").size();
        const double before = cli.cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double used = cli.cpuSeconds() - before;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        round.cpuPercent = used < 0 ? -1 : 100.0 * used / elapsed;
        cli.signal(SIGINT);
        cli.wait(10);
        const std::string out = zanst::test::readFile(dir / "watch.out");
        for (std::size_t at = linesBefore; at < out.size(); ++at) {
            round.ticks += out[at] == '\n' ? 1 : 0;
        }
        const std::size_t last = out.rfind('\n', out.size() >= 2 ? out.size() - 2 : 0);
        round.lastShowsAll = out.find(" 160 balancers, 160 measured", last == std::string::npos ? 0 : last) !=
                             std::string::npos;
    }
    ::kill(ring, SIGTERM);
    ::waitpid(ring, nullptr, 0);
    return round;
}

// poll_cpu_bench's own figure: "tool CPU: 0.123 s = 0.41 % of one core".
double windowRound(int seconds) {
    zanst::test::TempDir dir;
    Child window(ZANST_POLL_CPU_BENCH, {"--seconds", std::to_string(seconds)}, dir / "window.out");
    window.wait(seconds + 60.0);
    std::smatch m;
    const std::string out = zanst::test::readFile(dir / "window.out");
    if (std::regex_search(out, m, std::regex(R"(= ([0-9.]+) % of one core)"))) {
        return std::stod(m[1]);
    }
    std::fprintf(stderr, "poll_cpu_bench gave no figure:\n%s", out.c_str());
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    int rounds = 3;
    int busy = 0;
    bool noWindow = false;
    const OptionTable options{
        "CPU of zanst-cli watch polling 160 balancers once a second, beside the whole window doing the same.",
        {{"--seconds", "S", "whole seconds measured after the enumeration (default 30)", &seconds, 1.0},
         {"--rounds", "R", "rounds of each (default 3)", &rounds, 1.0},
         {"--busy", "N", "CPU-bound processes beside it for the whole run (default 0)", &busy, 0.0},
         {"--no-window", "", "leave out the window's rounds", &noWindow}}};
    if (const auto exit = parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    std::printf(
        "%d balancers polled once a second, %d s a round, %d CPU-bound processes beside it, load average "
        "%.1f\n",
        kBalancers, seconds, busy, loadAverage());
    const std::vector<pid_t> hogs = startBusy(busy);
    std::vector<double> cli;
    std::vector<double> window;
    bool ok = true;
    for (int r = 0; r < rounds; ++r) {
        const CliRound c = cliRound(seconds);
        std::printf(
            "round %d zanst-cli watch: %.2f %% of one core, %zu lines, the last with all %d balancers: %s\n",
            r + 1, c.cpuPercent, c.ticks, kBalancers, c.lastShowsAll ? "yes" : "NO");
        ok = ok && c.cpuPercent >= 0 && c.lastShowsAll;
        cli.push_back(c.cpuPercent);
        if (!noWindow) {
            const double w = windowRound(seconds);
            std::printf("round %d window:          %.2f %% of one core\n", r + 1, w);
            window.push_back(w);
        }
        std::fflush(stdout);
    }
    stopBusy(hogs);
    std::printf("median of %d rounds: zanst-cli watch %.2f %% of one core", rounds, median(cli));
    if (!noWindow) {
        std::printf(", the window %.2f %%", median(window));
    }
    std::printf("; load average at the end %.1f\n", loadAverage());
    return ok ? 0 : 1;
}
