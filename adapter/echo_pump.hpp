#pragma once
// The echo of "Data Sniffer" on a thread of its own: it waits on the port, writes every chunk it
// reads straight back, and only then hands the bytes, stamped with the time of the read, to the
// consumer through a lock-free queue and an eventfd wake-up. The echo never waits for the
// consumer: when the queue is full the bytes still go back out and are counted as lost for it.

#include "adapter/spsc_queue.hpp"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>

namespace zanst::adapter {

struct EchoChunk {
    static constexpr std::size_t kBytes = 256;
    std::int64_t readNs = 0;      // std::chrono::steady_clock at the read, in ns since its epoch
    std::uint32_t lostBefore = 0; // bytes dropped for the consumer between this chunk and the last
    std::uint16_t size = 0;
    std::array<std::uint8_t, kBytes> bytes{};
};

struct EchoStats {
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesEchoed = 0;
    std::uint64_t bytesQueued = 0;
    std::uint64_t bytesLost = 0; // read and echoed, but the queue was full
};

enum class PumpPriority {
    RealTimeFifo,       // SCHED_FIFO
    RealTimeRoundRobin, // SCHED_RR
    RaisedNice,         // a lower nice value than the process's
    Default,            // nothing more was permitted
};

class EchoPump {
  public:
    static constexpr std::size_t kDefaultQueueChunks = 4096; // 1 MiB: 40 s of a full 250000-baud line
    static constexpr int kRealTimePriority = 10;

    struct Options {
        std::size_t queueChunks = kDefaultQueueChunks;
        bool raisePriority = true;
    };

    // Pumps `fd`, which stays the caller's; it must be non-blocking.
    explicit EchoPump(int fd) : EchoPump(fd, Options{}) {}
    EchoPump(int fd, Options options);
    ~EchoPump();
    EchoPump(const EchoPump&) = delete;
    EchoPump& operator=(const EchoPump&) = delete;

    // Starts the thread. False, with the reason, when the wake-ups or the thread cannot be made.
    bool start(std::string* error = nullptr);
    // Stops and joins the thread; chunks still queued stay for drain().
    void stop();
    bool running() const { return thread_.joinable() && !ended_.load(std::memory_order_acquire); }

    // Readable while chunks wait, and once when the pump ended by itself (see failure()).
    int wakeFd() const { return wakeFd_; }

    // Consumer: clears the wake-up, then hands every waiting chunk to
    // take(std::span<const std::uint8_t> bytes, std::int64_t readNs, std::uint32_t lostBefore), in
    // order. Returns the bytes handed on.
    template <typename Take> std::size_t drain(Take&& take) {
        acknowledgeWake();
        std::size_t total = 0;
        EchoChunk chunk;
        while (queue_.pop(chunk)) {
            take(std::span<const std::uint8_t>(chunk.bytes.data(), chunk.size), chunk.readNs,
                 chunk.lostBefore);
            total += chunk.size;
        }
        return total;
    }

    EchoStats stats() const;
    // What took effect at start.
    PumpPriority priority() const { return priority_.load(std::memory_order_acquire); }
    std::string priorityText() const;
    // The pump ended by itself: the port failed or hung up. Empty while it runs.
    std::string failure() const;

  private:
    void run();
    void raisePriority();
    bool echo(const std::uint8_t* bytes, std::size_t size);
    void hand(const std::uint8_t* bytes, std::size_t size, std::int64_t readNs);
    void end(std::string why);
    void acknowledgeWake();
    void wake();

    const int fd_;
    const Options options_;
    SpscQueue<EchoChunk> queue_;
    int wakeFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> ended_{false};
    std::atomic<PumpPriority> priority_{PumpPriority::Default};
    int niceValue_ = 0;
    int realTimePriority_ = 0;
    std::string failure_; // written by the pump before ended_, read after it
    std::atomic<std::uint64_t> bytesRead_{0};
    std::atomic<std::uint64_t> bytesEchoed_{0};
    std::atomic<std::uint64_t> bytesQueued_{0};
    std::atomic<std::uint64_t> bytesLost_{0};
    std::uint32_t pendingLost_ = 0; // the pump's own: lost since the last queued chunk
};

} // namespace zanst::adapter
