// Only here: <asm/termbits.h> defines struct termios2 and clashes with <termios.h>.
#include "adapter/line.hpp"

#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>

namespace zanst::adapter {

namespace {

// Beyond this the receiver samples bits wrongly often enough to garble bytes.
constexpr double kTolerablePercent = 2.0;

} // namespace

std::string configureLine(int fd, std::uint32_t baud) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return std::string("cannot read the line settings: ") + std::strerror(errno);
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::ioctl(fd, TCSETS2, &t) != 0) {
        return std::string("the driver refused the line settings: ") + std::strerror(errno);
    }
    return {};
}

BaudReadback readBaud(int fd) {
    BaudReadback r;
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        r.error = std::string("the driver does not tell its rate: ") + std::strerror(errno);
        return r;
    }
    r.ok = true;
    r.outputBaud = t.c_ospeed;
    r.inputBaud = t.c_ispeed;
    return r;
}

double baudErrorPercent(std::uint32_t requested, std::uint32_t actual) {
    if (requested == 0) {
        return 0.0;
    }
    return (static_cast<double>(actual) - static_cast<double>(requested)) * 100.0 /
           static_cast<double>(requested);
}

std::string baudText(std::uint32_t requested, const BaudReadback& readback) {
    if (!readback.ok) {
        return "Line rate unknown: " + readback.error;
    }
    const auto describe = [requested](std::uint32_t actual) {
        char text[128];
        std::snprintf(text, sizeof text, "the real rate %u baud, error %+.2f %%", actual,
                      baudErrorPercent(requested, actual));
        return std::string(text);
    };
    std::string out;
    if (readback.outputBaud == requested) {
        out = std::to_string(requested) + " baud exact";
    } else {
        out = describe(readback.outputBaud);
    }
    if (readback.inputBaud != 0 && readback.inputBaud != readback.outputBaud) {
        out += "; receiving at " + std::to_string(readback.inputBaud) + " baud";
    }
    const double worst =
        std::max(std::fabs(baudErrorPercent(requested, readback.outputBaud)),
                 readback.inputBaud == 0 ? 0.0 : std::fabs(baudErrorPercent(requested, readback.inputBaud)));
    if (worst > kTolerablePercent) {
        out += ": more than 2 % off, the bus will see garbled bytes";
    }
    return out;
}

} // namespace zanst::adapter
