#include "busy.hpp"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

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

void stopBusy(const std::vector<pid_t>& pids) {
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

} // namespace zanst::bench
