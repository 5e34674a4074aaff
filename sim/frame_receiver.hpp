#pragma once
// Cuts a byte stream into messages: a frame and the records that follow it. Used wherever the
// simulator listens: the balancers hearing a master, a BMS hearing the answers. The framer every
// receiver of the project shares does the cutting; the simulator adds its own rules on top: a
// record of an unknown type, a frame announcing more than the buffer, more records than ids and
// a pause inside a message each drop the message at once. The bytes of a frame announcing more
// than the buffer are still passed over by its size (a pause ends that too), never hunted through.

#include "bus/bytes.hpp"
#include "bus/framer.hpp"
#include "bus/protocol.hpp"
#include "sim/time.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zanst::sim {

struct Message {
    bus::Bytes frame;
    std::vector<bus::Bytes> records;
    TimePoint firstByte{};
    TimePoint lastByte{};

    std::uint8_t command() const { return frame.size() > 1 ? frame[1] : 0; }
};

class FrameReceiver final : private bus::FrameObserver {
  public:
    static constexpr std::size_t kBufferSize = 3000; // longest frame accepted
    static constexpr std::size_t kMaxRecords = 4096; // more ids than a 12-bit field can name
    static constexpr Duration kByteTimeout = 100ms;  // a gap this long inside a message ends it

    enum class Result { None, Complete, Dropped };

    // What a Complete or Dropped result handed over: the message, or what had arrived of a dropped
    // one, why it was dropped, and how many bytes of an unfinished record it held.
    struct Event {
        Message message;
        std::string reason;
        std::size_t recordBytes = 0;
    };

    explicit FrameReceiver(bus::ReceiverRole role = bus::ReceiverRole::Other)
        : framer_(rulesFor(role), *this, frameRx_) {}

    // One byte at `now`. A message that went quiet for kByteTimeout is dropped first, so the byte
    // can start a new one (the result is then Dropped).
    Result feed(std::uint8_t b, TimePoint now);

    // Drops a message whose bytes stopped coming (call when deadline() has passed).
    Result expire(TimePoint now);

    // The message of the last Complete or Dropped result.
    Event take() { return std::move(done_); }

    // When an open message times out; nullopt while hunting for a start byte.
    std::optional<TimePoint> deadline() const;

    bool hunting() const { return framer_.hunting(); }
    // What has arrived of the open message (empty while hunting), and of its unfinished record.
    Message partial() const;
    std::span<const std::uint8_t> partialRecord() const;
    void reset();

    static constexpr bus::FramerRules rulesFor(bus::ReceiverRole role) {
        return {role, static_cast<int>(kBufferSize), bus::LimitRule::AbandonOnOverflow, true};
    }
    const bus::Framer& framer() const { return framer_; }
    void setFrameTap(bus::FrameObserver* tap) { framer_.setTap(tap); }

  private:
    void frameStarted() override;
    void frameComplete(std::span<const std::uint8_t> frame, bus::FrameKind kind) override;
    void recordComplete(std::span<const std::uint8_t> record) override;
    void frameOversized(std::span<const std::uint8_t> head, std::size_t size) override;

    Result finish();
    Result drop(std::string reason);

    bool frameRx_ = false;
    bus::Framer framer_;
    Message msg_;
    TimePoint now_{};
    Result pending_ = Result::None; // what the framer's report of this byte decided
    std::size_t oversized_ = 0;     // the size an oversized frame announced with this byte
    Event done_;
};

} // namespace zanst::sim
