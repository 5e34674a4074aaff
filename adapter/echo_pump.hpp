#pragma once
// The echo of "Data Sniffer" on a thread of its own: it waits on the port, writes every chunk it
// reads straight back, and only then hands the bytes, stamped with the time of the read, to the
// consumer through a lock-free queue and an eventfd wake-up. The echo never waits for the
// consumer: when the queue is full the bytes still go back out and are counted as lost for it.
// The consumer is woken once the line has been quiet for a moment, or at the latest kHoldNs after
// the first byte it has not been told of, not once per read: at the line rate a read may be a
// single byte, and waking a second thread for each would cost the echo its core.
// The thread runs a little above the process's other threads, and real-time only while no
// processor is idle (thread_priority.hpp).

#include "adapter/spsc_queue.hpp"
#include "adapter/thread_priority.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>

namespace zanst::adapter {

// Consecutive reads, each with its own time.
struct EchoChunk {
    static constexpr std::size_t kBytes = 256;
    static constexpr std::size_t kReads = 16;
    struct Read {
        std::uint32_t afterNs = 0; // since readNs
        std::uint16_t end = 0;     // one past its last byte in `bytes`
    };
    std::int64_t readNs = 0;      // std::chrono::steady_clock at the first read, in ns since its epoch
    std::uint32_t lostBefore = 0; // bytes dropped for the consumer between this chunk and the last
    std::uint16_t size = 0;
    std::uint16_t reads = 0;
    std::array<Read, kReads> marks{};
    std::array<std::uint8_t, kBytes> bytes{};
};

struct EchoStats {
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesEchoed = 0;
    std::uint64_t bytesQueued = 0;
    std::uint64_t bytesLost = 0;     // read and echoed, but the queue was full
    std::uint64_t realTimeTurns = 0; // times the thread went real-time because no processor was idle
};

using PumpPriority = PriorityCeiling;

class EchoPump {
  public:
    static constexpr std::size_t kDefaultQueueChunks = 4096; // 1 MiB of bytes: 40 s of a full line
    // The consumer is told of new bytes after this much quiet on the line, or at the latest this
    // long after the first byte it was not told of.
    static constexpr std::int64_t kQuietNs = 300'000;
    static constexpr std::int64_t kHoldNs = 2'000'000;

    struct Options {
        std::size_t queueChunks = kDefaultQueueChunks;
        bool raisePriority = true;
        std::string procStat = "/proc/stat"; // where the processors' idle time is read
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

    // Consumer: clears the wake-up, then hands the bytes of every waiting read to
    // take(std::span<const std::uint8_t> bytes, std::int64_t readNs, std::uint32_t lostBefore), in
    // order. Returns the bytes handed on.
    template <typename Take> std::size_t drain(Take&& take) {
        acknowledgeWake();
        std::size_t total = 0;
        while (queue_.pop(chunk_)) {
            std::uint16_t begin = 0;
            std::uint32_t lost = chunk_.lostBefore;
            for (std::size_t r = 0; r < chunk_.reads && r < EchoChunk::kReads; ++r) {
                const EchoChunk::Read& read = chunk_.marks[r];
                const std::uint16_t end = std::min<std::uint16_t>(read.end, chunk_.size);
                if (end > begin) {
                    take(std::span<const std::uint8_t>(chunk_.bytes.data() + begin, end - begin),
                         chunk_.readNs + read.afterNs, lost);
                    lost = 0;
                    begin = end;
                }
            }
            total += chunk_.size;
        }
        return total;
    }

    EchoStats stats() const;
    // What took effect at start.
    PumpPriority priority() const { return priority_.ceiling(); }
    bool realTimeNow() const { return priority_.realTimeNow(); }
    std::string priorityText() const;
    // The pump ended by itself: the port failed or hung up. Empty while it runs.
    std::string failure() const;

  private:
    void run();
    void loop();
    std::size_t echo(const std::uint8_t* bytes, std::size_t size);
    // Adds a read to the open chunk, publishing full ones.
    void hand(const std::uint8_t* bytes, std::size_t size, std::int64_t readNs);
    // Queues the open chunk (or counts it lost).
    void publish();
    // Publishes and wakes the consumer, if it has bytes it was not told of.
    void announce();
    // How long poll() may wait before the consumer must be told: -1 for ever.
    std::int64_t announceDueInNs(std::int64_t now) const;
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
    ThreadPriority priority_; // set on the pump thread, read by anyone
    std::string failure_;     // written by the pump before ended_, read after it
    std::atomic<std::uint64_t> bytesRead_{0};
    std::atomic<std::uint64_t> bytesEchoed_{0};
    std::atomic<std::uint64_t> bytesQueued_{0};
    std::atomic<std::uint64_t> bytesLost_{0};
    std::uint32_t pendingLost_ = 0; // the pump's own: lost since the last queued chunk
    EchoChunk open_;                // the pump's own: reads not queued yet
    std::int64_t lastReadNs_ = 0;
    std::int64_t untoldSinceNs_ = -1; // the first byte the consumer was not told of; -1: none
    EchoChunk chunk_;                 // the consumer's own
};

} // namespace zanst::adapter
