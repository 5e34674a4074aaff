#pragma once
// Builders for what balancers and a BMS put on the bus, written independently of the code under test.

#include "bus/bytes.hpp"

#include <cstdint>
#include <string>

namespace zanst::test {

// CRC-8, polynomial 0x07, computed bit by bit.
std::uint8_t crc8(const bus::Bytes& bytes, std::size_t count);

// Appends the CRC of everything before the last byte into the last byte.
void sealLast(bus::Bytes& bytes);

// A frame: 0xAA, command, 0x01, payload length, payload, following byte, CRC.
bus::Bytes frame(std::uint8_t command, const bus::Bytes& payload, std::uint8_t following);

// A 0x23 data block of `total` bytes: 0xAA, 0x23, 0x01, 0xFF, `length` big-endian, then `fill`.
bus::Bytes dataBlock(std::uint16_t length, std::size_t total, std::uint8_t fill = 0x55);

// A 32-byte info record.
struct InfoFields {
    std::uint16_t id = 1;
    std::uint8_t flags = 0;
    std::string serial = "HQ2200A6021";
    std::uint16_t productId = 0xA602;
    std::uint16_t capacity = 100;
    std::uint32_t fwVersion = 0x000102FF;
    std::uint32_t blVersion = 0x00020006;
    std::uint8_t hwRevision = 0;
    std::uint8_t bootMode = 0;
    std::uint8_t following = 0;
    std::uint8_t byte15 = 0;
};
bus::Bytes infoRecord(const InfoFields& f);

// A 12-byte measurement record.
bus::Bytes measurementRecord(std::uint16_t id, std::uint8_t flags, std::int32_t measurement,
                             std::int16_t temperature, std::uint8_t following);

// A 12-byte calibration record.
bus::Bytes calibrationRecord(std::uint16_t id, std::uint8_t flags, std::uint16_t vGain, std::uint16_t iGain,
                             std::uint16_t iOffset, std::uint8_t following);

// Packed measurement word for a cell voltage in mV and a current in mA.
std::int32_t measurementWord(int millivolts, int milliamps);

bus::Bytes concat(std::initializer_list<bus::Bytes> parts);

} // namespace zanst::test
