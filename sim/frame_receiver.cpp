#include "sim/frame_receiver.hpp"

#include "bus/hex.hpp"
#include "bus/records.hpp"

#include <span>
#include <utility>

namespace zanst::sim {

void FrameReceiver::reset() {
    state_ = State::Hunting;
    msg_ = Message{};
    record_.clear();
    cmdSize_ = bus::kDefaultFrameSize;
}

std::optional<TimePoint> FrameReceiver::deadline() const {
    if (state_ == State::Hunting) {
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
    done_ = Event{std::move(msg_), std::move(reason), record_.size()};
    reset();
    return Result::Dropped;
}

FrameReceiver::Result FrameReceiver::expire(TimePoint now) {
    if (state_ != State::Hunting && now - msg_.lastByte >= kByteTimeout) {
        return drop("bytes stopped inside a message");
    }
    return Result::None;
}

FrameReceiver::Result FrameReceiver::feed(std::uint8_t b, TimePoint now) {
    const Result expired = expire(now);
    if (state_ == State::Hunting) {
        if (b == bus::kStartByte) {
            msg_.frame.push_back(b);
            msg_.firstByte = now;
            msg_.lastByte = now;
            state_ = State::Frame;
            cmdSize_ = bus::kDefaultFrameSize;
        }
        // A dropped message is reported even when this byte starts the next one.
        return expired;
    }
    msg_.lastByte = now;
    return state_ == State::Frame ? feedFrame(b) : feedRecord(b);
}

FrameReceiver::Result FrameReceiver::feedFrame(std::uint8_t b) {
    msg_.frame.push_back(b);
    const int index = static_cast<int>(msg_.frame.size()) - 1;
    if (index == 1) {
        kind_ = bus::frameKind(b, role_);
    }
    cmdSize_ = bus::frameSizeAfter(kind_, msg_.frame, index, cmdSize_);
    if (cmdSize_ > static_cast<int>(kBufferSize)) {
        return drop("frame announces " + std::to_string(cmdSize_) + " bytes");
    }
    if (!bus::frameComplete(kind_, index, cmdSize_)) {
        return Result::None;
    }
    const bool follows = bus::readsFollowing(kind_) && cmdSize_ >= 2 &&
                         msg_.frame[static_cast<std::size_t>(cmdSize_ - 2)] != 0;
    if (!follows) {
        return finish();
    }
    state_ = State::Records;
    return Result::None;
}

FrameReceiver::Result FrameReceiver::feedRecord(std::uint8_t b) {
    record_.push_back(b);
    const std::size_t size = bus::recordSize(record_[0]);
    if (size == 0) {
        return drop("record type " + bus::ConvertHex(record_[0], 2) + " unknown");
    }
    if (record_.size() < size) {
        return Result::None;
    }
    const bool more = record_[size - 2] != 0;
    msg_.records.push_back(std::move(record_));
    record_.clear();
    record_.reserve(bus::rec::kInfoSize);
    if (!more) {
        return finish();
    }
    if (msg_.records.size() >= kMaxRecords) {
        return drop("more than " + std::to_string(kMaxRecords) + " records");
    }
    return Result::None;
}

} // namespace zanst::sim
