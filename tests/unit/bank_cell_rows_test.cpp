// Rows of the tester and data monitor tables: texts, colours and battery grouping.

#include "bank/cell_rows.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::bank {
namespace {

void store(bus::BusState& s, int id, std::int32_t measurement, std::uint8_t flags = 0,
           const std::string& serial = "HQ2200A6021", std::int16_t temperature = 0) {
    test::InfoFields f;
    f.id = static_cast<std::uint16_t>(id);
    f.flags = flags;
    f.serial = serial;
    f.productId = 0x00A3;
    f.fwVersion = 0x00010AFF;
    f.blVersion = 0x00020006;
    s.tables.storeInfo(test::infoRecord(f));
    s.tables.storeMeasurement(
        test::measurementRecord(static_cast<std::uint16_t>(id), 0, measurement, temperature, 0));
    s.numCells = std::max(s.numCells, id);
}

TEST(CellRows, VoltageColoursAtTheThresholds) {
    struct Row {
        int mv;
        VoltageLevel level;
    };
    const Row rows[] = {
        {3300, VoltageLevel::Normal},  {3650, VoltageLevel::Normal},  {2800, VoltageLevel::Normal},
        {3651, VoltageLevel::Warning}, {3700, VoltageLevel::Warning}, {3750, VoltageLevel::Warning},
        {2799, VoltageLevel::Warning}, {2790, VoltageLevel::Warning}, {2700, VoltageLevel::Warning},
        {3751, VoltageLevel::Alarm},   {2699, VoltageLevel::Alarm},   {1001, VoltageLevel::Alarm},
        {5095, VoltageLevel::Alarm},
    };
    for (const Row& r : rows) {
        bus::BusState s;
        store(s, 1, test::measurementWord(r.mv, 0));
        const CellTable table = UpdateCellData(takeSnapshot(s), {});
        ASSERT_EQ(table.rows.size(), 1u);
        EXPECT_EQ(table.rows[0].level, r.level) << r.mv << " mV";
    }
}

TEST(CellRows, TextsOfARow) {
    bus::BusState s;
    store(s, 1, test::measurementWord(3301, 120), 0x01, "HQ2200A6021", static_cast<std::int16_t>(255 << 5));
    store(s, 2, test::measurementWord(3300, -1500), 0x03, "HQ2200A6021",
          static_cast<std::int16_t>(-40 << 5 | 0x1F));
    store(s, 3, 0, 0x01);                           // no measurement yet
    store(s, 4, test::measurementWord(1000, 5), 0); // voltage bits 0, current not: 1.000 V
    const CellTable table = UpdateCellData(takeSnapshot(s), {});
    ASSERT_EQ(table.rows.size(), 4u);

    const CellRow& one = table.rows[0];
    EXPECT_EQ(one[Column::Select], "");
    EXPECT_EQ(one[Column::CellId], "1");
    EXPECT_EQ(one[Column::Voltage], "3.301");
    EXPECT_EQ(one[Column::Current], "L: 0.12");
    EXPECT_EQ(one[Column::Temp], "25.5");
    EXPECT_EQ(one[Column::Serial], "HQ2200A6021");
    EXPECT_EQ(one[Column::Firmware], "v01.0A");
    EXPECT_EQ(one[Column::ProdID], "00A3");
    EXPECT_EQ(one[Column::BootLoader], "v02.00-beta06");
    EXPECT_EQ(one[Column::Spare1], "");
    EXPECT_EQ(one[Column::Spare3], "");
    EXPECT_EQ(one.cellId, 1);
    ASSERT_TRUE(one.volts.has_value());
    EXPECT_EQ(*one.volts, 3.301f);
    EXPECT_DOUBLE_EQ(one.celsius, 25.5);

    EXPECT_EQ(table.rows[1][Column::Current], "H: -1.5");
    EXPECT_EQ(table.rows[1][Column::Temp], "-4.0");
    EXPECT_EQ(table.rows[1][Column::Voltage], "3.300");

    EXPECT_EQ(table.rows[2][Column::Voltage], "-");
    EXPECT_FALSE(table.rows[2].volts.has_value());
    EXPECT_EQ(table.rows[2][Column::Current], "L: 0") << "the current follows the info flags";
    EXPECT_EQ(table.rows[2].level, VoltageLevel::Normal);

    EXPECT_EQ(table.rows[3][Column::Voltage], "1.000");
    EXPECT_EQ(table.rows[3][Column::Current], "-");
}

TEST(Snapshot, NumbersOfEveryBalancer) {
    bus::BusState s;
    store(s, 1, test::measurementWord(3301, -120), 0x03, "HQ2200A6021",
          static_cast<std::int16_t>(-40 << 5 | 0x1F));
    store(s, 2, 0, 0x00); // no measurement yet
    s.tables.balancer[1].flags = 0xC0;
    s.tables.balInfo[1].capacity = 105;
    s.tables.balInfo[1].hwRevision = 3;
    s.tables.balInfo[2].bootMode = 1;
    s.tables.storeCalibration(test::calibrationRecord(1, 0x80, 10001, 9998, 0xFFF6, 0));

    const BankSnapshot snapshot = takeSnapshot(s);
    ASSERT_EQ(snapshot.balancers.size(), 2u);
    const BalancerReading& one = snapshot.balancers[0];
    EXPECT_EQ(one.id, 1);
    EXPECT_EQ(one.millivolts, 3301);
    EXPECT_EQ(one.milliamps, -120);
    EXPECT_EQ(one.tenthsCelsius, -40);
    EXPECT_EQ(one.infoFlags, 0x03);
    EXPECT_TRUE(one.measuresCurrent() && one.highRange());
    EXPECT_EQ(one.statusFlags, 0xC0);
    EXPECT_EQ(one.serial, "HQ2200A6021");
    EXPECT_EQ(one.productId, 0x00A3);
    EXPECT_EQ(one.capacity, 105);
    EXPECT_EQ(one.fwVersion, 0x00010AFFu);
    EXPECT_EQ(one.blVersion, 0x00020006u);
    EXPECT_EQ(one.hwRevision, 3);
    EXPECT_EQ((std::array<int, 3>{one.vGain, one.iGain, one.iOffset}),
              (std::array<int, 3>{10001, 9998, 0xFFF6}));
    EXPECT_FALSE(snapshot.balancers[1].millivolts.has_value());
    EXPECT_EQ(snapshot.balancers[1].bootMode, 1);
}

TEST(CellRows, LocaleDecimalPoint) {
    bus::BusState s;
    store(s, 1, test::measurementWord(3301, 120), 0x01, "X", static_cast<std::int16_t>(255 << 5));
    const CellRow row = UpdateCellData(takeSnapshot(s), {','}).rows.at(0);
    EXPECT_EQ(row[Column::Voltage], "3,301");
    EXPECT_EQ(row[Column::Current], "L: 0,12");
    EXPECT_EQ(row[Column::Temp], "25,5");
}

TEST(CellRows, BatteriesAlternateWhiteAndGainsboro) {
    bus::BusState s;
    const char* serials[] = {"A", "A", "B", "B", "A", "C", "C"};
    int id = 0;
    for (const char* serial : serials) {
        store(s, ++id, test::measurementWord(3300, 0), 0, serial);
    }
    const BankSnapshot snapshot = takeSnapshot(s);
    std::vector<int> batteries;
    for (const auto& balancer : snapshot.balancers) {
        batteries.push_back(balancer.battery);
    }
    EXPECT_EQ(batteries, (std::vector<int>{0, 0, 1, 1, 2, 3, 3})) << "a new battery at each change of serial";
    const CellTable table = UpdateCellData(snapshot, {});
    std::vector<RowBackground> backgrounds;
    for (const auto& row : table.rows) {
        backgrounds.push_back(row.background);
    }
    using enum RowBackground;
    EXPECT_EQ(backgrounds,
              (std::vector<RowBackground>{White, White, Gainsboro, Gainsboro, White, Gainsboro, Gainsboro}));
}

TEST(CellRows, RowsCoverTheKnownBalancersButNeverPastTheTables) {
    bus::BusState s;
    EXPECT_TRUE(UpdateCellData(takeSnapshot(s), {}).rows.empty());
    s.numCells = 3;
    EXPECT_EQ(UpdateCellData(takeSnapshot(s), {}).rows.size(), 3u);
    s.numCells = 4000; // the sniffer's count may run past the 255 ids
    const CellTable table = UpdateCellData(takeSnapshot(s), {});
    EXPECT_EQ(table.rows.size(), 255u);
    EXPECT_EQ(table.rows.back()[Column::CellId], "0") << "entry 255 never filled";
    s.numCells = -1;
    EXPECT_TRUE(UpdateCellData(takeSnapshot(s), {}).rows.empty());
}

} // namespace
} // namespace zanst::bank
