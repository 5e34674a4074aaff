#include "busy.hpp"

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

namespace zanst::bench {

std::vector<pid_t> startBusy(int n) {
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            volatile unsigned long x = 0;
            for (;;) {
                x = x + 1;
            }
        }
        if (pid > 0) {
            pids.push_back(pid);
        }
    }
    return pids;
}

std::vector<pid_t> startNeighbour(double msPerSecond) {
    if (msPerSecond <= 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        sched_param lowest{};
        sched_setscheduler(0, SCHED_IDLE, &lowest);
        using Clock = std::chrono::steady_clock;
        const auto burst = std::chrono::duration<double, std::milli>(kNeighbourBurstMs);
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(
                kNeighbourBurstMs * 1000.0 / std::min(msPerSecond, 1000.0)));
        volatile double x = 1;
        for (auto start = Clock::now();; start += period) {
            while (Clock::now() - start < burst) {
                x = x * 1.0000001 + 1e-9;
            }
            std::this_thread::sleep_until(start + period);
        }
    }
    return pid > 0 ? std::vector<pid_t>{pid} : std::vector<pid_t>{};
}

std::vector<pid_t> startLoad(int busy, double neighbourMsPerSecond) {
    std::vector<pid_t> pids = startBusy(busy);
    const std::vector<pid_t> neighbour = startNeighbour(neighbourMsPerSecond);
    pids.insert(pids.end(), neighbour.begin(), neighbour.end());
    return pids;
}

void stopBusy(const std::vector<pid_t>& pids) {
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

} // namespace zanst::bench
