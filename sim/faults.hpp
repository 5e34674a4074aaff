#pragma once
// Faults the simulator puts on what it sends, for tests and training, and the pacing of bytes
// at a real line's rate.

#include "bus/bytes.hpp"
#include "sim/time.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>

namespace zanst::sim {

struct FaultConfig {
    double dropRate = 0.0;    // chance of each byte being lost
    double corruptRate = 0.0; // chance of each byte being altered (so CRCs no longer match)
    std::uint32_t seed = 1;
};

class FaultInjector {
  public:
    explicit FaultInjector(const FaultConfig& config);

    // The bytes as they reach the line.
    bus::Bytes apply(std::span<const std::uint8_t> bytes);

    bool active() const { return config_.dropRate > 0 || config_.corruptRate > 0; }
    long dropped() const { return dropped_; }
    long corrupted() const { return corrupted_; }

  private:
    FaultConfig config_;
    std::mt19937 rng_;
    std::uniform_real_distribution<double> chance_{0.0, 1.0};
    long dropped_ = 0;
    long corrupted_ = 0;
};

// A queue of bytes for the line that releases them no faster than one per `perByte` (0: at once).
class OutputPacer {
  public:
    static constexpr std::size_t kMaxQueued = 1 << 20;

    explicit OutputPacer(Duration perByte = Duration::zero()) : perByte_(perByte) {}

    // Queues bytes; returns how many had to be discarded because the far side stopped reading.
    std::size_t push(std::span<const std::uint8_t> bytes, TimePoint now);
    // How many of the queued bytes may go out at `now`.
    std::size_t due(TimePoint now) const;
    // The first `count` queued bytes (count at most size()).
    bus::Bytes front(std::size_t count) const;
    // `count` bytes went out.
    void consumed(std::size_t count);
    // When the next byte may go; nullopt when nothing is queued.
    std::optional<TimePoint> nextTime() const;
    std::size_t size() const { return queue_.size(); }
    bool empty() const { return queue_.empty(); }
    void clear() { queue_.clear(); }

  private:
    Duration perByte_;
    std::deque<std::uint8_t> queue_;
    TimePoint nextSlot_{};
};

} // namespace zanst::sim
