#pragma once
// zanst-cli as a child process for the end-to-end tests: its standard output and error collected
// on threads of their own, its exit status, signals sent to it as a user's Ctrl+C would be.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace zanst::test {

struct CliResult {
    int code = -1; // the exit status; -1 when it did not exit normally (or was killed at the time-out)
    std::string out;
    std::string err;
};

class CliProcess {
  public:
    // Starts zanst-cli with `args`; `env` entries replace or add variables of this process's
    // environment, an empty value removes one.
    CliProcess(std::vector<std::string> args, const std::map<std::string, std::string>& env = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void signal(int sig);
    // Blocks until standard error holds `text`, or the time-out.
    bool waitForError(const std::string& text, std::chrono::milliseconds timeout);
    // Blocks until standard output holds `text`, or the time-out.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Waits for the exit; kills the program at the time-out (code -1 then).
    CliResult wait(std::chrono::milliseconds timeout);

  private:
    void readLoop(int fd, std::string& into);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::thread outReader_;
    std::thread errReader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string outText_;
    std::string errText_;
};

// Runs zanst-cli to its end.
CliResult runCli(std::vector<std::string> args, const std::map<std::string, std::string>& env = {},
                 std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

// A command's exit status and what it printed (stdout and stderr together).
int runShell(const std::string& command, std::string& output);

} // namespace zanst::test
