#pragma once
// The calibration table of the "Calibration" tab: one row per balancer with its calibration
// values, made from a bank snapshot as texts. The values show only while the balancer is in test
// mode ("?" otherwise); the current values only where it measures current ("-" otherwise).

#include "bank_snapshot.hpp"
#include "bus/number_text.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zanst::bank {

enum class CalColumn : int {
    CellId = 0,
    Voltage,
    Current,
    VGain,
    IGain,
    IOffset,
    Capacity,
    Measure,
    Serial,
    Status,
    HWrev,
};
inline constexpr int kCalColumnCount = 11;

struct CalibrationRow {
    std::array<std::string, kCalColumnCount> text{};
    // Empty while the balancer has no measurement: the table keeps the voltage it showed.
    std::optional<std::string> voltage;

    const std::string& operator[](CalColumn c) const { return text[static_cast<std::size_t>(c)]; }
};

// One row per balancer of the snapshot, in order.
std::vector<CalibrationRow> calibrationRows(const BankSnapshot& snapshot, const bus::TextFormat& format);

} // namespace zanst::bank
