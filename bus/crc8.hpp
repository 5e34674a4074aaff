#pragma once
// CRC-8 of the battery bus: polynomial 0x07, initial 0, no reflection, no final XOR.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zanst::bus {

constexpr std::array<std::uint8_t, 256> makeCrcTable() {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto crc = static_cast<std::uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) ? static_cast<std::uint8_t>((crc << 1) ^ 0x07)
                               : static_cast<std::uint8_t>(crc << 1);
        }
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

inline constexpr std::array<std::uint8_t, 256> kCrcTable = makeCrcTable();

// CRC-8 of bytes 0..num-1; num beyond the span is cut to its size.
std::uint8_t getCRC(std::span<const std::uint8_t> data, std::size_t num);

// Stores the CRC-8 of bytes 0..num-1 in byte num. Does nothing when byte num lies outside data.
void calcCRC(std::span<std::uint8_t> data, std::size_t num);

} // namespace zanst::bus
