#pragma once
// Intel HEX text for the updater tests, written independently of the reader.

#include "bus/bytes.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

namespace zanst::test {

inline std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// One record line with its checksum: ":" count, address, type, data, checksum.
inline std::string hexRecord(std::uint16_t address, std::uint8_t type, const bus::Bytes& data) {
    std::string line = ":" + hexByte(static_cast<unsigned>(data.size())) + hexByte(address >> 8u) +
                       hexByte(address) + hexByte(type);
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8u) + (address & 0xFFu) + type;
    for (auto b : data) {
        line += hexByte(b);
        sum += b;
    }
    return line + hexByte(0x100u - (sum & 0xFFu));
}

// The image as 16-byte data records from `address` on (its length a multiple of 16), closed by
// an end-of-file record.
inline std::string hexFile(std::uint16_t address, const bus::Bytes& image) {
    std::string text;
    for (std::size_t at = 0; at + 16 <= image.size(); at += 16) {
        text += hexRecord(static_cast<std::uint16_t>(address + at), 0,
                          bus::Bytes(image.begin() + static_cast<long>(at),
                                     image.begin() + static_cast<long>(at) + 16)) +
                "\n";
    }
    return text + ":00000001FF\n";
}

// `size` bytes counting up, with the version word little-endian at 1029..1032 when it fits.
inline bus::Bytes imageBytes(std::size_t size, std::uint32_t version) {
    bus::Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    if (size >= 1033) {
        bus::putLe32(image, 1029, version);
    }
    return image;
}

} // namespace zanst::test
