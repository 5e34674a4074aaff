#include "framer.hpp"

#include "records.hpp"

#include <algorithm>

namespace zanst::bus {

Framer::Framer(const FramerRules& rules, FrameObserver& observer, bool& frameRx)
    : rules_(rules), observer_(observer), frameRx_(frameRx) {
    rules_.bufferLimit = std::clamp(rules_.bufferLimit, 1, kMaxBuffer);
}

std::span<const std::uint8_t> Framer::assembled() const {
    if (!frameRx_) {
        return {};
    }
    const auto size = static_cast<std::size_t>(std::clamp(state_.byteCounter, 0, rules_.bufferLimit));
    return std::span<const std::uint8_t>(rxBuffer_).first(size);
}

void Framer::feedByte(std::uint8_t b) {
    if (!frameRx_) {
        if (b == kStartByte) {
            rxBuffer_[0] = b;
            state_.byteCounter = 1;
            state_.followingFrames = 0;
            state_.mCmdReceiving = true;
            state_.cmdSize = kDefaultFrameSize;
            state_.skipRemaining = 0;
            frameRx_ = true;
            report([](FrameObserver& o) { o.frameStarted(); });
        } else if (rules_.limit == LimitRule::DropAtCounterLimit) {
            ++state_.byteCounter;
        }
    } else if (state_.mCmdReceiving) {
        frameByte(b);
    } else {
        recordByte(b);
    }
    if (rules_.limit == LimitRule::DropAtCounterLimit && state_.byteCounter >= rules_.bufferLimit) {
        if (frameRx_) {
            abandon();
        }
        state_.mCmdReceiving = false;
        state_.followingFrames = 0;
        state_.byteCounter = 0;
    }
}

void Framer::frameByte(std::uint8_t b) {
    if (state_.skipRemaining > 0) {
        passOver();
        return;
    }
    const int at = state_.byteCounter;
    if (at < 0 || at >= rules_.bufferLimit) {
        abandon(); // this byte is not stored
        return;
    }
    rxBuffer_[static_cast<std::size_t>(at)] = b;
    if (at == 1) {
        state_.command = b;
        state_.kind = frameKind(b, rules_.role);
        report([b](FrameObserver& o) { o.commandByte(b); });
    }
    state_.cmdSize = frameSizeAfter(state_.kind, rxBuffer_, at, state_.cmdSize);
    if (state_.cmdSize > rules_.bufferLimit) {
        // Too large to hold: dropping it at the limit and hunting through the rest would take
        // its payload for frames (an 0xAA 0x01 in it would start a new info list).
        ++state_.byteCounter;
        state_.skipRemaining = state_.cmdSize - state_.byteCounter;
        const auto head =
            std::span<const std::uint8_t>(rxBuffer_).first(static_cast<std::size_t>(state_.byteCounter));
        const auto size = static_cast<std::size_t>(state_.cmdSize);
        report([&](FrameObserver& o) { o.frameOversized(head, size); });
    } else if (frameComplete(state_.kind, at, state_.cmdSize)) {
        completeFrame();
    } else {
        ++state_.byteCounter;
    }
}

void Framer::passOver() {
    if (--state_.skipRemaining == 0) {
        frameRx_ = false;
        state_.mCmdReceiving = false;
        state_.followingFrames = 0;
    }
}

void Framer::completeFrame() {
    state_.mCmdReceiving = false;
    // A data block that announced less than arrived ends at its announced size.
    const int size = std::clamp(state_.cmdSize, 0, state_.byteCounter + 1);
    if (readsFollowing(state_.kind,
                       std::span<const std::uint8_t>(rxBuffer_).first(static_cast<std::size_t>(size)))) {
        state_.followingFrames = rxBuffer_[static_cast<std::size_t>(size - 2)];
    } else {
        state_.followingFrames = 0;
    }
    if (state_.followingFrames != 0) {
        state_.byteCounter = 0; // records follow, each stored from index 0
    } else {
        frameRx_ = false;
        if (rules_.limit == LimitRule::DropAtCounterLimit) {
            ++state_.byteCounter;
        }
    }
    const auto frame = std::span<const std::uint8_t>(rxBuffer_).first(static_cast<std::size_t>(size));
    const FrameKind kind = state_.kind;
    report([&](FrameObserver& o) { o.frameComplete(frame, kind); });
}

void Framer::recordByte(std::uint8_t b) {
    const int at = state_.byteCounter;
    if (at < 0 || at >= rules_.bufferLimit) {
        abandon();
        return;
    }
    rxBuffer_[static_cast<std::size_t>(at)] = b;
    if (at == 0) {
        const bool delimited = rules_.infoRecordsDelimited || b != rec::kInfo;
        state_.recordSize = delimited ? static_cast<int>(recordSize(b)) : 0;
    }
    ++state_.byteCounter;
    if (state_.byteCounter == state_.recordSize) {
        completeRecord();
    } else if (state_.byteCounter >= rules_.bufferLimit && rules_.limit == LimitRule::AbandonOnOverflow) {
        abandon(); // an undelimited run: wait for the next start byte
    }
}

void Framer::completeRecord() {
    const auto size = static_cast<std::size_t>(state_.recordSize);
    state_.followingFrames = rxBuffer_[size - 2];
    state_.byteCounter = 0;
    if (state_.followingFrames == 0) {
        frameRx_ = false;
    }
    const auto record = std::span<const std::uint8_t>(rxBuffer_).first(size);
    report([&](FrameObserver& o) { o.recordComplete(record); });
}

void Framer::abandon() {
    const auto bytes = std::span<const std::uint8_t>(rxBuffer_).first(
        static_cast<std::size_t>(std::clamp(state_.byteCounter, 0, rules_.bufferLimit)));
    const bool record = !state_.mCmdReceiving;
    frameRx_ = false;
    state_.mCmdReceiving = false;
    state_.followingFrames = 0;
    if (record) {
        report([&](FrameObserver& o) { o.recordAbandoned(bytes); });
    } else {
        report([&](FrameObserver& o) { o.frameAbandoned(bytes); });
    }
}

} // namespace zanst::bus
