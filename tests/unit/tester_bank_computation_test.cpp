// Bank voltage, bank current and balancing setpoint of the battery tester.

#include "support/records.hpp"
#include "tester/bank_computation.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zanst::tester {
namespace {

struct Cell {
    int mv;
    int ma = 0;
    std::uint8_t flags = 0; // bit 0: measures current, bit 1: high range
    std::string serial = "HQ2200A6021";
};

bus::BusState bankOf(const std::vector<Cell>& cells) {
    bus::BusState s;
    int id = 0;
    for (const Cell& c : cells) {
        ++id;
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(id);
        f.flags = c.flags;
        f.serial = c.serial;
        s.tables.storeInfo(test::infoRecord(f));
        s.tables.storeMeasurement(test::measurementRecord(static_cast<std::uint16_t>(id), 0,
                                                          test::measurementWord(c.mv, c.ma), 0, 0));
    }
    s.numCells = id;
    return s;
}

bank::BankValues compute(const std::vector<Cell>& cells, int sysv = 12, int correction = 5) {
    bus::BusState s = bankOf(cells);
    bank::BankValues bank;
    CalcBMSParams(s, sysv, correction, bank);
    return bank;
}

TEST(Bank, SetpointFollowsTheSpreadOfTheCells) {
    struct Row {
        const char* name;
        std::vector<Cell> cells;
        int setpoint;
    };
    const Row rows[] = {
        // Mean of average and lowest, unless the spread is 3..9 mV: then the lowest cell.
        {"spread 2", {{3450}, {3452}, {3452}, {3452}}, 3450},
        {"spread 3", {{3450}, {3453}, {3453}, {3453}}, 3450},
        {"spread 9", {{3450}, {3459}, {3459}, {3459}}, 3450},
        {"spread 10", {{3450}, {3460}, {3460}, {3460}}, 3453},
        {"spread 40", {{3450}, {3490}, {3490}, {3490}}, 3465},
        {"equal cells", {{3500}, {3500}}, 3500},
        // Clamped to 3400..3600.
        {"low bank", {{3300}, {3300}}, 3400},
        {"high bank", {{3700}, {3700}}, 3600},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(compute(r.cells).balancerSetpoint, r.setpoint) << r.name;
    }
}

TEST(Bank, CorrectionRaisesTheSetpointByTheBankCurrent) {
    struct Row {
        int ma;
        int correction;
        int setpoint;
    };
    const Row rows[] = {
        {20000, 5, 3550},                      // 20 A at 5 mV/A: +100 mV
        {-20000, 5, 3550},                     // discharge counts the same
        {20000, 10, 3600},                     // +200 mV, clamped
        {199, 5, 3450},                        // 199 / 200 truncates to 0
        {20000, 1000, 3600}, {20000, 1, 3470}, // 1000 / 1 = 1000: +20 mV
    };
    for (const Row& r : rows) {
        const bank::BankValues bank = compute({{3450}, {3450, r.ma, 0x03}}, 12, r.correction);
        EXPECT_EQ(bank.batCurrent, r.ma);
        EXPECT_EQ(bank.balancerSetpoint, r.setpoint) << r.ma << " mA at " << r.correction;
    }
}

TEST(Bank, CorrectionOutsideItsRangeNeverDividesByZero) {
    for (int bad : {0, -5, 1001, 5000}) {
        const bank::BankValues bank = compute({{3450}, {3450, 20000, 0x03}}, 12, bad);
        EXPECT_EQ(bank.balancerSetpoint, 3550) << bad; // the default 5 mV/A
    }
}

TEST(Bank, CurrentBlendsTheLowRangeSensorsIntoTheHighRangeOnes) {
    struct Row {
        std::optional<int> low;
        std::optional<int> high;
        int current;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, 0},
        {std::nullopt, 5000, 5000},
        {1200, std::nullopt, 1200},
        {29999, 41000, 29999},
        {30000, 41000, 30000},
        {40000, 41000, 40500}, // w = 50
        {-40000, -41000, -40500},
        {49999, 52000, 49999 * 1 / 100 + 52000 * 99 / 100},
        {50000, 52000, 52000},
        {-60000, -61000, -61000},
        // Without high-range sensors H is 0: the low-range average fades towards 0 between 30 and
        // 50 A and is 0 above (the current only steers the setpoint correction).
        {29000, std::nullopt, 29000},
        {40000, std::nullopt, 20000},
        {-60000, std::nullopt, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(bankCurrent(r.low, r.high), r.current)
            << (r.low ? std::to_string(*r.low) : "-") << " / " << (r.high ? std::to_string(*r.high) : "-");
    }
    // The same through the whole computation: averages of each range first.
    const bank::BankValues bank =
        compute({{3450, 39000, 0x01}, {3450, 41000, 0x01}, {3450, 41000, 0x03}, {3450, 0, 0x00}});
    EXPECT_EQ(bank.batCurrent, 40500);
}

TEST(Bank, ParallelStringsFromSystemAndBatteryVoltage) {
    struct Row {
        int sysv;
        int nominal;
        int batteries;
        int strings;
    };
    const Row rows[] = {
        {12, 12, 4, 4}, {12, 48, 3, 3}, {24, 12, 4, 2}, {24, 12, 1, 1}, {24, 24, 3, 3}, {24, 48, 3, 1},
        {48, 12, 8, 2}, {48, 12, 3, 1}, {48, 24, 4, 2}, {48, 48, 4, 1}, {36, 12, 4, 1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parallelStrings(r.sysv, r.nominal, r.batteries), r.strings)
            << r.sysv << " V system, " << r.batteries << " x " << r.nominal << " V";
    }
}

TEST(Bank, FourParallelStringsDivideTheBankVoltage) {
    std::vector<Cell> cells;
    int sum = 0;
    for (int i = 0; i < 16; ++i) {
        const int mv = 3300 + i;
        sum += mv;
        cells.push_back({mv, 0, 0, "BATTERY-" + std::to_string(i / 4)});
    }
    EXPECT_EQ(compute(cells, 12).batVoltage, sum / 4);
    EXPECT_EQ(compute(cells, 24).batVoltage, sum / 2);
    EXPECT_EQ(compute(cells, 48).batVoltage, sum);
}

TEST(Bank, BankVoltageIsCappedAtSixteenBits) {
    std::vector<Cell> cells(200, Cell{3300});
    EXPECT_EQ(compute(cells, 48).batVoltage, 65535);
}

TEST(Bank, WithoutBalancersOnlyTheBankVoltageIsReset) {
    bus::BusState s;
    bank::BankValues bank{3512, 14000, -2500};
    CalcBMSParams(s, 12, 5, bank);
    EXPECT_EQ(bank.balancerSetpoint, 3512);
    EXPECT_EQ(bank.batCurrent, -2500);
    EXPECT_EQ(bank.batVoltage, 0);
}

TEST(Bank, BatteryTableHoldsOneSerialPerBatteryAndAtMost32) {
    std::vector<Cell> cells;
    for (int b = 0; b < 34; ++b) {
        for (int c = 0; c < 4; ++c) {
            cells.push_back({3300, 0, 0, "SERIAL" + std::to_string(100 + b)});
        }
    }
    bus::BusState s = bankOf(cells);
    bank::BankValues bank;
    CalcBMSParams(s, 12, 5, bank);
    EXPECT_STREQ(s.tables.batteryData[0].serial.data(), "SERIAL100");
    EXPECT_STREQ(s.tables.batteryData[31].serial.data(), "SERIAL131");
    EXPECT_EQ(bank.batVoltage, 4 * 3300); // 34 batteries of 12 V in parallel, all of them counted
}

TEST(Bank, BankTextsInVoltsAndAmpsWithThreeDecimals) {
    const bank::BankTexts t = bank::bankTexts({3505, 10530, -1500}, {});
    EXPECT_EQ(t.setpoint, "3.505");
    EXPECT_EQ(t.voltage, "10.530");
    EXPECT_EQ(t.current, "-1.500");
    EXPECT_EQ(bank::bankTexts({3400, 65535, -5}, {','}).current, "-0,005");
}

TEST(Bank, SetpointCorrectionTextIsANumberWithAnIntegerPartFrom1To1000) {
    struct Row {
        const char* text;
        char point;
        std::optional<int> value;
    };
    const Row rows[] = {
        {"5", '.', 5},     {" 7 ", '.', 7},     {"+3", '.', 3},        {"5.9", '.', 5},
        {"1", '.', 1},     {"1000", '.', 1000}, {"1000.9", '.', 1000}, {"1e2", '.', 100},
        {"5,5", ',', 5},   {"0", '.', {}},      {"0.99", '.', {}},     {"1001", '.', {}},
        {"-5", '.', {}},   {"abc", '.', {}},    {"", '.', {}},         {"5,5", '.', {}},
        {"5 mV", '.', {}}, {"inf", '.', {}},    {"nan", '.', {}},      {"99999999999999999999", '.', {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parseSetpointCorrection(r.text, r.point), r.value) << '"' << r.text << '"';
    }
}

} // namespace
} // namespace zanst::tester
