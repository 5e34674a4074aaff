#pragma once
// Building frames and records: zero-filled, header written, sealed with the CRC-8.

#include "bytes.hpp"

#include <cstdint>
#include <string_view>

namespace zanst::bus {

// A zero-filled frame with payload length n: 0xAA, command, 0x01, n, then n + 2 zero bytes.
Bytes makeFrame(std::uint8_t command, std::uint8_t payloadLength);

// A zero-filled 0x23 data block: 0xAA, 0x23, 0x01, 0xFF, then the length 2058 big-endian.
Bytes makeDataBlockFrame();

// A zero-filled record of `size` bytes with its type and id (id little-endian in bytes 2..3).
Bytes makeRecord(std::uint8_t type, std::size_t size, std::uint16_t id);

// Writes the frame's or record's following byte (size - 2) and its CRC-8 (size - 1).
void seal(Bytes& frameOrRecord, std::uint8_t following);

// Offset of the `followingFrames` byte and of the CRC within a frame or record of `size` bytes.
constexpr std::size_t followingIndex(std::size_t size) {
    return size - 2;
}

// 0x01 info request and 0x31 preset announcement: product id, master serial; following 0.
Bytes buildIdentityFrame(std::uint8_t command);

// 0x10 and 0x20: a 4-character command word, the master serial; following 0.
Bytes buildCommandWordFrame(std::uint8_t command, std::string_view word);

// The 22-byte test-mode frame (0x10) with one of the 0x10 words.
inline Bytes buildTestModeFrame(std::string_view word) {
    return buildCommandWordFrame(0x10, word);
}

} // namespace zanst::bus
