#pragma once
// What records carry: the packed measurement and temperature words, record sizes by type, and
// whether a frame or record holds a valid CRC-8.

#include "protocol.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace zanst::bus {

// Bits 0..11: cell voltage in mV - 1000; bits 12..31: current in mA, signed. Values outside the
// fields wrap into them; a sender that must not wrap clamps first.
constexpr std::uint32_t packMeasurement(std::int32_t millivolts, std::int32_t milliamps) {
    return (static_cast<std::uint32_t>(milliamps) << 12) |
           (static_cast<std::uint32_t>(millivolts - 1000) & 0xFFFu);
}

// Bits 5..15: temperature in 0.1 degC, signed; bits 0..4 zero.
constexpr std::uint16_t packTemperature(std::int32_t tenths) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(tenths) << 5);
}

// The values of a measurement entry's words.
constexpr int cellVoltageMv(std::int32_t measurement) {
    return (measurement & 0xFFF) + 1000;
}
constexpr int cellCurrentMa(std::int32_t measurement) {
    return measurement >> 12;
}
constexpr int temperatureTenths(std::int16_t temperature) {
    return temperature >> 5;
}

// Size of a record by its type byte; 0 for a type no balancer sends.
constexpr std::size_t recordSize(std::uint8_t type) {
    switch (type) {
    case rec::kInfo:
        return rec::kInfoSize;
    case rec::kMeasurement:
        return rec::kMeasurementSize;
    case rec::kCalibration:
        return rec::kCalibrationSize;
    default:
        return 0;
    }
}

// True when the last byte is the CRC-8 of everything before it (at least two bytes).
bool crcValid(std::span<const std::uint8_t> frameOrRecord);

} // namespace zanst::bus
