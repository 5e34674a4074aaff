#pragma once
// The metrics request (0x50) and the answer a battery sends behind it.
//
// The request travels round the ring unchanged; the answering battery's balancer sends one
// extended-length 0x50 frame right behind it:
//   0 0xAA | 1 0x50 | 2 0x01 | 3 0xFF | 4..5 L = 442 big-endian | 6..445 the record's members in
//   declaration order, little-endian (440 bytes) | 446 followingFrames = 0 | 447 CRC-8 of 0..446
// 448 bytes in all. A receiver tells the two apart at byte 3 and knows the answer's size at byte 5.
// The record opens with its layout version and closes with the balancer's checksum over its
// stored copy; an answer is taken only when both hold.

#include "record.hpp"

#include "bus/bytes.hpp"
#include "bus/protocol.hpp"

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

static_assert(kAnswerSize == 448);
static_assert(bus::kMetricsAnswerLengthIndex == 5);

// The one record layout the tool reads.
inline constexpr std::uint16_t kLayoutVersion = 1;

// The balancer's checksum over its stored copy: CRC-16 (polynomial 0x1021, initial 0xFFFF, no
// reflection, no final XOR; 0x29B1 over the ASCII digits 1 to 9) over every member from the layout
// version through the instance number as they travel (frame bytes 6..443).
std::uint16_t storeChecksum(const MetricsMetadata& record);

// The 19-byte request; only the low 8 bits of the instance reach the bus.
bus::Bytes buildMetricsRequest(int instance);

// The 448-byte answer carrying `record`, followingFrames 0, sealed.
bus::Bytes buildMetricsAnswer(const MetricsMetadata& record);

// How a receiver tells an answer from a request and sizes it: bus::isMetricsAnswer and
// bus::frameSizeAfter with bus::FrameKind::Metrics (bus/protocol.hpp), shared by every receiver.

enum class AnswerError {
    None,
    Truncated,   // fewer bytes than the frame needs
    NotAnAnswer, // no start byte, not 0x50 or not extended-length (the request's echo)
    WrongLength, // bytes 4..5 do not hold 442
    Oversized,   // more bytes than 448
    WrongCrc,
    WrongLayoutVersion, // a layout the tool cannot read
    WrongChecksum,      // the balancer's checksum does not match the values it sent
};

// Why an answer was refused, for the metrics console.
std::string answerErrorText(AnswerError error);

struct DecodedAnswer {
    AnswerError error = AnswerError::None;
    std::optional<MetricsMetadata> record; // set exactly when error is None
};

// Checks the whole frame (header, length field, size, CRC), then the layout version and the
// balancer's checksum, before handing out any member.
DecodedAnswer decodeMetricsAnswer(std::span<const std::uint8_t> frame);

} // namespace zanst::metrics
