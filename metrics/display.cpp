#include "display.hpp"

namespace zanst::metrics {

std::string metricsSecondsFormatting(std::uint32_t seconds) {
    const std::uint32_t days = seconds / 86400;
    seconds %= 86400;
    const std::uint32_t hours = seconds / 3600;
    seconds %= 3600;
    const std::uint32_t minutes = seconds / 60;
    seconds %= 60;
    return std::to_string(days) + "d" + std::to_string(hours) + "h" + std::to_string(minutes) + "m" +
           std::to_string(seconds) + "s";
}

std::string instanceLabelText(std::optional<std::uint32_t> instanceInFile) {
    return instanceInFile ? "Instance: " + std::to_string(*instanceInFile) : std::string("Instance: -");
}

MatrixData toMatrixData(const TimeMatrix& matrix) {
    MatrixData out{};
    for (std::size_t s = 0; s < kSocRanges; ++s) {
        for (std::size_t t = 0; t < kTemperatureRanges; ++t) {
            for (std::size_t c = 0; c < kCRateRanges; ++c) {
                out[s + kSocRanges * c][t] = matrix[s][t][c];
            }
        }
    }
    return out;
}

MetricsFields fieldTexts(const MetricsMetadata& r) {
    return {std::to_string(r.secsLifeSpan),
            std::to_string(r.cyclesBeforeEOL),
            std::to_string(r.secsAtIRRange100_110perc),
            std::to_string(r.secsAtIRRange110_120perc),
            std::to_string(r.secsAtIRRange120_130perc),
            std::to_string(r.secsAtIRRange130_150perc),
            std::to_string(r.secsAtIRRange150_175perc),
            std::to_string(r.secsAtIRRange175_200perc),
            std::to_string(r.secsAtIRRange200_225perc),
            std::to_string(r.secsAtIRAbove225perc),
            std::to_string(r.secsInUndervoltage),
            std::to_string(r.secsInOvervoltage),
            std::to_string(r.secsInSub01C)};
}

} // namespace zanst::metrics
