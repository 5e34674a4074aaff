#pragma once
// Command codes, record types and the frame-size rules of the battery bus.

#include <cstddef>
#include <cstdint>
#include <span>

namespace zanst::bus {

inline constexpr std::uint8_t kStartByte = 0xAA;
inline constexpr std::uint8_t kFrameConstant = 0x01;  // byte 2 of every frame the tool builds
inline constexpr std::uint8_t kExtendedLength = 0xFF; // byte 3 of a 0x23 data block and a 0x50 answer
inline constexpr std::size_t kFrameOverhead = 6;      // start, command, constant, length, following, CRC

namespace cmd {
inline constexpr std::uint8_t kInfo = 0x01;
inline constexpr std::uint8_t kMeasurement = 0x02;
inline constexpr std::uint8_t kCalibrationData = 0x08;
inline constexpr std::uint8_t kTestMode = 0x10;
inline constexpr std::uint8_t kCalibrate = 0x11;
inline constexpr std::uint8_t kSaveCalibration = 0x12;
inline constexpr std::uint8_t kBatteryParameters = 0x13;
inline constexpr std::uint8_t kReloadCalibration = 0x14;
inline constexpr std::uint8_t kStartBootloader = 0x20;
inline constexpr std::uint8_t kStartUpdate = 0x21;
inline constexpr std::uint8_t kEndUpdate = 0x22;
inline constexpr std::uint8_t kDataBlock = 0x23;
inline constexpr std::uint8_t kCurrentAdjust = 0x30;
inline constexpr std::uint8_t kPresetChanged = 0x31;
inline constexpr std::uint8_t kMetrics = 0x50;
inline constexpr std::uint8_t kAck80 = 0x80;
} // namespace cmd

// Record types equal the command they answer.
namespace rec {
inline constexpr std::uint8_t kInfo = 0x01;
inline constexpr std::uint8_t kMeasurement = 0x02;
inline constexpr std::uint8_t kCalibration = 0x08;

inline constexpr std::size_t kInfoSize = 32;
inline constexpr std::size_t kMeasurementSize = 12;
inline constexpr std::size_t kCalibrationSize = 12;
} // namespace rec

// Frame sizes on the wire, start byte and CRC included.
inline constexpr std::size_t kInfoRequestSize = 22;
inline constexpr std::size_t kMeasurementRequestSize = 26;
inline constexpr std::size_t kCalibrationRequestSize = 18;
inline constexpr std::size_t kTestModeFrameSize = 22;
inline constexpr std::size_t kFixedFrameSize = 16;        // 0x21, 0x22, 0x80
inline constexpr std::size_t kPresetFrameSizeMaster = 22; // 0x31 on the master side
inline constexpr std::size_t kDataBlockSize = 2064;
inline constexpr std::size_t kDataBlockLength = 2058;

// Size every receiver assumes until the frame's own length is known.
inline constexpr int kDefaultFrameSize = 18;

// Byte index at which a 0x23 frame's 16-bit length (bytes 4 and 5) is taken.
inline constexpr int kDataBlockLengthIndex = 12;
// Byte index at which a metrics answer's 16-bit length field is complete and its size known.
inline constexpr int kMetricsAnswerLengthIndex = 5;
// A metrics answer has one size, whatever its length field says: a damaged field (0, 0xFFFF)
// neither ends the answer inside its payload nor runs it on past its end. The decoder refuses
// an answer whose field is not kMetricsAnswerSize - 6.
inline constexpr std::size_t kMetricsAnswerSize = 448;

// How a receiver delimits a frame, decided by its command byte.
enum class FrameKind {
    Fixed16,   // 0x21, 0x22, 0x80: 16 bytes, following byte not read
    DataBlock, // 0x23: length from bytes 4..5 (big-endian) + 6, following byte not read
    Preset22,  // 0x31 on the master side: 22 bytes whatever its length byte says
    Standard,  // length byte + 6, following byte read from size - 2
    Metrics,   // 0x50: a request as Standard; with 0xFF in byte 3 an answer of 448 bytes, nothing follows
};

enum class ReceiverRole { Master, Other };

constexpr FrameKind frameKind(std::uint8_t command, ReceiverRole role) {
    switch (command) {
    case cmd::kStartUpdate:
    case cmd::kEndUpdate:
    case cmd::kAck80:
        return FrameKind::Fixed16;
    case cmd::kDataBlock:
        return FrameKind::DataBlock;
    case cmd::kPresetChanged:
        return role == ReceiverRole::Master ? FrameKind::Preset22 : FrameKind::Standard;
    case cmd::kMetrics:
        return FrameKind::Metrics;
    default:
        return FrameKind::Standard;
    }
}

// A 0x50 frame carrying a battery's metrics rather than asking for them (byte 3 has arrived).
constexpr bool isMetricsAnswer(std::span<const std::uint8_t> frame) {
    return frame.size() > 3 && frame[1] == cmd::kMetrics && frame[3] == kExtendedLength;
}

// The expected frame size after the byte at `index` has been stored in `frame`.
// `current` is the size assumed so far (kDefaultFrameSize at a frame start).
// Shared by every receiver through the framer.
constexpr int frameSizeAfter(FrameKind kind, std::span<const std::uint8_t> frame, int index, int current) {
    switch (kind) {
    case FrameKind::Fixed16:
        return static_cast<int>(kFixedFrameSize);
    case FrameKind::Preset22:
        return static_cast<int>(kPresetFrameSizeMaster);
    case FrameKind::DataBlock:
        if (index == kDataBlockLengthIndex && frame.size() > 5) {
            return frame[4] * 256 + frame[5] + static_cast<int>(kFrameOverhead);
        }
        return current;
    case FrameKind::Standard:
        if (index == 3 && frame.size() > 3) {
            return frame[3] + static_cast<int>(kFrameOverhead);
        }
        return current;
    case FrameKind::Metrics:
        if (index == 3 && frame.size() > 3 && frame[3] != kExtendedLength) {
            return frame[3] + static_cast<int>(kFrameOverhead);
        }
        if (index == kMetricsAnswerLengthIndex && frame.size() > 5 && frame[3] == kExtendedLength) {
            // The length field is held against the one answer size, never trusted over it.
            return static_cast<int>(kMetricsAnswerSize);
        }
        return current;
    }
    return current;
}

// Whether a completed frame's `followingFrames` byte (size - 2) is read. A metrics answer is
// never followed by records.
constexpr bool readsFollowing(FrameKind kind, std::span<const std::uint8_t> frame) {
    return kind == FrameKind::Standard || (kind == FrameKind::Metrics && !isMetricsAnswer(frame));
}

// Whether a completed frame's command is recorded in `ackReceived`.
constexpr bool recordsAck(FrameKind kind) {
    return kind != FrameKind::DataBlock;
}

// Whether a completed frame clears the flash-busy flag (only the master waits on data blocks).
constexpr bool clearsFlashBusy(FrameKind kind, ReceiverRole role) {
    switch (kind) {
    case FrameKind::Fixed16:
    case FrameKind::Preset22:
        return true;
    case FrameKind::DataBlock:
        return role == ReceiverRole::Master;
    case FrameKind::Standard:
    case FrameKind::Metrics:
        return false;
    }
    return false;
}

// True once the byte at `index` is the last byte of a frame of `size` bytes. A data block
// that announces fewer bytes than already arrived ends at once instead of running to the buffer limit.
constexpr bool frameComplete(FrameKind kind, int index, int size) {
    return kind == FrameKind::DataBlock ? index >= size - 1 : index == size - 1;
}

} // namespace zanst::bus
