#include "answer.hpp"

#include "bus/crc8.hpp"
#include "bus/frames.hpp"
#include "bus/protocol.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

namespace zanst::metrics {

namespace {

// The request's payload after the instance byte; its meaning is not settled, it goes out as is.
constexpr std::array<std::uint8_t, 12> kRequestTail{4, 0, 4, 0, 4, 0, 4, 0, 4, 0, 4, 0};

template <typename T> void put(std::span<std::uint8_t> out, std::size_t& at, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
    at += sizeof(T);
}

template <typename T> T get(std::span<const std::uint8_t> in, std::size_t& at) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>(value | (static_cast<T>(in[at + i]) << (8 * i)));
    }
    at += sizeof(T);
    return value;
}

// Every member before the checksum, as they travel.
constexpr std::size_t kChecksummedBytes = kRecordWireSize - sizeof(MetricsMetadata::storeChecksum);

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (b << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

} // namespace

std::uint16_t storeChecksum(const MetricsMetadata& record) {
    std::array<std::uint8_t, kRecordWireSize> bytes{};
    std::size_t at = 0;
    forEachField(record, [&](auto v) { put(std::span<std::uint8_t>(bytes), at, v); });
    return crc16(std::span<const std::uint8_t>(bytes).first(kChecksummedBytes));
}

bus::Bytes buildMetricsRequest(int instance) {
    bus::Bytes frame = bus::makeFrame(bus::cmd::kMetrics, kRequestPayloadLength);
    frame[4] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(instance) & 0xFF);
    std::copy(kRequestTail.begin(), kRequestTail.end(), frame.begin() + 5);
    bus::seal(frame, 0);
    return frame;
}

bus::Bytes buildMetricsAnswer(const MetricsMetadata& record) {
    bus::Bytes frame(kAnswerSize, 0);
    frame[0] = bus::kStartByte;
    frame[1] = bus::cmd::kMetrics;
    frame[2] = bus::kFrameConstant;
    frame[3] = bus::kExtendedLength;
    frame[4] = static_cast<std::uint8_t>(kAnswerLength >> 8);
    frame[5] = static_cast<std::uint8_t>(kAnswerLength & 0xFF);
    std::size_t at = kAnswerRecordOffset;
    forEachField(record, [&](auto v) { put(frame, at, v); });
    bus::seal(frame, 0);
    return frame;
}

std::string answerErrorText(AnswerError error) {
    switch (error) {
    case AnswerError::None:
        return "accepted";
    case AnswerError::Truncated:
        return "truncated, fewer than " + std::to_string(kAnswerSize) + " bytes";
    case AnswerError::NotAnAnswer:
        return "not a metrics answer";
    case AnswerError::WrongLength:
        return "length field is not " + std::to_string(kAnswerLength);
    case AnswerError::Oversized:
        return "oversized, more than " + std::to_string(kAnswerSize) + " bytes";
    case AnswerError::WrongCrc:
        return "wrong CRC";
    case AnswerError::WrongLayoutVersion:
        return "layout version is not " + std::to_string(kLayoutVersion);
    case AnswerError::WrongChecksum:
        return "balancer checksum does not match the record";
    }
    return "unknown error";
}

DecodedAnswer decodeMetricsAnswer(std::span<const std::uint8_t> frame) {
    if (frame.size() < kAnswerRecordOffset) {
        return {AnswerError::Truncated, {}};
    }
    if (frame[0] != bus::kStartByte || frame[1] != bus::cmd::kMetrics || !bus::isMetricsAnswer(frame)) {
        return {AnswerError::NotAnAnswer, {}};
    }
    if (static_cast<std::size_t>(frame[4] * 256 + frame[5]) != kAnswerLength) {
        return {AnswerError::WrongLength, {}};
    }
    if (frame.size() < kAnswerSize) {
        return {AnswerError::Truncated, {}};
    }
    if (frame.size() > kAnswerSize) {
        return {AnswerError::Oversized, {}};
    }
    if (bus::getCRC(frame, kAnswerSize - 1) != frame[kAnswerSize - 1]) {
        return {AnswerError::WrongCrc, {}};
    }
    MetricsMetadata record;
    std::size_t at = kAnswerRecordOffset;
    forEachField(record, [&](auto& v) { v = get<std::remove_reference_t<decltype(v)>>(frame, at); });
    // The CRC-8 says the transfer is whole; these say the balancer's copy is one the tool reads.
    if (record.layoutVersion != kLayoutVersion) {
        return {AnswerError::WrongLayoutVersion, {}};
    }
    if (crc16(frame.subspan(kAnswerRecordOffset, kChecksummedBytes)) != record.storeChecksum) {
        return {AnswerError::WrongChecksum, {}};
    }
    return {AnswerError::None, record};
}

} // namespace zanst::metrics
