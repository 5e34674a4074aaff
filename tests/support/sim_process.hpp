#pragma once
// zanst-sim as a child process for tests: started with --exit-with-parent, its standard output
// collected line by line on a thread of its own so that the simulator never waits on a full pipe
// while the test is busy elsewhere.

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace zanst::test {

// A temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A file's bytes as they are; empty when it cannot be read.
std::string readFile(const std::string& path);

class SimProcess {
  public:
    // Starts `program` with `args` and --exit-with-parent. Start it from the test's main thread:
    // the simulator stops when the thread that started it ends.
    SimProcess(const std::string& program, std::vector<std::string> args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Blocks until a line not returned before contains `text`; returns it, or nothing on time-out.
    // Lines are taken in order: a later call finds only lines after the one returned.
    std::optional<std::string>
    waitForLine(const std::string& text, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Every line so far.
    std::vector<std::string> lines() const;
    // Lines so far that contain `text`.
    std::vector<std::string> linesWith(const std::string& text) const;
    bool anyLine(const std::string& text) const { return !linesWith(text).empty(); }
    // All output as one text, for failure messages.
    std::string transcript() const;

    // Sends the signal, waits for the exit and for the last line; returns the exit status, or -1
    // when the program did not exit normally.
    int stop(int sig = SIGTERM);
    // Waits for the program to exit by itself.
    int waitExit();
    bool running() const { return pid_ > 0; }

  private:
    void readLoop();
    int reap(int sig);

    pid_t pid_ = -1;
    int out_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t seen_ = 0;
    bool closed_ = false;
};

} // namespace zanst::test
