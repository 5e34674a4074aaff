#include "adapter/port_access.hpp"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zanst::adapter {

namespace fs = std::filesystem;

namespace {

// The largest pid Linux hands out (pid_max cannot be set higher); text read as binary is larger.
constexpr std::int32_t kMaxPid = 1 << 22;

bool alive(int pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(64, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

} // namespace

std::string processName(int pid, const std::string& procRoot) {
    std::string name = readSmallFile(procRoot + "/" + std::to_string(pid) + "/comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) {
        name.pop_back();
    }
    return name;
}

std::vector<Holder> processesHolding(const std::string& devicePath, const std::string& procRoot,
                                     int exceptPid) {
    std::vector<Holder> out;
    std::error_code ec;
    for (fs::directory_iterator proc(procRoot, ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string name = proc->path().filename().string();
        int pid = 0;
        const auto [last, err] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (err != std::errc{} || last != name.data() + name.size() || pid == exceptPid) {
            continue;
        }
        std::error_code fdEc;
        for (fs::directory_iterator fd(proc->path() / "fd", fdEc), fdEnd; !fdEc && fd != fdEnd;
             fd.increment(fdEc)) {
            std::error_code linkEc;
            const fs::path target = fs::read_symlink(fd->path(), linkEc);
            if (!linkEc && target == devicePath) {
                out.push_back({pid, processName(pid, procRoot)});
                break;
            }
        }
    }
    return out;
}

std::string lockFilePath(const std::string& lockDir, const std::string& devicePath) {
    std::string name = devicePath;
    if (name.starts_with("/dev/")) {
        name.erase(0, 5);
    } else {
        name = fs::path(name).filename().string();
    }
    for (char& c : name) {
        c = c == '/' ? '_' : c;
    }
    return lockDir + "/LCK.." + name;
}

std::optional<int> lockFilePid(const std::string& contents) {
    std::size_t i = contents.find_first_not_of(" \t");
    if (i != std::string::npos && contents[i] >= '0' && contents[i] <= '9') {
        int pid = 0;
        const auto [end, ec] = std::from_chars(contents.data() + i, contents.data() + contents.size(), pid);
        if (ec == std::errc{} && pid > 0) {
            return pid;
        }
    }
    if (contents.size() == 4) { // the old binary form: the pid as the machine's int
        std::int32_t pid = 0;
        std::memcpy(&pid, contents.data(), sizeof pid);
        if (pid > 0 && pid <= kMaxPid) {
            return pid;
        }
    }
    return std::nullopt;
}

LockFile::Outcome LockFile::take(const std::string& lockDir, const std::string& devicePath) {
    release();
    path_ = lockFilePath(lockDir, devicePath);
    pid_ = 0;
    errno_ = 0;
    // Twice at most: the second time after a stale lock was removed.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
            const bool written = ::write(fd, text, static_cast<std::size_t>(n)) == n;
            errno_ = written ? 0 : errno;
            ::close(fd);
            if (!written) {
                ::unlink(path_.c_str());
                return Outcome::Unwritable;
            }
            held_ = true;
            return Outcome::Taken;
        }
        if (errno != EEXIST) {
            errno_ = errno;
            return Outcome::Unwritable;
        }
        const std::optional<int> owner = lockFilePid(readSmallFile(path_));
        if (!owner) {
            return Outcome::Unnamed;
        }
        if (alive(*owner)) {
            pid_ = *owner;
            return Outcome::HeldByOther;
        }
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
            errno_ = errno;
            return Outcome::Unwritable;
        }
    }
    errno_ = EEXIST;
    return Outcome::Unwritable;
}

void LockFile::release() {
    if (!held_) {
        return;
    }
    held_ = false;
    if (lockFilePid(readSmallFile(path_)) == static_cast<int>(::getpid())) {
        ::unlink(path_.c_str());
    }
}

} // namespace zanst::adapter
