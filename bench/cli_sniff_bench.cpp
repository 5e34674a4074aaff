// Echo delay of `zanst-cli sniff` per byte at the full line rate of 25,000 bytes/s, beside socat
// relaying between two pseudo-terminals, in alternating rounds of the same run. The stream is a
// BMS polling 160 balancers, so the sniffer also decodes every burst and prints what changed
// (to a file, as a sniffer left in a ring does). Every round checks that every byte came back
// exactly once and in order, and reads the program's CPU time from /proc.
//
//   cli_sniff_bench [--seconds S] [--rounds R] [--busy N]

#include "bench_options.hpp"
#include "cli_bench.hpp"
#include "echo_phase.hpp"
#include "support/pty.hpp"
#include "support/sim_process.hpp"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using namespace zanst::bench;
using namespace std::chrono_literals;

// The sniffer repeats once its mode is selected: a probe byte now and then until one comes back,
// then whatever is still on its way is read away.
bool waitForEcho(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    const std::uint8_t probe = 0x00;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::write(fd, &probe, 1) != 1) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready > 0 && (p.revents & POLLIN) == 0) {
            std::this_thread::sleep_for(100ms); // a hang-up: nobody has opened the port yet
            continue;
        }
        if (ready > 0) {
            std::uint8_t drain[256];
            std::this_thread::sleep_for(200ms);
            while (::read(fd, drain, sizeof drain) > 0) {
            }
            return true;
        }
    }
    return false;
}

struct CliRound {
    PhaseResult echo;
    double cpuPerSecondMs = 0;
    bool ok = false;
};

CliRound cliPhase(const zanst::bus::Bytes& pattern, double seconds) {
    CliRound round;
    zanst::test::Pty pty;
    pty.closeSlave(); // the tool refuses a port another process holds open
    zanst::test::TempDir dir;
    makeRaw(pty.masterFd());
    Child cli(ZANST_CLI_PATH, {"sniff", "--port", pty.slavePath()}, dir / "sniff.out", dir / "sniff.err");
    if (!cli.started() || !waitForEcho(pty.masterFd())) {
        std::fprintf(stderr, "zanst-cli sniff did not repeat: %s\n",
                     zanst::test::readFile(dir / "sniff.err").c_str());
        return round;
    }
    const double cpuBefore = cli.cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    round.echo = runPhase(pty.masterFd(), pty.masterFd(), pattern, seconds);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    round.cpuPerSecondMs = 1000.0 * (cli.cpuSeconds() - cpuBefore) / elapsed;
    cli.signal(SIGINT);
    round.ok = cli.wait(10) == 0;
    return round;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    int rounds = 3;
    int busy = 0;
    double neighbour = 0;
    const OptionTable options{
        "zanst-cli sniff's echo delay per byte at 25,000 bytes/s beside socat, in alternating rounds.",
        {{"--seconds", "S", "seconds of each round (default 10)", &seconds, 1.0},
         {"--rounds", "R", "rounds of each (default 3)", &rounds, 1.0},
         {"--busy", "N", "CPU-bound processes beside it for the whole run (default 0)", &busy, 0.0},
         {"--neighbour", "MS", kNeighbourHelp, &neighbour, 0.0}}};
    if (const auto exit = parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    const zanst::bus::Bytes pattern = snifferPattern();
    std::printf(
        "per-byte echo at %.0f bytes/s, %.0f s a round, pattern of %zu bytes, %d CPU-bound processes beside "
        "it, a neighbour working %.0f ms a second in bursts, load average %.1f\n",
        kBytesPerSecond, seconds, pattern.size(), busy, neighbour, loadAverage());
    const std::vector<pid_t> hogs = startLoad(busy, neighbour);
    std::vector<double> cliP99;
    std::vector<double> socatP99;
    std::vector<double> cliCpu;
    bool lossless = true;
    for (int r = 0; r < rounds; ++r) {
        bool ran = false;
        const PhaseResult relay = socatPhase(pattern, seconds, ran);
        if (ran) {
            print("socat relay (2 ptys)", relay);
            socatP99.push_back(relay.p99us);
        }
        const CliRound cli = cliPhase(pattern, seconds);
        print("zanst-cli sniff (1 pty)", cli.echo);
        std::printf("%-28s CPU %.1f ms a second, ended %s\n", "", cli.cpuPerSecondMs,
                    cli.ok ? "cleanly on Ctrl+C" : "BADLY");
        cliP99.push_back(cli.echo.p99us);
        cliCpu.push_back(cli.cpuPerSecondMs);
        lossless = lossless && cli.ok && cli.echo.sent > 0 && cli.echo.received == cli.echo.sent &&
                   cli.echo.mismatches == 0;
        std::fflush(stdout);
    }
    stopBusy(hogs);
    const double cli = median(cliP99);
    const double socat = median(socatP99);
    std::printf("echo p99, median of %d rounds: zanst-cli %.1f us, socat %.1f us, ratio %.2f; zanst-cli CPU "
                "%.1f ms/s; "
                "%s; load average at the end %.1f\n",
                rounds, cli, socat, socat > 0 ? cli / socat : 0.0, median(cliCpu),
                lossless ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED",
                loadAverage());
    return lossless ? 0 : 1;
}
