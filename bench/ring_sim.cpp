// A scripted bank on a serial device (for example one end of a socat pseudo-terminal pair), for
// trying the tool by hand:
//   ring_sim ring <device> [balancers] [cells per battery]  answers the battery tester's polls
//   ring_sim bms <device> [balancers] [cells per battery]   plays a BMS and its bank once a second
//                                                          for the data sniffer (echoes are drained)

#include "scripted_bus.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested = true;
}

void drainFor(int fd, std::chrono::milliseconds window) {
    const auto end = std::chrono::steady_clock::now() + window;
    std::uint8_t buffer[4096];
    while (std::chrono::steady_clock::now() < end && !stopRequested) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
            (void)::read(fd, buffer, sizeof buffer);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ring|bms <device> [balancers] [cells per battery]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int balancers = argc > 3 ? std::atoi(argv[3]) : 16;
    const int perBattery = argc > 4 ? std::atoi(argv[4]) : 4;
    const int fd = ::open(argv[2], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(argv[2]);
        return 1;
    }
    termios raw{};
    if (tcgetattr(fd, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    if (mode == "ring") {
        zanst::bench::BalancerRing ring(balancers, perBattery);
        zanst::bench::serveRing(fd, ring, stopRequested);
    } else {
        std::mt19937 rng(99);
        int tick = 0;
        while (!stopRequested) {
            const zanst::bus::Bytes burst = tick % 30 == 0
                                                ? zanst::bench::bmsInfoBurst(balancers, perBattery)
                                                : zanst::bench::bmsMeasurementBurst(balancers, rng);
            (void)::write(fd, burst.data(), burst.size());
            drainFor(fd, std::chrono::milliseconds(1000));
            ++tick;
        }
    }
    ::close(fd);
    return 0;
}
