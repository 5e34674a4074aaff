#pragma once
// The metrics request (0x50) and the answer a battery sends behind it.
//
// The request travels round the ring unchanged; the answering battery's balancer sends one
// extended-length 0x50 frame right behind it:
//   0 0xAA | 1 0x50 | 2 0x01 | 3 0xFF | 4..5 L = 442 big-endian | 6..445 the record's members in
//   declaration order, little-endian (440 bytes) | 446 followingFrames = 0 | 447 CRC-8 of 0..446
// 448 bytes in all. A receiver tells the two apart at byte 3 and knows the answer's size at byte 5.

#include "record.hpp"

#include "bus/bytes.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zanst::metrics {

inline constexpr std::size_t kRequestSize = 19;
inline constexpr std::uint8_t kRequestPayloadLength = 13;
inline constexpr std::size_t kAnswerLength = 2 + kRecordWireSize; // L: length field + record
inline constexpr std::size_t kAnswerSize = kAnswerLength + 6;
inline constexpr std::size_t kAnswerRecordOffset = 6;
inline constexpr int kAnswerLengthIndex = 5; // byte at which a receiver knows an answer's size

static_assert(kAnswerSize == 448);

// The 19-byte request; only the low 8 bits of the instance reach the bus.
bus::Bytes buildMetricsRequest(int instance);

// The 448-byte answer carrying `record`, followingFrames 0, sealed.
bus::Bytes buildMetricsAnswer(const MetricsMetadata& record);

// For frames whose command byte is 0x50, once byte 3 has arrived: an answer rather than a request.
// Answers are never followed by records: their followingFrames byte is not read.
constexpr bool isMetricsAnswer(std::span<const std::uint8_t> frame) {
    return frame.size() > 3 && frame[3] == 0xFF;
}

// Frame size of a 0x50 frame after the byte at `index` has been stored in `frame`; `current` is
// the size assumed so far. A request's size is known at byte 3 (byte 3 + 6), an answer's at
// byte 5 (bytes 4..5 big-endian + 6); until then `current` stays.
constexpr int metricsFrameSizeAfter(std::span<const std::uint8_t> frame, int index, int current) {
    if (index == 3 && frame.size() > 3 && !isMetricsAnswer(frame)) {
        return frame[3] + 6;
    }
    if (index == kAnswerLengthIndex && frame.size() > 5 && isMetricsAnswer(frame)) {
        return frame[4] * 256 + frame[5] + 6;
    }
    return current;
}

enum class AnswerError {
    None,
    Truncated,   // fewer bytes than the frame needs
    NotAnAnswer, // no start byte, not 0x50 or not extended-length (the request's echo)
    WrongLength, // bytes 4..5 do not hold 442
    Oversized,   // more bytes than 448
    WrongCrc,
};

// Why an answer was refused, for the metrics console.
std::string answerErrorText(AnswerError error);

struct DecodedAnswer {
    AnswerError error = AnswerError::None;
    std::optional<MetricsMetadata> record; // set exactly when error is None
};

// Checks the whole frame (header, length field, size, CRC) before reading any member.
DecodedAnswer decodeMetricsAnswer(std::span<const std::uint8_t> frame);

} // namespace zanst::metrics
