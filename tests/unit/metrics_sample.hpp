#pragma once
// A metrics record whose every member differs, so that a value read from the wrong place shows.

#include "metrics/record.hpp"

namespace zanst::test {

// Matrix element [s][t][c] = 100 s + 10 t + c + offset; the last one is the largest u32.
inline metrics::MetricsMetadata sampleMetrics(std::uint16_t instance, std::uint32_t offset = 0) {
    metrics::MetricsMetadata m;
    m.layoutVersion = 0x0102;
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
    m.storeChecksum = 0xBEEF;
    return m;
}

} // namespace zanst::test
