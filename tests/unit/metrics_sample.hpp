#pragma once
// A metrics record whose every member differs, so that a value read from the wrong place shows.

#include "metrics/record.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace zanst::test {

// CRC-16 with polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR, bit by bit: the
// reference for the balancer's checksum (check value 0x29B1 over the ASCII digits 1 to 9).
inline std::uint16_t referenceCrc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (b << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

// The balancer's checksum over its stored copy: every member from the layout version through the
// instance number, little-endian, in declaration order.
inline std::uint16_t referenceStoreChecksum(const metrics::MetricsMetadata& m) {
    std::vector<std::uint8_t> bytes;
    metrics::forEachField(m, [&bytes](auto v) {
        for (std::size_t i = 0; i < sizeof(v); ++i) {
            bytes.push_back(static_cast<std::uint8_t>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF));
        }
    });
    bytes.resize(bytes.size() - sizeof(m.storeChecksum)); // the checksum does not cover itself
    return referenceCrc16(bytes);
}

// Matrix element [s][t][c] = 100 s + 10 t + c + offset; the last one is the largest u32.
inline metrics::MetricsMetadata sampleMetrics(std::uint16_t instance, std::uint32_t offset = 0) {
    metrics::MetricsMetadata m;
    m.layoutVersion = 1;
    m.secsLifeSpan = 90061 + offset;
    m.cyclesBeforeEOL = 3000;
    m.secsAtIRRange100_110perc = 1;
    m.secsAtIRRange110_120perc = 2;
    m.secsAtIRRange120_130perc = 3;
    m.secsAtIRRange130_150perc = 4;
    m.secsAtIRRange150_175perc = 5;
    m.secsAtIRRange175_200perc = 6;
    m.secsAtIRRange200_225perc = 7;
    m.secsAtIRAbove225perc = 65535;
    m.secsInUndervoltage = 11;
    m.secsInOvervoltage = 12;
    m.secsInSub01C = 4294967295u;
    for (std::uint32_t s = 0; s < 5; ++s) {
        for (std::uint32_t t = 0; t < 4; ++t) {
            for (std::uint32_t c = 0; c < 5; ++c) {
                m.timeMatrix[s][t][c] = 100 * s + 10 * t + c + offset;
            }
        }
    }
    m.timeMatrix[4][3][4] = 4294967295u;
    m.instanceNumber = instance;
    m.storeChecksum = referenceStoreChecksum(m);
    return m;
}

} // namespace zanst::test
