#include "bus/records.hpp"
#include "bus/tables.hpp"
#include "sim/balancer.hpp"
#include "sim/presets.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

struct PackCase {
    int mv;
    int ma;
    std::uint32_t word;
};

class PackMeasurement : public testing::TestWithParam<PackCase> {};

TEST_P(PackMeasurement, VoltageInTheLowBitsCurrentSignedAbove) {
    EXPECT_EQ(packMeasurement(GetParam().mv, GetParam().ma), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(Table, PackMeasurement,
                         testing::Values(PackCase{3300, 0, 0x000008FCu}, PackCase{3300, -500000, 0x85EE08FCu},
                                         PackCase{1000, 1, 0x00001000u},
                                         PackCase{900, 0, 0x00000000u},  // below range: clamped to 1000 mV
                                         PackCase{6000, 0, 0x00000FFFu}, // above: clamped to 5095 mV
                                         PackCase{3300, 900000, 0x7FFFF8FCu} // current clamped to 20 bits
                                         ));

TEST(PackTemperature, TenthsShiftedFiveBits) {
    EXPECT_EQ(packTemperature(200), 0x1900);
    EXPECT_EQ(packTemperature(-400), 0xCE00);
    EXPECT_EQ(packTemperature(800), 0x6400);
}

Balancer board(Sensor sensor) {
    Balancer b;
    b.id = 7;
    b.sensor = sensor;
    b.serial = "SIMA602B002";
    b.productId = 0xA602;
    b.capacity = 100;
    b.vSensorError = 0.001;
    b.iSensorError = 0.01;
    b.iZeroError = sensor == Sensor::None ? 0 : 25;
    b.trueMv = 3300;
    b.factoryCalibrate();
    return b;
}

TEST(Balancer, InfoRecordLayout) {
    Balancer b = board(Sensor::HighRange);
    b.bootMode = true;
    const bus::Bytes r = b.infoRecord(1);
    ASSERT_EQ(r.size(), 32U);
    EXPECT_EQ(r[0], 0x01);
    EXPECT_EQ(r[1], 0x03);
    EXPECT_EQ(bus::getLe16(r, 2), 7);
    EXPECT_EQ(std::string(r.begin() + 4, r.begin() + 15), "SIMA602B002");
    EXPECT_EQ(r[15], 0);
    EXPECT_EQ(bus::getLe16(r, 16), 0xA602);
    EXPECT_EQ(bus::getLe16(r, 18), 100);
    EXPECT_EQ(bus::getLe32(r, 20), kFactoryFirmware);
    EXPECT_EQ(bus::getLe32(r, 24), kBootLoaderVersion);
    EXPECT_EQ(r[29], 1);
    EXPECT_EQ(r[30], 1);
    EXPECT_EQ(r[31], test::crc8(r, 31));
}

TEST(Balancer, FactoryCalibrationReadsTrueValues) {
    for (Sensor s : {Sensor::None, Sensor::LowRange, Sensor::HighRange}) {
        const Balancer b = board(s);
        EXPECT_NEAR(b.reportedMv(), 3300, 1);
        EXPECT_EQ(b.reportedMa(20000.0) == 0, s == Sensor::None);
        if (s != Sensor::None) {
            EXPECT_NEAR(b.reportedMa(20000.0), 20000, 10);
            EXPECT_NEAR(b.reportedMa(0.0), 0, 5);
        }
    }
}

TEST(Balancer, LowRangeSensorSaturatesHighRangeDoesNot) {
    EXPECT_NEAR(board(Sensor::LowRange).reportedMa(100000.0), kLowRangeLimitMa, 1000);
    EXPECT_NEAR(board(Sensor::HighRange).reportedMa(100000.0), 100000, 20);
}

TEST(Balancer, MeasurementRecordCarriesStatusBits) {
    Balancer b = board(Sensor::LowRange);
    b.testMode = true;
    b.loadOn = true;
    b.bleeding = true;
    b.tempTenths = 251;
    bus::Bytes r = test::measurementRecord(7, 0x00, 0, 0, 0);
    b.fillMeasurement(r, 0.0, 0, 0);
    EXPECT_EQ(r[1], 0xC3);
    EXPECT_EQ(bus::getLe16(r, 2), 7); // id untouched
    EXPECT_EQ(bus::cellVoltageMv(static_cast<std::int32_t>(bus::getLe32(r, 4))), b.reportedMv());
    EXPECT_EQ(bus::getLe16(r, 8), packTemperature(251));
}

struct CalCase {
    const char* name;
    Sensor sensor;
    bool testMode;
    int kind; // 1 voltage, 2 gain, 3 offset
    int value;
    double currentMa;
    bool accepted;
};

class Calibration : public testing::TestWithParam<CalCase> {};

TEST_P(Calibration, TakenOnlyWhenSound) {
    const CalCase& c = GetParam();
    Balancer b = board(c.sensor);
    b.testMode = c.testMode;
    const CalibrationConstants before = b.working;
    std::string refused;
    switch (c.kind) {
    case 1:
        refused = b.calibrateVoltage(c.value);
        break;
    case 2:
        refused = b.calibrateCurrentGain(c.value, c.currentMa);
        break;
    default:
        refused = b.calibrateCurrentOffset(c.currentMa);
        break;
    }
    EXPECT_EQ(refused.empty(), c.accepted) << c.name << ": " << refused;
    if (!c.accepted) {
        EXPECT_EQ(b.working, before) << c.name;
        return;
    }
    switch (c.kind) {
    case 1:
        EXPECT_NEAR(b.reportedMv(), c.value, 1) << c.name;
        break;
    case 2:
        EXPECT_NEAR(b.reportedMa(c.currentMa), c.value * 100, 10) << c.name;
        break;
    default:
        EXPECT_NEAR(b.reportedMa(c.currentMa), 0, 10) << c.name;
        break;
    }
    EXPECT_EQ(b.saved, before) << c.name << ": nothing is saved before the save command";
}

INSTANTIATE_TEST_SUITE_P(
    Table, Calibration,
    testing::Values(CalCase{"voltage to the reference", Sensor::None, true, 1, 3312, 0, true},
                    CalCase{"voltage outside test mode", Sensor::None, false, 1, 3312, 0, false},
                    CalCase{"voltage 20 % off is a wrong reference", Sensor::None, true, 1, 2640, 0, false},
                    CalCase{"gain at 25.0 A", Sensor::LowRange, true, 2, 250, 24000, true},
                    CalCase{"gain without current flowing", Sensor::LowRange, true, 2, 250, 0, false},
                    CalCase{"gain on a board without sensor", Sensor::None, true, 2, 250, 24000, false},
                    CalCase{"gain three times off", Sensor::HighRange, true, 2, 750, 24000, false},
                    CalCase{"offset at rest", Sensor::HighRange, true, 3, 0, 0, true},
                    CalCase{"offset with 10 A flowing", Sensor::LowRange, true, 3, 0, 10000, false}),
    [](const testing::TestParamInfo<CalCase>& p) { return "case" + std::to_string(p.index); });

TEST(Balancer, SaveWritesThePageAndClearsTheParametersReloadRestores) {
    Balancer b = board(Sensor::LowRange);
    b.testMode = true;
    const CalibrationConstants factory = b.saved;
    ASSERT_TRUE(b.calibrateVoltage(3310).empty());
    b.reloadCalibration();
    EXPECT_EQ(b.working, factory);

    ASSERT_TRUE(b.calibrateVoltage(3310).empty());
    ASSERT_TRUE(b.saveCalibration().empty());
    EXPECT_EQ(b.saved, b.working);
    EXPECT_TRUE(b.serial.empty());
    EXPECT_EQ(b.capacity, 0);
    EXPECT_EQ(b.infoRecord(0)[4], 0); // an empty serial goes out as zeros

    ASSERT_TRUE(b.setParameters(280, 0xA0C8, "NEWSERIAL01").empty());
    EXPECT_EQ(b.serial, "NEWSERIAL01");
    EXPECT_EQ(bus::getLe16(b.infoRecord(0), 16), 0xA0C8);
    b.testMode = false;
    EXPECT_FALSE(b.setParameters(1, 2, "OTHERSERIAL").empty());
}

struct AdjustCase {
    int operation;
    int step;
    int gainAfter; // from a gain of 10000
};

class CurrentAdjust : public testing::TestWithParam<AdjustCase> {};

TEST_P(CurrentAdjust, StepsTheGainAndStoresIt) {
    Balancer b = board(Sensor::LowRange);
    b.working.iGain = kGainUnity;
    ASSERT_TRUE(b.adjustCurrent(GetParam().operation, GetParam().step, 0.0).empty());
    EXPECT_EQ(b.working.iGain, GetParam().gainAfter);
    EXPECT_EQ(b.saved.iGain, GetParam().gainAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, CurrentAdjust,
                         testing::Values(AdjustCase{adjust::kIncreaseGain, 2, 10020},
                                         AdjustCase{adjust::kDecreaseGain, 2, 9980},
                                         AdjustCase{adjust::kDefaultGain, 0, 10000},
                                         AdjustCase{adjust::kZeroCurrent, 0, 10000}));

TEST(Presets, ParseByProductId) {
    EXPECT_EQ(parsePreset("0xA602")->cellsInSeries, 4);
    EXPECT_EQ(parsePreset("a612")->cellsInSeries, 16);
    EXPECT_EQ(parsePreset("A60A")->capacityAh, 300);
    EXPECT_FALSE(parsePreset("0xA601"));
    EXPECT_FALSE(parsePreset("A602x"));
    EXPECT_FALSE(parsePreset(""));
    EXPECT_FALSE(parsePreset("0x1A602"));
}

} // namespace
} // namespace zanst::sim
