#include "bus/records.hpp"
#include "bus/tables.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::bus {
namespace {

using test::InfoFields;
using test::infoRecord;

TEST(Tables, RecordIdIsTheLowTwelveBits) {
    struct Row {
        std::uint16_t raw;
        std::size_t entry; // 0 when nothing is stored
        bool stored;
    };
    const Row rows[] = {
        {5, 5, true}, {0x1005, 5, true}, {0xF0FF, 255, true}, {0x0100, 0, false}, {0x0FFF, 0, false}};
    for (const auto& r : rows) {
        BalancerTables t;
        const Bytes m = test::measurementRecord(r.raw, 0x40, test::measurementWord(3300, 0), 0, 0);
        EXPECT_EQ(t.storeMeasurement(m), r.stored) << std::hex << r.raw;
        if (r.stored) {
            EXPECT_EQ(t.balancer[r.entry].id, r.raw & 0xFFF);
            EXPECT_EQ(cellVoltageMv(t.balancer[r.entry].measurement), 3300);
        } else {
            for (const auto& e : t.balancer) {
                ASSERT_EQ(e.id, 0);
            }
        }
    }
}

TEST(Tables, InfoCopyTerminatesSerialAndReadsEveryField) {
    BalancerTables t;
    InfoFields f;
    f.id = 0x2007;
    f.flags = 0x03;
    f.serial = "ABCDEFGHIJK";
    f.byte15 = 'Z'; // not part of the serial
    f.productId = 0xA612;
    f.capacity = 105;
    f.fwVersion = 0x000102FF;
    f.blVersion = 0x00020006;
    f.hwRevision = 4;
    f.bootMode = 1;
    ASSERT_TRUE(t.storeInfo(infoRecord(f)));
    const balancerinfo& e = t.balInfo[7];
    EXPECT_EQ(e.type, 0);
    EXPECT_EQ(e.id, 7);
    EXPECT_EQ(e.flags, 0x03);
    EXPECT_EQ(e.serialText(), "ABCDEFGHIJK");
    EXPECT_EQ(e.serial[11], '\0');
    EXPECT_EQ(e.productId, 0xA612);
    EXPECT_EQ(e.capacity, 105);
    EXPECT_EQ(e.fwVersion, 0x000102FFu);
    EXPECT_EQ(e.blVersion, 0x00020006u);
    EXPECT_EQ(e.hwRevision, 4);
    EXPECT_EQ(e.bootMode, 1);
    EXPECT_TRUE(e.measuresCurrent());
    EXPECT_TRUE(e.highRange());
}

// Packing and unpacking of the record words, both ways over one table.
TEST(Records, MeasurementAndTemperatureWords) {
    struct Row {
        std::int32_t word;
        int mv;
        int ma;
    };
    const Row rows[] = {
        {0x000008FC, 3300, 0},
        {static_cast<std::int32_t>(0x85EE08FCu), 3300, -500000},
        {0x00001000, 1000, 1}, // voltage bits 0 with a current: 1.000 V
        {test::measurementWord(5095, -1), 5095, -1},
        {test::measurementWord(2700, 120), 2700, 120},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(cellVoltageMv(r.word), r.mv) << std::hex << r.word;
        EXPECT_EQ(cellCurrentMa(r.word), r.ma) << std::hex << r.word;
        EXPECT_EQ(packMeasurement(r.mv, r.ma), static_cast<std::uint32_t>(r.word)) << std::hex << r.word;
    }
    for (const auto& [word, tenths] :
         {std::pair{0x1900, 200}, {0xCE00, -400}, {0x6400, 800}, {0xFE20, -15}}) {
        EXPECT_EQ(temperatureTenths(static_cast<std::int16_t>(word)), tenths);
        EXPECT_EQ(packTemperature(tenths), word);
    }
    EXPECT_EQ(temperatureTenths(static_cast<std::int16_t>(0x191F)), 200); // low 5 bits ignored
}

TEST(Tables, ClearDataKeepsCalibrationAndBatteries) {
    BalancerTables t;
    t.storeInfo(infoRecord({}));
    t.storeMeasurement(test::measurementRecord(1, 0xC0, 0x8FC, 0x1900, 0));
    t.storeCalibration(test::calibrationRecord(1, 0x80, 1000, 2000, 3000, 0));
    t.batteryData[0].serial[0] = 'X';
    t.clearData();
    EXPECT_EQ(t.balInfo[1].id, 0);
    EXPECT_EQ(t.balInfo[1].serial[0], '\0');
    EXPECT_EQ(t.balancer[1].measurement, 0);
    EXPECT_EQ(t.balCalData[1].vGain, 1000);
    EXPECT_EQ(t.balCalData[1].iOffset, 3000);
    EXPECT_EQ(t.batteryData[0].serial[0], 'X');
}

TEST(Tables, WalkableCellsNeverPassesTheLastEntry) {
    EXPECT_EQ(walkableCells(-3), 0);
    EXPECT_EQ(walkableCells(0), 0);
    EXPECT_EQ(walkableCells(160), 160);
    EXPECT_EQ(walkableCells(255), 255);
    EXPECT_EQ(walkableCells(256), 255);
    EXPECT_EQ(walkableCells(5000), 255);
}

} // namespace
} // namespace zanst::bus
