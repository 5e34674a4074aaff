#include "bank_summary.hpp"

#include <cstdint>

namespace zanst::bank {

namespace {

// Keeps the first cell of a tie, so that the summary names the lowest cell number.
void track(std::optional<CellExtreme>& extreme, int cell, int value, bool wantHigher) {
    if (!extreme) {
        extreme = CellExtreme{cell, value, 1};
        return;
    }
    if (value == extreme->value) {
        ++extreme->ties;
    } else if (wantHigher ? value > extreme->value : value < extreme->value) {
        *extreme = CellExtreme{cell, value, 1};
    }
}

} // namespace

VoltageLevel millivoltLevel(int millivolts) {
    // The same single-precision comparison as the table, so both agree at the band edges.
    return voltageLevel(static_cast<float>(millivolts) / 1000.0f);
}

BankSummary summarizeBank(const BankSnapshot& snapshot, std::optional<int> setpointMv) {
    BankSummary summary;
    std::int64_t temperatureSum = 0;
    int temperatures = 0;
    const bool haveSetpoint = setpointMv && *setpointMv > 0;
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        const BalancerReading& r = snapshot.balancers[i];
        const int cell = static_cast<int>(i) + 1;
        if (!r.millivolts) {
            continue; // no measurement yet: neither voltage nor temperature is real
        }
        const int mv = *r.millivolts;
        ++summary.cellCount;
        track(summary.minVoltage, cell, mv, false);
        track(summary.maxVoltage, cell, mv, true);
        track(summary.maxTemperature, cell, r.tenthsCelsius, true);
        temperatureSum += r.tenthsCelsius;
        ++temperatures;
        if (const VoltageLevel level = millivoltLevel(mv); level != VoltageLevel::Normal) {
            summary.flagged.push_back({cell, mv, level});
        }
        if (haveSetpoint && mv > *setpointMv) {
            summary.balancing.push_back(cell);
        }
    }
    if (summary.minVoltage && summary.maxVoltage) {
        summary.deltaMv = summary.maxVoltage->value - summary.minVoltage->value;
    }
    if (temperatures > 0) {
        const std::int64_t half = temperatures / 2;
        const std::int64_t rounded = temperatureSum >= 0 ? (temperatureSum + half) / temperatures
                                                         : (temperatureSum - half) / temperatures;
        summary.averageTenthsCelsius = static_cast<int>(rounded);
    }
    return summary;
}

} // namespace zanst::bank
