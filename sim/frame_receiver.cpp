#include "sim/frame_receiver.hpp"

#include "bus/hex.hpp"
#include "bus/records.hpp"

#include <utility>

namespace zanst::sim {

void FrameReceiver::reset() {
    framer_.reset();
    msg_ = Message{};
}

Message FrameReceiver::partial() const {
    Message m = msg_;
    if (!framer_.hunting() && framer_.state().mCmdReceiving && !framer_.passingOver()) {
        const auto bytes = framer_.assembled();
        m.frame.assign(bytes.begin(), bytes.end());
    }
    return m;
}

std::span<const std::uint8_t> FrameReceiver::partialRecord() const {
    return framer_.inRecords() ? framer_.assembled() : std::span<const std::uint8_t>();
}

std::optional<TimePoint> FrameReceiver::deadline() const {
    if (framer_.hunting()) {
        return std::nullopt;
    }
    return msg_.lastByte + kByteTimeout;
}

FrameReceiver::Result FrameReceiver::finish() {
    done_ = Event{std::move(msg_), {}, 0};
    reset();
    return Result::Complete;
}

FrameReceiver::Result FrameReceiver::drop(std::string reason) {
    Message m = partial();
    done_ = Event{std::move(m), std::move(reason), partialRecord().size()};
    reset();
    return Result::Dropped;
}

FrameReceiver::Result FrameReceiver::expire(TimePoint now) {
    if (framer_.hunting() || now - msg_.lastByte < kByteTimeout) {
        return Result::None;
    }
    if (framer_.passingOver()) {
        reset(); // the oversized frame was reported when it was dropped; the line went quiet since
        return Result::None;
    }
    return drop("bytes stopped inside a message");
}

void FrameReceiver::frameStarted() {
    msg_ = Message{};
    msg_.firstByte = now_;
}

void FrameReceiver::frameComplete(std::span<const std::uint8_t> frame, bus::FrameKind /*kind*/) {
    msg_.frame.assign(frame.begin(), frame.end());
    if (framer_.hunting()) {
        pending_ = Result::Complete; // no records follow
    }
}

void FrameReceiver::frameOversized(std::span<const std::uint8_t> head, std::size_t size) {
    msg_.frame.assign(head.begin(), head.end());
    oversized_ = size;
}

void FrameReceiver::recordComplete(std::span<const std::uint8_t> record) {
    msg_.records.emplace_back(record.begin(), record.end());
    if (framer_.hunting()) {
        pending_ = Result::Complete;
    }
}

FrameReceiver::Result FrameReceiver::feed(std::uint8_t b, TimePoint now) {
    const Result expired = expire(now);
    const bool started = framer_.hunting();
    now_ = now;
    pending_ = Result::None;
    oversized_ = 0;
    framer_.feed(b);
    if (started) {
        if (!framer_.hunting()) {
            msg_.lastByte = now;
        }
        // A dropped message is reported even when this byte starts the next one.
        return expired;
    }
    msg_.lastByte = now;
    if (pending_ == Result::Complete) {
        return finish();
    }
    if (oversized_ != 0) {
        // Dropped at once; the framer passes over the rest of it by its size.
        done_ = Event{std::move(msg_), "frame announces " + std::to_string(oversized_) + " bytes", 0};
        msg_ = Message{};
        msg_.lastByte = now;
        return Result::Dropped;
    }
    const bus::FramerState& s = framer_.state();
    if (framer_.inRecords()) {
        if (s.byteCounter == 1 && bus::recordSize(b) == 0) {
            return drop("record type " + bus::ConvertHex(b, 2) + " unknown");
        }
        if (s.byteCounter == 0 && msg_.records.size() >= kMaxRecords) {
            return drop("more than " + std::to_string(kMaxRecords) + " records");
        }
    }
    return Result::None;
}

} // namespace zanst::sim
