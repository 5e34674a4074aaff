#pragma once
// What the zanst-cli benchmarks share: the program run as a child process, its CPU time read from
// /proc while it runs, CPU-bound neighbours for a busy machine, and medians of rounds.

#include "busy.hpp"
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zanst::bench {

// A child process with its standard output and error sent to files (or /dev/null when empty).
class Child {
  public:
    Child(const std::string& program, const std::vector<std::string>& args, const std::string& out = {},
          const std::string& err = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // User and system CPU seconds of the whole process (all threads) so far; -1 once it is gone.
    double cpuSeconds() const;
    void signal(int sig) const;
    // Its exit status; -1 when it did not exit normally or the time-out (seconds) passed (it is
    // killed then).
    int wait(double timeoutSeconds);

  private:
    pid_t pid_ = -1;
};

double median(std::vector<double> values);

// "[    12.345] ..." lines of zanst-sim: the seconds, or a negative number for any other line.
double simSeconds(const std::string& line);

// The load average over the last minute, for the figures' context.
double loadAverage();

} // namespace zanst::bench
