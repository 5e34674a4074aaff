#pragma once
// The bank summary above the cell tables: how many cells report, the lowest and highest cell
// with their numbers, the spread, the temperatures, and which cells lie outside the bands the
// tables colour. Computed from the numeric snapshot, never from the table's texts.

#include "bank_snapshot.hpp"
#include "cell_rows.hpp"

#include <optional>
#include <vector>

namespace zanst::bank {

struct CellExtreme {
    int cell = 0;  // the balancer number (1-based row); the lowest number among equal values
    int value = 0; // mV or 0.1 degC
    int ties = 1;  // cells holding the same value
};

struct FlaggedCell {
    int cell = 0;
    int millivolts = 0;
    VoltageLevel level = VoltageLevel::Warning;
};

struct BankSummary {
    int cellCount = 0;                     // balancers with a voltage
    std::optional<CellExtreme> minVoltage; // empty for a bank without voltages
    std::optional<CellExtreme> maxVoltage;
    int deltaMv = 0;
    std::optional<int> averageTenthsCelsius; // rounded half away from zero
    std::optional<CellExtreme> maxTemperature;
    std::vector<FlaggedCell> flagged; // outside the normal band, in cell order
    std::vector<int> balancing;       // cells above the balancing setpoint, in cell order
};

// `setpointMv` is the balancing setpoint in force (0 or empty when not known): a balancer bleeds
// its cell above it, so those cells count as balancing.
BankSummary summarizeBank(const BankSnapshot& snapshot, std::optional<int> setpointMv = std::nullopt);

// The band of a cell voltage in mV, as the tables colour it.
VoltageLevel millivoltLevel(int millivolts);

} // namespace zanst::bank
