// The calibration table's texts: values only in test mode, current values only with a sensor.

#include "bank/calibration_rows.hpp"

#include <gtest/gtest.h>

namespace zanst::bank {
namespace {

struct Case {
    std::uint8_t infoFlags;
    std::uint8_t statusFlags;
    const char* current;
    const char* vGain;
    const char* iGain;
    const char* iOffset;
    const char* measure;
    const char* status;
};

class CalibrationRowTexts : public testing::TestWithParam<Case> {};

TEST_P(CalibrationRowTexts, FollowTestModeAndTheCurrentSensor) {
    const Case& c = GetParam();
    BankSnapshot snapshot;
    BalancerReading& b = snapshot.balancers.emplace_back();
    b.cellId = 7;
    b.millivolts = 3301;
    b.milliamps = -1250;
    b.infoFlags = c.infoFlags;
    b.statusFlags = c.statusFlags;
    b.vGain = 10012;
    b.iGain = 65535;
    b.iOffset = 40000;
    b.capacity = 100;
    b.serial = "SIMA602B001";
    b.hwRevision = 3;

    const CalibrationRow row = calibrationRows(snapshot, bus::TextFormat{})[0];
    EXPECT_EQ(row[CalColumn::CellId], "7");
    EXPECT_EQ(row[CalColumn::Voltage], "3.301");
    EXPECT_EQ(row[CalColumn::Current], c.current);
    EXPECT_EQ(row[CalColumn::VGain], c.vGain);
    EXPECT_EQ(row[CalColumn::IGain], c.iGain);
    EXPECT_EQ(row[CalColumn::IOffset], c.iOffset);
    EXPECT_EQ(row[CalColumn::Capacity], "100");
    EXPECT_EQ(row[CalColumn::Measure], c.measure);
    EXPECT_EQ(row[CalColumn::Serial], "SIMA602B001");
    EXPECT_EQ(row[CalColumn::Status], c.status);
    EXPECT_EQ(row[CalColumn::HWrev], "3");
}

INSTANTIATE_TEST_SUITE_P(Table, CalibrationRowTexts,
                         testing::Values(
                             // No sensor: "-" for the current values, test mode or not.
                             Case{0x00, 0x80, "-", "10012", "-", "-", "V, T", "80"},
                             Case{0x00, 0x40, "-", "?", "-", "-", "V, T", "40"},
                             // A sensor: the values in test mode (unsigned), "?" otherwise.
                             Case{0x01, 0xC1, "-1.250", "10012", "65535", "40000", "V, T, I", "C1"},
                             Case{0x03, 0x42, "-1.250", "?", "?", "?", "V, T, I", "42"},
                             // High range alone is no sensor for these columns: bit 0 decides.
                             Case{0x02, 0x80, "-", "10012", "-", "-", "V, T", "80"}),
                         [](const testing::TestParamInfo<Case>& p) {
                             return "case" + std::to_string(p.index);
                         });

TEST(CalibrationRows, ANotYetMeasuredBalancerLeavesItsVoltageToTheTable) {
    BankSnapshot snapshot;
    snapshot.balancers.emplace_back();
    const CalibrationRow row = calibrationRows(snapshot, bus::TextFormat{','})[0];
    EXPECT_FALSE(row.voltage.has_value());
    EXPECT_EQ(row[CalColumn::Voltage], "");
    EXPECT_EQ(row[CalColumn::CellId], "0");
    EXPECT_EQ(row[CalColumn::Status], "00");
}

} // namespace
} // namespace zanst::bank
