#pragma once
// A thread that the ring waits for (the sniffer's echo, the BMS tester's answers): a little above
// the process's other threads, and real-time only while no processor is idle (see
// cpu_contention.hpp for why not always). Every call but the readers is made on that thread.

#include "adapter/cpu_contention.hpp"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace zanst::adapter {

// The highest the thread may go: real-time while every processor is busy, else its nice value.
enum class PriorityCeiling {
    RealTimeFifo,       // SCHED_FIFO
    RealTimeRoundRobin, // SCHED_RR
    RaisedNice,         // a lower nice value than the process's, never real-time
    Default,            // nothing more was permitted
};

class ThreadPriority {
  public:
    static constexpr int kRealTimePriority = 10;
    static constexpr int kNiceBelowProcess = 5;
    // How often the processors' idle time is looked at while work flows.
    static constexpr std::int64_t kLoadCheckNs = 200'000'000;

    explicit ThreadPriority(std::string procStat = "/proc/stat") : procStat_(std::move(procStat)) {}

    // Lowers the calling thread's nice value and tries once whether real-time is permitted, so
    // that a busy machine later costs no refused call. Once a thread, or again after restore().
    void raise();
    // The thread back to its policy and nice value before raise(); called on another thread, only
    // forgets (the raised one has ended, or must restore itself).
    void restore();
    bool raised() const { return raised_; }
    // While work flows: real-time or not, by the idle time since the last look. `nowNs` on the
    // steady clock.
    void watch(std::int64_t nowNs);

    PriorityCeiling ceiling() const { return ceiling_.load(std::memory_order_acquire); }
    bool realTimeNow() const { return realTimeNow_.load(std::memory_order_acquire); }
    std::uint64_t realTimeTurns() const { return realTimeTurns_.load(std::memory_order_relaxed); }
    // "echo thread at nice -5, real-time priority 10 (SCHED_FIFO) while no processor is idle"
    std::string text(std::string_view thread) const;

  private:
    void setRealTime(bool on);

    const std::string procStat_;
    bool raised_ = false;
    long thread_ = 0; // the raised thread's id
    int baseNice_ = 0;
    int nice_ = 0;
    int realTimePolicy_ = -1; // SCHED_FIFO or SCHED_RR where permitted
    int realTimePriority_ = 0;
    ContentionWatch load_;
    std::int64_t nextCheckNs_ = 0;
    std::atomic<PriorityCeiling> ceiling_{PriorityCeiling::Default};
    std::atomic<bool> realTimeNow_{false};
    std::atomic<std::uint64_t> realTimeTurns_{0};
};

} // namespace zanst::adapter
