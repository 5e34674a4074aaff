#pragma once
// Whether the machine has a processor to spare, from the idle share of all processors' time.
//
// The echo thread runs real-time only while it has none. Measured through a pseudo-terminal at
// the line rate: on a machine with idle processors a real-time echo thread answers each byte
// about 35 us later than one at normal priority, because, woken at once, it preempts the kernel
// worker that is still handing it the bytes; with every processor taken by other processes, a
// thread at normal priority waits behind them for milliseconds, and only real-time keeps the echo
// within a few.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zanst::adapter {

struct CpuTimes {
    std::uint64_t idle = 0;  // idle and waiting for I/O, in clock ticks since boot
    std::uint64_t total = 0; // every state but guest time (already counted as user time)
};

// The first line of /proc/stat ("cpu  user nice system idle iowait irq softirq steal ..."). Empty
// when it is not that line or its counters are not numbers.
std::optional<CpuTimes> parseCpuTimes(std::string_view procStat);
std::optional<CpuTimes> readCpuTimes(const char* path = "/proc/stat");

class ContentionWatch {
  public:
    // Contended as soon as one interval had less idle time than this share, calm again only after
    // kCalmIntervals in a row with more than kCalmAboveIdle: a load that comes and goes keeps the
    // echo real-time rather than switching it back and forth.
    static constexpr double kBusyBelowIdle = 0.10;
    static constexpr double kCalmAboveIdle = 0.25;
    static constexpr int kCalmIntervals = 2;

    // A new sample; the first only sets the start. Returns whether the processors are contended.
    bool sample(CpuTimes now);
    // Forgets the last sample (after a long pause) but keeps the verdict.
    void restart() { last_.reset(); }

  private:
    std::optional<CpuTimes> last_;
    bool contended_ = false;
    int calmIntervals_ = 0;
};

} // namespace zanst::adapter
