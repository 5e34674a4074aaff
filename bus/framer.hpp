#pragma once
// The one rule every receiver shares: assembling a frame and the records that follow it, byte by
// byte. A receiver owns a Framer, tells it its own limits through FramerRules and reacts to what
// it reports through a FrameObserver; it keeps only its own rules (tables, answers, texts) on top.

#include "protocol.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zanst::bus {

// What a framer reports, as it happens. Spans point into the framer's buffer and are valid
// during the call only. Every call is made after the framer's state has moved on, so an observer
// may read it (the following flag just taken, whether it is hunting again).
class FrameObserver {
  public:
    // A start byte opened a frame.
    virtual void frameStarted() {}
    // Byte 1, the command, was stored.
    virtual void commandByte(std::uint8_t /*command*/) {}
    // The frame's last byte arrived.
    virtual void frameComplete(std::span<const std::uint8_t> /*frame*/, FrameKind /*kind*/) {}
    // A record of a delimited type is complete.
    virtual void recordComplete(std::span<const std::uint8_t> /*record*/) {}
    // The buffer limit ended a frame or a record run; the framer hunts again.
    virtual void frameAbandoned(std::span<const std::uint8_t> /*bytes*/) {}
    virtual void recordAbandoned(std::span<const std::uint8_t> /*bytes*/) {}
    // A frame announced `size` bytes, more than the buffer holds; `head` is what was stored. The
    // framer now passes over the rest of it by that size, taking none of its bytes for a start
    // byte, and hunts again after its last one (nothing of it is read, so no records are taken to
    // follow). Unless a receiver says otherwise, reported as an abandoned frame.
    virtual void frameOversized(std::span<const std::uint8_t> head, std::size_t /*size*/) {
        frameAbandoned(head);
    }

  protected:
    ~FrameObserver() = default;
};

// How the buffer limit bites.
enum class LimitRule {
    // A frame byte that would land at the limit abandons the frame without being stored; a record
    // run is abandoned once it fills the buffer.
    AbandonOnOverflow,
    // The byte counter advances on every byte, hunting included; when it reaches the limit
    // everything is dropped at once, after the byte that got it there was handled.
    DropAtCounterLimit,
    // Under both, a frame whose size, once known, exceeds the limit is passed over by that size
    // (FrameObserver::frameOversized) rather than dropped at the limit and hunted through.
};

struct FramerRules {
    ReceiverRole role = ReceiverRole::Other; // decides the size of 0x31
    int bufferLimit = 3000;                  // at most kMaxBuffer
    LimitRule limit = LimitRule::AbandonOnOverflow;
    bool infoRecordsDelimited = true; // else info records run on like unknown types, to the limit
};

// The assembly state, under the receivers' names.
struct FramerState {
    bool mCmdReceiving = false; // the frame itself, not its records, is being assembled
    int byteCounter = 0;        // index of the next byte in rxBuffer
    int cmdSize = 0;            // expected frame size; kDefaultFrameSize until known
    int followingFrames = 0;    // non-zero while records are still to come
    std::uint8_t command = 0;   // byte 1 of the last frame
    FrameKind kind = FrameKind::Standard;
    int recordSize = 0;    // size of the record being assembled; 0 when its type is not delimited
    int skipRemaining = 0; // bytes of an oversized frame still to pass over; none is stored
};

class Framer {
  public:
    static constexpr int kMaxBuffer = 3000;

    // `frameRx` is the in-frame flag: true from a start byte until the frame and its records are
    // complete. Whoever owns it may clear it at any time; the framer then hunts for a start byte.
    Framer(const FramerRules& rules, FrameObserver& observer, bool& frameRx);
    Framer(const Framer&) = delete;
    Framer& operator=(const Framer&) = delete;

    void feed(std::uint8_t b) {
        // Most bytes lie inside a record: stored, and nothing else happens.
        const int at = state_.byteCounter;
        if (frameRx_ && !state_.mCmdReceiving && at > 0 && at + 1 < state_.recordSize &&
            at + 1 < rules_.bufferLimit) {
            rxBuffer_[static_cast<std::size_t>(at)] = b;
            state_.byteCounter = at + 1;
            return;
        }
        feedByte(b);
    }

    // A second observer that sees every report after the receiver did (the contract tests, the
    // playback reading a capture through the receivers).
    void setTap(FrameObserver* tap) { tap_ = tap; }

    // Back to hunting, as clearing the in-frame flag does.
    void reset() { frameRx_ = false; }
    // The next byte of the open frame or record is stored at index 0.
    void resetByteCounter() { state_.byteCounter = 0; }

    bool hunting() const { return !frameRx_; }
    bool inRecords() const { return frameRx_ && !state_.mCmdReceiving; }
    // Inside a frame too large for the buffer, passing over its bytes.
    bool passingOver() const { return frameRx_ && state_.mCmdReceiving && state_.skipRemaining > 0; }
    const FramerState& state() const { return state_; }
    // The bytes of the open frame or record so far.
    std::span<const std::uint8_t> assembled() const;

  private:
    void feedByte(std::uint8_t b);
    void frameByte(std::uint8_t b);
    void passOver();
    void recordByte(std::uint8_t b);
    void completeFrame();
    void completeRecord();
    void abandon();
    template <typename Report> void report(Report&& call) {
        call(observer_);
        if (tap_ != nullptr) {
            call(*tap_);
        }
    }

    FramerRules rules_;
    FrameObserver& observer_;
    FrameObserver* tap_ = nullptr;
    bool& frameRx_;
    FramerState state_;
    std::array<std::uint8_t, kMaxBuffer> rxBuffer_{};
};

} // namespace zanst::bus
