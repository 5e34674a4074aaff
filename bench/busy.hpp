#pragma once
// CPU-bound processes beside a benchmark (--busy N), so that a figure is also taken on a loaded
// machine; and a neighbour that works in bursts (--neighbour MS), to tell what a window's
// repaints cost an echo from what any short burst of work on the machine costs it.

#include <sys/types.h>

#include <vector>

namespace zanst::bench {

// `n` processes that spin until stopBusy(); nothing for 0.
std::vector<pid_t> startBusy(int n);
void stopBusy(const std::vector<pid_t>& pids);

// One process at the lowest priority (SCHED_IDLE) that works in bursts of kNeighbourBurstMs,
// `msPerSecond` ms of a second in all, as a window does that repaints a chart and a table;
// nothing for 0. Stopped with stopBusy().
constexpr double kNeighbourBurstMs = 6;
constexpr const char* kNeighbourHelp =
    "a lowest-priority process beside it that works MS ms a second in 6 ms bursts (default 0)";
std::vector<pid_t> startNeighbour(double msPerSecond);

// What --busy and --neighbour ask for, in one list for stopBusy().
std::vector<pid_t> startLoad(int busy, double neighbourMsPerSecond);

} // namespace zanst::bench
