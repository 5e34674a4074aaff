#pragma once
// What the Metrics tab shows of one instance: thirteen field texts and the 25 x 4 matrix.

#include "record.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::metrics {

inline constexpr std::size_t kFieldCount = 13;
inline constexpr std::size_t kMatrixRows = kSocRanges * kCRateRanges; // one row per SoC and C-rate

// Element [s + 5 * c][t]: a block of five rows per C-rate range, a column per temperature range.
// Unsigned like the record, so that no value above 2147483647 turns negative on screen.
using MatrixData = std::array<std::array<std::uint32_t, kTemperatureRanges>, kMatrixRows>;

// The thirteen field texts in caption order.
using MetricsFields = std::array<std::string, kFieldCount>;

inline constexpr std::array<std::string_view, kFieldCount> kFieldCaptions{
    "LifeSpan:",
    "cyclesBeforeEOL:",
    "secsAtIRRange100_110perc:",
    "secsAtIRRange110_120perc:",
    "secsAtIRRange120_130perc:",
    "secsAtIRRange130_150perc:",
    "secsAtIRRange150_175perc:",
    "secsAtIRRange175_200perc:",
    "secsAtIRRange200_225perc:",
    "secsAtIRAbove225perc:",
    "secsInUndervoltage:",
    "secsInOvervoltage:",
    "secsInSub01C:",
};

inline constexpr std::array<std::string_view, kSocRanges> kSocLabels{"0-10% SoC", "10-30% SoC", "30-70% SoC",
                                                                     "70-90% SoC", "90-100% SoC"};
inline constexpr std::array<std::string_view, kTemperatureRanges> kTemperatureLabels{"<0C°", "0-20C°",
                                                                                     "20-40C°", "40-60C°"};
inline constexpr std::array<std::string_view, kCRateRanges> kCRateLabels{"0-0.5C", "0.5-1C", "1.0-1.5C",
                                                                         "1.5-2.0C", ">2.0C"};

// "{days}d{hours}h{minutes}m{seconds}s": 90061 gives 1d1h1m1s.
std::string metricsSecondsFormatting(std::uint32_t seconds);

MatrixData toMatrixData(const TimeMatrix& matrix);

// The instance label over a block's values: "Instance: " and the number on the block's own
// "Instance:" line (MetricsFileRead::instanceInFile), which names the battery; "Instance: -"
// without one.
std::string instanceLabelText(std::optional<std::uint32_t> instanceInFile);

// The thirteen scalar members in decimal, in caption order.
MetricsFields fieldTexts(const MetricsMetadata& record);

} // namespace zanst::metrics
