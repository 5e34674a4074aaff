#include "calibration_rows.hpp"

#include "bus/hex.hpp"

namespace zanst::bank {

namespace {

constexpr std::uint8_t kTestModeFlag = 0x80;

std::string& cell(CalibrationRow& row, CalColumn c) {
    return row.text[static_cast<std::size_t>(c)];
}

} // namespace

std::vector<CalibrationRow> calibrationRows(const BankSnapshot& snapshot, const bus::TextFormat& format) {
    std::vector<CalibrationRow> rows(snapshot.balancers.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BalancerReading& b = snapshot.balancers[i];
        CalibrationRow& row = rows[i];
        const bool testMode = (b.statusFlags & kTestModeFlag) != 0;
        cell(row, CalColumn::CellId) = std::to_string(b.cellId);
        if (b.millivolts) {
            row.voltage = bus::scaledText(*b.millivolts, 3, format);
            cell(row, CalColumn::Voltage) = *row.voltage;
        }
        cell(row, CalColumn::Current) = b.measuresCurrent() ? bus::scaledText(b.milliamps, 3, format) : "-";
        cell(row, CalColumn::VGain) = testMode ? std::to_string(b.vGain) : "?";
        const auto currentValue = [&](std::uint16_t value) {
            if (!b.measuresCurrent()) {
                return std::string("-");
            }
            return testMode ? std::to_string(value) : std::string("?");
        };
        cell(row, CalColumn::IGain) = currentValue(b.iGain);
        cell(row, CalColumn::IOffset) = currentValue(b.iOffset);
        cell(row, CalColumn::Capacity) = std::to_string(b.capacity);
        cell(row, CalColumn::Measure) = b.measuresCurrent() ? "V, T, I" : "V, T";
        cell(row, CalColumn::Serial) = b.serial;
        cell(row, CalColumn::Status) = bus::ConvertHex1(b.statusFlags, 2);
        cell(row, CalColumn::HWrev) = std::to_string(b.hwRevision);
    }
    return rows;
}

} // namespace zanst::bank
