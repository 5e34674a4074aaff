#include "sim/pty_device.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace zanst::sim {

namespace {

std::string errorText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

PtyDevice::PtyDevice() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error(errorText("posix_openpt"));
    }
    if (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
        const std::string why = errorText("grantpt/unlockpt");
        ::close(fd_);
        throw std::runtime_error(why);
    }
    char name[128] = {};
    if (::ptsname_r(fd_, name, sizeof name) != 0) {
        const std::string why = errorText("ptsname");
        ::close(fd_);
        throw std::runtime_error(why);
    }
    path_ = name;
    // Raw bytes both ways: no echo, no line editing, no CR/LF translation. Set through the master,
    // the settings hold for whoever opens the device.
    termios t{};
    if (::tcgetattr(fd_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    // Open and close the device once: until somebody has, the master cannot tell that nobody holds it.
    const int slave = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        ::close(slave);
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

PtyDevice::~PtyDevice() {
    removeLink();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string PtyDevice::makeLink(const std::string& linkPath) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        return linkPath + " exists and is not a symbolic link; not replaced";
    }
    // A new link under a temporary name, renamed over the old one, so the path never dangles.
    const std::string temp = linkPath + ".zanst-sim-" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(path_.c_str(), temp.c_str()) != 0) {
        return errorText(("cannot create " + temp).c_str());
    }
    if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
        const std::string why = errorText(("cannot rename to " + linkPath).c_str());
        ::unlink(temp.c_str());
        return why;
    }
    link_ = linkPath;
    return {};
}

void PtyDevice::removeLink() {
    if (link_.empty()) {
        return;
    }
    char target[256] = {};
    const ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && path_ == std::string(target, static_cast<std::size_t>(n))) {
        ::unlink(link_.c_str());
    }
    link_.clear();
}

bool PtyDevice::peerPresent() const {
    pollfd p{fd_, 0, 0};
    if (::poll(&p, 1, 0) < 0) {
        return false;
    }
    return (p.revents & POLLHUP) == 0;
}

void PtyDevice::flush() const {
    ::tcflush(fd_, TCIOFLUSH);
}

} // namespace zanst::sim
