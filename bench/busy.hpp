#pragma once
// CPU-bound processes beside a benchmark (--busy N), so that a figure is also taken on a loaded
// machine.

#include <sys/types.h>

#include <vector>

namespace zanst::bench {

// `n` processes that spin until stopBusy(); nothing for 0.
std::vector<pid_t> startBusy(int n);
void stopBusy(const std::vector<pid_t>& pids);

} // namespace zanst::bench
