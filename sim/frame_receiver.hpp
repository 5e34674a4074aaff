#pragma once
// Cuts a byte stream into messages: a frame and the records that follow it. Used wherever the
// simulator listens: the balancers hearing a master, a BMS hearing the answers. Frame sizes come
// from the one rule every receiver of the project shares (bus::frameSizeAfter).

#include "bus/bytes.hpp"
#include "bus/protocol.hpp"
#include "sim/time.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
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

class FrameReceiver {
public:
    static constexpr std::size_t kBufferSize = 3000; // longest frame or record accepted
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

    explicit FrameReceiver(bus::ReceiverRole role = bus::ReceiverRole::Other) : role_(role) {}

    // One byte at `now`. A message that went quiet for kByteTimeout is dropped first, so the byte
    // can start a new one (the result is then Dropped).
    Result feed(std::uint8_t b, TimePoint now);

    // Drops a message whose bytes stopped coming (call when deadline() has passed).
    Result expire(TimePoint now);

    // The message of the last Complete or Dropped result.
    Event take() { return std::move(done_); }

    // When an open message times out; nullopt while hunting for a start byte.
    std::optional<TimePoint> deadline() const;

    bool hunting() const { return state_ == State::Hunting; }
    // What has arrived of the open message (empty while hunting).
    const Message& partial() const { return msg_; }
    const bus::Bytes& partialRecord() const { return record_; }
    void reset();

private:
    enum class State { Hunting, Frame, Records };

    Result finish();
    Result drop(std::string reason);
    Result feedFrame(std::uint8_t b);
    Result feedRecord(std::uint8_t b);

    bus::ReceiverRole role_;
    State state_ = State::Hunting;
    Message msg_;
    bus::Bytes record_;
    bus::FrameKind kind_ = bus::FrameKind::Standard;
    int cmdSize_ = bus::kDefaultFrameSize;
    Event done_;
};

} // namespace zanst::sim
