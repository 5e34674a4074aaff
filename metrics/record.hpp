#pragma once
// One battery's lifetime metrics as its balancer keeps them (one "instance" of a fetch), and the
// order in which its members travel on the bus.

#include <array>
#include <cstddef>
#include <cstdint>

namespace zanst::metrics {

// Range counts of the time matrix; the order of each range is that of the range tables.
inline constexpr std::size_t kSocRanges = 5;         // 0-10 %, 10-30 %, 30-70 %, 70-90 %, 90-100 %
inline constexpr std::size_t kTemperatureRanges = 4; // <0, 0-20, 20-40, 40-60 degC
inline constexpr std::size_t kCRateRanges = 5;       // 0-0.5, 0.5-1, 1-1.5, 1.5-2, >2 C

// Seconds per [state of charge][temperature][C-rate].
using TimeMatrix =
    std::array<std::array<std::array<std::uint32_t, kCRateRanges>, kTemperatureRanges>, kSocRanges>;

struct MetricsMetadata {
    // Layout version of the balancer's stored copy; carried, never read by the tool.
    std::uint16_t layoutVersion = 0;
    std::uint32_t secsLifeSpan = 0;
    std::uint16_t cyclesBeforeEOL = 0;
    std::uint16_t secsAtIRRange100_110perc = 0;
    std::uint16_t secsAtIRRange110_120perc = 0;
    std::uint16_t secsAtIRRange120_130perc = 0;
    std::uint16_t secsAtIRRange130_150perc = 0;
    std::uint16_t secsAtIRRange150_175perc = 0;
    std::uint16_t secsAtIRRange175_200perc = 0;
    std::uint16_t secsAtIRRange200_225perc = 0;
    std::uint16_t secsAtIRAbove225perc = 0;
    std::uint32_t secsInUndervoltage = 0;
    std::uint32_t secsInOvervoltage = 0;
    std::uint32_t secsInSub01C = 0;
    TimeMatrix timeMatrix{};
    std::uint16_t instanceNumber = 0; // 1-based
    // Checksum the balancer keeps over its stored copy; carried, never read by the tool (the
    // frame's CRC-8 guards the transfer).
    std::uint16_t storeChecksum = 0;

    friend bool operator==(const MetricsMetadata&, const MetricsMetadata&) = default;
};

// Calls f(member) for every scalar member in declaration order, the matrix element by element
// ([s][t][c], c fastest). The answer's encoder and decoder both walk this one list.
template <typename Record, typename F> constexpr void forEachField(Record& m, F&& f) {
    f(m.layoutVersion);
    f(m.secsLifeSpan);
    f(m.cyclesBeforeEOL);
    f(m.secsAtIRRange100_110perc);
    f(m.secsAtIRRange110_120perc);
    f(m.secsAtIRRange120_130perc);
    f(m.secsAtIRRange130_150perc);
    f(m.secsAtIRRange150_175perc);
    f(m.secsAtIRRange175_200perc);
    f(m.secsAtIRRange200_225perc);
    f(m.secsAtIRAbove225perc);
    f(m.secsInUndervoltage);
    f(m.secsInOvervoltage);
    f(m.secsInSub01C);
    for (auto& byTemperature : m.timeMatrix) {
        for (auto& byCRate : byTemperature) {
            for (auto& seconds : byCRate) {
                f(seconds);
            }
        }
    }
    f(m.instanceNumber);
    f(m.storeChecksum);
}

// Bytes of a record on the bus: every member little-endian, no padding.
constexpr std::size_t wireSize() {
    MetricsMetadata m{};
    std::size_t n = 0;
    forEachField(m, [&n](const auto& v) { n += sizeof(v); });
    return n;
}
inline constexpr std::size_t kRecordWireSize = wireSize();
static_assert(kRecordWireSize == 440);

} // namespace zanst::metrics
