#include "adapter/cpu_contention.hpp"

#include <array>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace zanst::adapter {

std::optional<CpuTimes> parseCpuTimes(std::string_view text) {
    const std::string_view head = "cpu ";
    if (text.substr(0, head.size()) != head) {
        return std::nullopt;
    }
    std::size_t at = head.size();
    // user nice system idle iowait irq softirq steal: the states that add up to all the time.
    std::array<std::uint64_t, 8> v{};
    std::size_t got = 0;
    while (got < v.size()) {
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        if (at >= text.size() || text[at] == '\n') {
            break;
        }
        const auto [end, ec] = std::from_chars(text.data() + at, text.data() + text.size(), v[got]);
        if (ec != std::errc()) {
            return std::nullopt;
        }
        at = static_cast<std::size_t>(end - text.data());
        ++got;
    }
    if (got < 4) { // kernels before 2.6 stop after idle; fewer is not this line
        return std::nullopt;
    }
    CpuTimes t;
    t.idle = v[3] + v[4];
    for (std::size_t i = 0; i < got; ++i) {
        t.total += v[i];
    }
    return t;
}

std::optional<CpuTimes> readCpuTimes(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::array<char, 256> buf{}; // the first line is all that is read
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    ::close(fd);
    if (n <= 0) {
        return std::nullopt;
    }
    return parseCpuTimes(std::string_view(buf.data(), static_cast<std::size_t>(n)));
}

bool ContentionWatch::sample(CpuTimes now) {
    const std::optional<CpuTimes> last = last_;
    last_ = now;
    // The counters only grow; a smaller one (another file, a wrapped counter) starts over.
    if (!last || now.total <= last->total || now.idle < last->idle) {
        return contended_;
    }
    const double idleShare =
        static_cast<double>(now.idle - last->idle) / static_cast<double>(now.total - last->total);
    if (idleShare < kBusyBelowIdle) {
        contended_ = true;
        calmIntervals_ = 0;
    } else if (idleShare > kCalmAboveIdle) {
        if (contended_ && ++calmIntervals_ >= kCalmIntervals) {
            contended_ = false;
            calmIntervals_ = 0;
        }
    } else {
        calmIntervals_ = 0;
    }
    return contended_;
}

} // namespace zanst::adapter
