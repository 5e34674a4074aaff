#include "support/sim_process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace zanst::test {

TempDir::TempDir() {
    char pattern[] = "/tmp/zanst-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

SimProcess::SimProcess(const std::string& program, std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    // Everything the child needs is prepared here: after the fork of a threaded process only
    // the spawn itself runs in the child.
    args.insert(args.begin(), program);
    args.push_back("--exit-with-parent");
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
    out_ = out[0];
    reader_ = std::thread([this] { readLoop(); });
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        reap(SIGKILL);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    ::close(out_);
}

void SimProcess::readLoop() {
    char buf[4096];
    while (true) {
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        std::lock_guard lock(mutex_);
        if (n <= 0) {
            closed_ = true;
            break;
        }
        partial_.append(buf, static_cast<std::size_t>(n));
        for (auto nl = partial_.find('\n'); nl != std::string::npos; nl = partial_.find('\n')) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
        arrived_.notify_all();
    }
    arrived_.notify_all();
}

std::optional<std::string> SimProcess::waitForLine(const std::string& text,
                                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    while (true) {
        for (; seen_ < lines_.size(); ++seen_) {
            if (lines_[seen_].find(text) != std::string::npos) {
                return lines_[seen_++];
            }
        }
        if (closed_ || arrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (; seen_ < lines_.size(); ++seen_) {
                if (lines_[seen_].find(text) != std::string::npos) {
                    return lines_[seen_++];
                }
            }
            return std::nullopt;
        }
    }
}

std::vector<std::string> SimProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> SimProcess::linesWith(const std::string& text) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& l : lines_) {
        if (l.find(text) != std::string::npos) {
            out.push_back(l);
        }
    }
    return out;
}

std::string SimProcess::transcript() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& l : lines_) {
        out += l;
        out += '\n';
    }
    return out;
}

int SimProcess::reap(int sig) {
    ::kill(pid_, sig);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int SimProcess::stop(int sig) {
    if (pid_ <= 0) {
        return -1;
    }
    const int status = reap(sig);
    if (reader_.joinable()) {
        reader_.join(); // the pipe has closed: every line is in
    }
    return status;
}

int SimProcess::waitExit() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (reader_.joinable()) {
        reader_.join();
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace zanst::test
