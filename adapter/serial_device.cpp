#include "adapter/serial_device.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zanst::adapter {

namespace fs = std::filesystem;

namespace {

std::string groupName(gid_t gid) {
    std::vector<char> buf(4096);
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &g, buf.data(), buf.size(), &found) != 0 || found == nullptr) {
        return {};
    }
    return g.gr_name;
}

// The user is in the group by the system's records, but this process did not get it at login.
bool joinedAfterLogin(gid_t gid) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    int count = 64;
    std::vector<gid_t> recorded(static_cast<std::size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, recorded.data(), &count) < 0) {
        recorded.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(pw.pw_name, pw.pw_gid, recorded.data(), &count) < 0) {
            return false;
        }
    }
    recorded.resize(static_cast<std::size_t>(count));
    bool member = false;
    for (gid_t g : recorded) {
        member = member || g == gid;
    }
    if (!member || ::getegid() == gid) {
        return false;
    }
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> session(static_cast<std::size_t>(std::max(n, 0)));
    if (n > 0 && ::getgroups(n, session.data()) < 0) {
        return false;
    }
    for (gid_t g : session) {
        if (g == gid) {
            return false;
        }
    }
    return true;
}

} // namespace

OpenOutcome SerialDevice::fail(OpenOutcome outcome) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    lock_.release();
    outcome.text = openErrorText(outcome.error);
    return outcome;
}

OpenOutcome SerialDevice::open(const std::string& path) {
    close();
    OpenOutcome r;
    r.error.path = path;
    path_ = path;
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    struct stat st {};
    if (ec || ::stat(resolved.c_str(), &st) != 0) {
        r.error.failure = OpenFailure::NotFound;
        r.error.errorNumber = ENOENT;
        return fail(r);
    }
    devicePath_ = resolved.string();

    if (!options_.lockDir.empty()) {
        switch (lock_.take(options_.lockDir, devicePath_)) {
        case LockFile::Outcome::Taken:
            break;
        case LockFile::Outcome::HeldByOther:
            r.error.failure = OpenFailure::Busy;
            r.error.lockPath = lock_.path();
            r.error.lockPid = lock_.pid();
            r.error.lockOwnerName = processName(lock_.pid(), options_.procRoot);
            return fail(r);
        case LockFile::Outcome::Unnamed:
            r.error.failure = OpenFailure::Busy;
            r.error.lockPath = lock_.path();
            return fail(r);
        case LockFile::Outcome::Unwritable:
            r.warnings.push_back(lockWarningText(lock_.path(), lock_.errorNumber()));
            break;
        }
    }

    fd_ = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        r.error.errorNumber = err;
        switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            r.error.failure = OpenFailure::NotFound;
            break;
        case EACCES:
        case EPERM:
            r.error.failure = OpenFailure::NoPermission;
            r.error.group = groupName(st.st_gid);
            r.error.groupMayOpen = (st.st_mode & S_IRGRP) != 0 && (st.st_mode & S_IWGRP) != 0;
            r.error.joinedAfterLogin = joinedAfterLogin(st.st_gid);
            break;
        case EBUSY:
            r.error.failure = OpenFailure::Busy;
            r.error.holders = processesHolding(devicePath_, options_.procRoot, ::getpid());
            break;
        default:
            r.error.failure = OpenFailure::Other;
            r.error.detail = std::strerror(err);
            break;
        }
        return fail(r);
    }
    if (::isatty(fd_) == 0) {
        r.error.failure = OpenFailure::NotASerialPort;
        return fail(r);
    }
    // A second reader would take bytes away from the echo and the receivers.
    if (auto holders = processesHolding(devicePath_, options_.procRoot, ::getpid()); !holders.empty()) {
        r.error.failure = OpenFailure::Busy;
        r.error.holders = std::move(holders);
        return fail(r);
    }
    if (options_.exclusive) {
        ::ioctl(fd_, TIOCEXCL);
    }
    if (const std::string why = configureLine(fd_, options_.baud); !why.empty()) {
        r.error.failure = OpenFailure::LineRefused;
        r.error.detail = why;
        return fail(r);
    }
    // A pseudo-terminal has no modem lines and refuses them; it is usable all the same.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    r.modemLinesSet = ::ioctl(fd_, TIOCMBIS, &lines) == 0;
    r.baud = readBaud(fd_);
    lastError_.clear();
    return r;
}

void SerialDevice::close() {
    if (fd_ >= 0) {
        if (options_.exclusive) {
            ::ioctl(fd_, TIOCNXCL);
        }
        ::close(fd_);
        fd_ = -1;
    }
    lock_.release();
}

bool SerialDevice::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        lastError_ = "the port is closed";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + options_.writeTimeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = std::string("write failed: ") + std::strerror(errno);
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            lastError_ = "write timed out: the port takes no more bytes";
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            lastError_ = std::string("write failed: ") + std::strerror(errno);
            return false;
        }
        if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p.revents & POLLOUT) == 0) {
            lastError_ = "write failed: the port hung up";
            return false;
        }
    }
    return true;
}

std::ptrdiff_t SerialDevice::read(std::span<std::uint8_t> buffer) {
    if (fd_ < 0) {
        lastError_ = "the port is closed";
        return -1;
    }
    if (buffer.empty()) {
        return 0;
    }
    while (true) {
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n > 0) {
            return n;
        }
        if (n == 0) {
            lastError_ = "the port hung up (adapter unplugged?)";
            return -1;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        lastError_ = std::string("read failed: ") + std::strerror(errno);
        return -1;
    }
}

} // namespace zanst::adapter
