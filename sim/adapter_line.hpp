#pragma once
// A USB-serial adapter between the simulator and the tool, as an FTDI full-speed chip behaves:
// bytes arrive on its serial side one byte time apart and wait in the chip until a USB packet is
// full (62 data bytes beside the 2 status bytes of a 64-byte packet) or the latency timer expires.
// The timer starts again with every packet the chip sends (when nothing waits it sends status
// only), so a short burst waits anything up to the latency and the tail of a long one waits the
// whole latency after the last full packet.

#include "bus/bytes.hpp"
#include "sim/time.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

namespace zanst::sim {

struct AdapterConfig {
    static constexpr std::size_t kFtdiPacketData = 62;
    static constexpr Duration kLineByteTime = 40us; // 10 bits at 250000 baud

    Duration latency = 16ms;
    std::size_t packetBytes = kFtdiPacketData;
    Duration byteTime = kLineByteTime;
};

class AdapterLine {
  public:
    AdapterLine(const AdapterConfig& config, TimePoint start);

    // Bytes that reach the adapter's serial side from `now` on, one byte time apart.
    void push(std::span<const std::uint8_t> bytes, TimePoint now);
    // What the adapter has handed on by `now`, in order.
    bus::Bytes take(TimePoint now);
    // When take() next has bytes; nothing while nothing waits.
    std::optional<TimePoint> nextRelease() const;
    std::size_t held() const { return held_.size(); }
    // When the last byte pushed so far reaches the adapter: the end of its burst on the line.
    TimePoint lastArrival() const { return lastArrival_; }
    // Drops what waits (the far side closed the port).
    void clear();

    const AdapterConfig& config() const { return config_; }
    long packets() const { return packets_; }
    long bytesPassed() const { return bytes_; }
    // The longest a byte waited from its arrival to its packet.
    Duration longestHold() const { return longestHold_; }

  private:
    struct Held {
        TimePoint arrival;
        std::uint8_t byte;
    };
    // The next packet: when it leaves and how many bytes it carries.
    std::optional<std::pair<TimePoint, std::size_t>> nextPacket() const;

    AdapterConfig config_;
    std::deque<Held> held_;
    TimePoint lastArrival_;
    TimePoint timerStart_;
    long packets_ = 0;
    long bytes_ = 0;
    Duration longestHold_{};
};

} // namespace zanst::sim
