#pragma once
// Entry points for a libFuzzer target: arbitrary bytes into the metrics file reader and into the
// answer decoder. Any input returns normally; a broken round trip aborts.

#include <cstdint>
#include <span>

namespace zanst::metrics {

// Byte 0 picks the instance to read (0..15), the rest is the file's content.
void fuzzMetricsFile(std::span<const std::uint8_t> data);

// The bytes as one received 0x50 frame: sized as a receiver would, decoded, and an accepted
// record rebuilt and decoded again.
void fuzzMetricsAnswer(std::span<const std::uint8_t> data);

} // namespace zanst::metrics
