#include "adapter/low_latency.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zanst::adapter {

namespace {

std::optional<int> readTimer(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text, text + n, value);
    if (ec != std::errc{} || end == text) {
        return std::nullopt;
    }
    return value;
}

// Empty on success, else why not.
std::string writeTimer(const std::string& path, int ms) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    const std::string text = std::to_string(ms) + "\n";
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int err = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        return n < 0 ? std::strerror(err) : "short write";
    }
    return {};
}

} // namespace

std::string latencyRule(const std::string& driver) {
    return "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"" + driver +
           "\", ATTR{latency_timer}=\"1\"";
}

std::vector<std::string> latencyAdvice(const AdapterIdentity& id, int ms) {
    const std::string t = std::to_string(ms) + " ms";
    std::vector<std::string> out;
    out.push_back("Received bytes wait up to " + t +
                  " in the adapter before the tool sees them, so the ring "
                  "waits " +
                  t + " for every echo and a BMS may time out.");
    out.push_back("To set 1 ms until the adapter is unplugged, run: echo 1 | sudo tee " +
                  latencyAttributePath(id.ttyName));
    if (id.driver == "ftdi_sio") {
        out.push_back(std::string("To set it for good, install the udev rule ") + kLatencyRuleFile +
                      " (the package puts it in " + kLatencyRuleDir +
                      "; a copy in /etc/udev/rules.d works as well). It holds the line:");
    } else {
        out.push_back("To set it for good, put this line in /etc/udev/rules.d/" +
                      std::string(kLatencyRuleFile) + ":");
    }
    out.push_back(latencyRule(id.driver.empty() ? std::string("ftdi_sio") : id.driver));
    out.push_back("Then run: sudo udevadm control --reload-rules, and plug the adapter in again.");
    return out;
}

LowLatencyResult requestLowLatency(int fd, const AdapterIdentity& id) {
    LowLatencyResult r;
    if (!id.latencyPath.empty()) {
        r.timerBeforeMs = readTimer(id.latencyPath);
    }

    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
        r.flag = LowLatencyResult::Flag::Unsupported;
        r.flagErrno = errno;
    } else if ((ss.flags & ASYNC_LOW_LATENCY) != 0) {
        r.flag = LowLatencyResult::Flag::AlreadySet;
    } else {
        ss.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
            r.flag = LowLatencyResult::Flag::Refused;
            r.flagErrno = errno;
        } else {
            serial_struct back{};
            const bool read = ::ioctl(fd, TIOCGSERIAL, &back) == 0;
            r.flag = read && (back.flags & ASYNC_LOW_LATENCY) != 0 ? LowLatencyResult::Flag::Set
                                                                   : LowLatencyResult::Flag::Ignored;
        }
    }

    if (!id.latencyPath.empty()) {
        // The flag may already have brought the timer down (ftdi_sio does).
        const std::optional<int> now = readTimer(id.latencyPath);
        if (now && *now > 1) {
            if (id.latencyWritable) {
                r.timerError = writeTimer(id.latencyPath, 1);
                r.timerWritten = r.timerError.empty();
            } else {
                r.timerError = "the attribute is read-only for this user";
            }
        }
        r.timerAfterMs = readTimer(id.latencyPath);
    }

    switch (r.flag) {
    case LowLatencyResult::Flag::Set:
        r.lines.push_back("Low-latency mode switched on in the driver");
        break;
    case LowLatencyResult::Flag::AlreadySet:
        r.lines.push_back("Low-latency mode was already on in the driver");
        break;
    case LowLatencyResult::Flag::Ignored:
        r.lines.push_back("The driver accepted low-latency mode but does not keep it");
        break;
    case LowLatencyResult::Flag::Refused:
        r.lines.push_back(std::string("The driver refused low-latency mode: ") + std::strerror(r.flagErrno));
        break;
    case LowLatencyResult::Flag::Unsupported:
        r.lines.push_back("The driver has no low-latency mode");
        break;
    }
    if (r.timerAfterMs) {
        std::string text = latencyText(*r.timerAfterMs);
        if (!r.timerError.empty()) {
            text += " (1 ms could not be set: " + r.timerError + ")";
        }
        r.lines.push_back(text);
        if (r.slow()) {
            r.advice = latencyAdvice(id, *r.timerAfterMs);
        }
    } else if (!id.latencyPath.empty()) {
        r.lines.push_back("The latency timer " + id.latencyPath + " cannot be read");
    }
    return r;
}

} // namespace zanst::adapter
