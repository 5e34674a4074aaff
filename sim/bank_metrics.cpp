#include "sim/bank_metrics.hpp"

#include "bus/protocol.hpp"
#include "metrics/answer.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

namespace zanst::sim {

namespace {

constexpr std::uint32_t kDay = 86400;

// How a battery standing in a bank spends its time: mostly charged, at room temperature and at
// low current.
constexpr std::array<double, metrics::kSocRanges> kSocShare{0.02, 0.05, 0.18, 0.35, 0.40};
constexpr std::array<double, metrics::kTemperatureRanges> kTemperatureShare{0.03, 0.27, 0.62, 0.08};
constexpr std::array<double, metrics::kCRateRanges> kCRateShare{0.80, 0.13, 0.05, 0.015, 0.005};

std::uint16_t clamp16(std::uint64_t v) {
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(v, 0xFFFF));
}

} // namespace

metrics::MetricsMetadata simulatedMetrics(const BankConfig& config, int battery) {
    std::mt19937 rng(config.seed * 7919u + static_cast<std::uint32_t>(battery));
    const auto draw = [&rng](std::uint32_t lo, std::uint32_t hi) {
        return std::uniform_int_distribution<std::uint32_t>(lo, hi)(rng);
    };

    metrics::MetricsMetadata m;
    m.layoutVersion = metrics::kLayoutVersion;
    m.instanceNumber = static_cast<std::uint16_t>(battery);
    const std::uint32_t days = 200 + 180 * static_cast<std::uint32_t>(battery - 1) + draw(0, 40);
    m.secsLifeSpan = days * kDay + draw(0, kDay - 1);
    m.cyclesBeforeEOL = clamp16(6000 - std::min<std::uint32_t>(6000, days * 4 / 5));

    // Internal resistance rises with age: an older battery spends longer in the higher ranges.
    std::uint64_t ir = 20000 + 4000ull * static_cast<std::uint64_t>(battery) + draw(0, 999);
    for (std::uint16_t* range :
         {&m.secsAtIRRange100_110perc, &m.secsAtIRRange110_120perc, &m.secsAtIRRange120_130perc,
          &m.secsAtIRRange130_150perc, &m.secsAtIRRange150_175perc, &m.secsAtIRRange175_200perc,
          &m.secsAtIRRange200_225perc, &m.secsAtIRAbove225perc}) {
        *range = clamp16(ir);
        ir = ir * static_cast<std::uint64_t>(battery + 2) / 12;
    }
    m.secsInUndervoltage = 600 * static_cast<std::uint32_t>(battery) + draw(0, 3600);
    m.secsInOvervoltage = 300 * static_cast<std::uint32_t>(battery) + draw(0, 1800);
    m.secsInSub01C = m.secsLifeSpan / 10 * 6 + draw(0, 3600);

    // The life span spread over the ranges, each share varied a little by battery; what rounding
    // leaves goes to the largest cell, so the matrix adds up to the life span exactly.
    std::array<double, metrics::kSocRanges * metrics::kTemperatureRanges * metrics::kCRateRanges> weight{};
    double total = 0;
    std::size_t i = 0;
    for (std::size_t s = 0; s < metrics::kSocRanges; ++s) {
        for (std::size_t t = 0; t < metrics::kTemperatureRanges; ++t) {
            for (std::size_t c = 0; c < metrics::kCRateRanges; ++c) {
                weight[i] =
                    kSocShare[s] * kTemperatureShare[t] * kCRateShare[c] * (0.75 + draw(0, 500) / 1000.0);
                total += weight[i++];
            }
        }
    }
    std::uint64_t given = 0;
    std::uint32_t* largest = &m.timeMatrix[0][0][0];
    i = 0;
    for (auto& byTemperature : m.timeMatrix) {
        for (auto& byCRate : byTemperature) {
            for (std::uint32_t& seconds : byCRate) {
                seconds = static_cast<std::uint32_t>(m.secsLifeSpan * (weight[i++] / total));
                given += seconds;
                if (seconds > *largest) {
                    largest = &seconds;
                }
            }
        }
    }
    *largest += static_cast<std::uint32_t>(m.secsLifeSpan - given);
    m.storeChecksum = metrics::storeChecksum(m); // last: it covers every member before it
    return m;
}

Answer Bank::answerMetrics(const Message& request) {
    const bus::Bytes& frame = request.frame;
    if (bus::isMetricsAnswer(frame) || frame.size() < 5) {
        return {flatten(request), "metrics frame passed on"};
    }
    const int instance = frame[4];
    const std::string what = "metrics instance " + std::to_string(instance);
    if (instance < 1 || instance > config_.batteries) {
        return {flatten(request), what + ": no such battery, passed on unanswered"};
    }
    if (instance == config_.metricsSilent) {
        return {flatten(request), what + ": kept silent (--metrics-silent)"};
    }
    const metrics::MetricsMetadata m = simulatedMetrics(config_, instance);
    bus::Bytes out = flatten(request);
    const bus::Bytes answer = metrics::buildMetricsAnswer(m);
    out.insert(out.end(), answer.begin(), answer.end());
    return {out, what + " answered: secsLifeSpan=" + std::to_string(m.secsLifeSpan) +
                     " cyclesBeforeEOL=" + std::to_string(m.cyclesBeforeEOL)};
}

} // namespace zanst::sim
