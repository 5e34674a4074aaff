// The battery tester's poll tick: what it sends when, byte for byte, and the silent-bus rule.

#include "bus/identity.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"
#include "tester/poll_engine.hpp"
#include "tester/requests.hpp"

#include <gtest/gtest.h>

namespace zanst::tester {
namespace {

using bus::Bytes;
using bus::Mode;

Bytes serialBytes() {
    const auto serial = bus::identity::kMasterSerial;
    return Bytes(serial.begin(), serial.end());
}

Bytes expectedInfoRequest() {
    Bytes payload{0xA3, 0xE4, 0x00, 0x00};
    const Bytes serial = serialBytes();
    payload.insert(payload.end(), serial.begin(), serial.end());
    payload.push_back(0);
    return test::frame(0x01, payload, 0);
}

Bytes expectedMeasurementRequest(int setpoint, int voltage) {
    Bytes payload{static_cast<std::uint8_t>(setpoint & 0xFF), static_cast<std::uint8_t>(setpoint >> 8), 0, 0,
                  static_cast<std::uint8_t>(voltage & 0xFF),  static_cast<std::uint8_t>(voltage >> 8),  0, 0};
    const Bytes serial = serialBytes();
    payload.insert(payload.end(), serial.begin(), serial.end());
    payload.push_back(0);
    return test::frame(0x02, payload, 0x02);
}

Bytes expectedCalibrationRequest() {
    Bytes payload = serialBytes();
    payload.push_back(0);
    return test::frame(0x08, payload, 0x08);
}

Bytes wakeup() {
    return Bytes(10, 0);
}

// Puts balancer `id` into the tables as if its info and measurement had come back.
void addBalancer(bus::BusState& s, int id, int mv, int ma = 0, std::uint8_t infoFlags = 0,
                 const std::string& serial = "HQ2200A6021", std::uint8_t measFlags = 0x40,
                 std::int16_t temp = 0x1900) {
    test::InfoFields f;
    f.id = static_cast<std::uint16_t>(id);
    f.flags = infoFlags;
    f.serial = serial;
    s.tables.storeInfo(test::infoRecord(f));
    s.tables.storeMeasurement(test::measurementRecord(static_cast<std::uint16_t>(id), measFlags,
                                                      test::measurementWord(mv, ma), temp, 0));
    s.numCells = std::max(s.numCells, id);
}

TEST(Requests, InfoCalibrationAndMeasurementRequestsAreByteExact) {
    EXPECT_EQ(buildInfoRequest(), expectedInfoRequest());
    EXPECT_EQ(buildInfoRequest().size(), 22u);
    EXPECT_EQ(buildCalibrationRequest(), expectedCalibrationRequest());
    EXPECT_EQ(buildCalibrationRequest().size(), 18u);
    EXPECT_EQ(buildMeasurementRequest(3505, 10530), expectedMeasurementRequest(3505, 10530));
    EXPECT_EQ(buildMeasurementRequest(3505, 10530).size(), 26u);
    // The bank voltage field is 16 bits wide: larger values are capped, never wrapped.
    EXPECT_EQ(buildMeasurementRequest(3400, 841500), expectedMeasurementRequest(3400, 65535));
}

TEST(Requests, PlaceholdersCarryEachBalancersOwnValuesWithBit6Cleared) {
    bus::BusState s;
    addBalancer(s, 1, 3301, 120, 0, "A", 0xC5, 0x1920);
    addBalancer(s, 2, 3302, -1500, 0, "A", 0x40, -0x0500);
    addBalancer(s, 3, 3303, 0, 0, "A", 0x00, 0);
    const auto& b = s.tables.balancer;
    const Bytes expected = test::concat({
        test::measurementRecord(1, 0x85, b[1].measurement, b[1].temperature, 2),
        test::measurementRecord(2, 0x00, b[2].measurement, b[2].temperature, 2),
        test::measurementRecord(3, 0x00, b[3].measurement, b[3].temperature, 0),
    });
    EXPECT_EQ(measurementPlaceholders(s), expected);
    const Bytes expectedCal = test::concat({
        test::calibrationRecord(1, 0x85, 0, 0, 0, 8),
        test::calibrationRecord(2, 0x00, 0, 0, 0, 8),
        test::calibrationRecord(3, 0x00, 0, 0, 0, 0),
    });
    EXPECT_EQ(calibrationPlaceholders(s), expectedCal);
}

TEST(Requests, PlaceholdersStopAtTheLastTableEntry) {
    bus::BusState s;
    s.numCells = 400; // more info records than the tables hold
    const Bytes records = measurementPlaceholders(s);
    ASSERT_EQ(records.size(), 255u * 12u);
    EXPECT_EQ(bus::getLe16(records, 254 * 12 + 2), 255);
    EXPECT_EQ(records[254 * 12 + 10], 0); // the last one says nothing follows
    EXPECT_EQ(records[253 * 12 + 10], 2);
}

class PollTick : public testing::Test {
  protected:
    bus::BusState s;
    test::FakePort port;
    PollEngine poll{s, port};

    void SetUp() override { s.selectedMode = Mode::BatteryTester; }
    void enumerated(int cells) {
        for (int id = 1; id <= cells; ++id) {
            addBalancer(s, id, 3500 + 10 * (id - 1));
        }
        s.balancersInfo = true;
    }
};

TEST_F(PollTick, DecidesWhatToSend) {
    struct Row {
        const char* name;
        Mode tab;
        bool open;
        bool info;
        int cells;
        bool boot;
        bool updater;
        bool calData;
        PollRequest expected;
        bool polled;
    };
    const Row rows[] = {
        {"connection tab", Mode::Connection, true, true, 3, false, false, false, PollRequest::None, false},
        {"bms tester tab", Mode::BmsTester, true, true, 3, false, false, false, PollRequest::None, false},
        {"metrics tab", Mode::Metrics, true, true, 3, false, false, false, PollRequest::None, false},
        {"port closed", Mode::BatteryTester, false, true, 3, false, false, false, PollRequest::None, true},
        {"not enumerated", Mode::BatteryTester, true, false, 3, false, false, false, PollRequest::Info, true},
        {"no balancers", Mode::BatteryTester, true, true, 0, false, false, false, PollRequest::Info, true},
        {"boot loader", Mode::BatteryTester, true, true, 3, true, false, false, PollRequest::Info, true},
        {"updater owns the bus", Mode::BatteryTester, true, true, 3, false, true, false, PollRequest::None,
         true},
        {"enumerated", Mode::BatteryTester, true, true, 3, false, false, false, PollRequest::Measurement,
         true},
        {"calibration data due", Mode::Calibration, true, true, 3, false, false, true,
         PollRequest::CalibrationData, true},
        {"sniffer tab still counts as polling", Mode::Sniffer, true, false, 0, false, false, false,
         PollRequest::Info, true},
    };
    for (const Row& r : rows) {
        s = bus::BusState{};
        port.writes.clear();
        poll.getCalData = r.calData;
        s.selectedMode = r.tab;
        port.open = r.open;
        enumerated(r.cells);
        s.balancersInfo = r.info;
        s.bUpdaterMode = r.updater;
        if (r.boot) {
            s.tables.balInfo[2].bootMode = 1;
        }
        const TickReport report = poll.timerBMS_Tick();
        EXPECT_EQ(report.sent, r.expected) << r.name;
        EXPECT_EQ(report.polled, r.polled) << r.name;
        EXPECT_EQ(s.battCommTimeout, r.polled ? 1 : 0) << r.name;
        if (r.polled && r.open) {
            EXPECT_EQ(s.bInBootloaderMode, r.boot) << r.name;
        }
        switch (r.expected) {
        case PollRequest::None:
            EXPECT_TRUE(port.writes.empty()) << r.name;
            break;
        case PollRequest::Info:
            ASSERT_EQ(port.writes.size(), 2u) << r.name;
            EXPECT_EQ(port.writes[0], wakeup());
            EXPECT_EQ(port.writes[1], expectedInfoRequest()) << r.name;
            break;
        case PollRequest::CalibrationData:
            ASSERT_EQ(port.writes.size(), 3u) << r.name;
            EXPECT_EQ(port.writes[1], expectedCalibrationRequest());
            EXPECT_EQ(port.writes[2], calibrationPlaceholders(s));
            EXPECT_FALSE(poll.getCalData) << "cleared once used";
            break;
        case PollRequest::Measurement:
            ASSERT_EQ(port.writes.size(), 3u) << r.name;
            EXPECT_EQ(port.writes[2], measurementPlaceholders(s));
            break;
        }
    }
}

TEST_F(PollTick, MeasurementPollCarriesTheSetpointAndBankVoltageOfThisTick) {
    enumerated(3); // 3500, 3510, 3520 mV in one battery
    const TickReport report = poll.timerBMS_Tick();
    ASSERT_EQ(report.sent, PollRequest::Measurement);
    // Average 3510, lowest 3500, spread 20: setpoint (3510 + 3500) / 2; one string.
    EXPECT_EQ(port.writes[1], expectedMeasurementRequest(3505, 10530));
    EXPECT_EQ(report.bank.balancerSetpoint, 3505);
    EXPECT_EQ(report.bank.batVoltage, 10530);
    EXPECT_EQ(report.bank.batCurrent, 0);
    ASSERT_EQ(report.snapshot.balancers.size(), 3u);
    EXPECT_EQ(report.snapshot.balancers[2].millivolts, 3520);
}

TEST_F(PollTick, SilentBusEmptiesTheTablesAfterFourTicksAndEnumeratesAgain) {
    enumerated(3);
    for (int tick = 1; tick <= 3; ++tick) {
        const TickReport report = poll.timerBMS_Tick();
        EXPECT_FALSE(report.busSilent) << tick;
        EXPECT_EQ(report.sent, PollRequest::Measurement) << tick;
        EXPECT_EQ(report.snapshot.balancers.size(), 3u);
    }
    s.frameReceiving = true;
    port.writes.clear();
    const TickReport fourth = poll.timerBMS_Tick();
    EXPECT_TRUE(fourth.busSilent);
    EXPECT_TRUE(fourth.snapshot.balancers.empty());
    EXPECT_EQ(s.numCells, 0);
    EXPECT_FALSE(s.balancersInfo);
    EXPECT_EQ(s.tables.balInfo[1].id, 0);
    EXPECT_EQ(s.tables.balancer[1].measurement, 0);
    EXPECT_EQ(fourth.sent, PollRequest::Info);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[1], expectedInfoRequest());
    EXPECT_FALSE(s.frameReceiving);
}

TEST_F(PollTick, AFrameStartKeepsTheBusAlive) {
    enumerated(3);
    for (int tick = 1; tick <= 10; ++tick) {
        s.battCommTimeout = tick % 3 == 0 ? 0 : s.battCommTimeout; // the receiver saw 0xAA
        EXPECT_FALSE(poll.timerBMS_Tick().busSilent) << tick;
    }
}

TEST_F(PollTick, BalancersInTheirBootLoaderAreNeverTakenForSilence) {
    enumerated(3);
    s.tables.balInfo[1].bootMode = 1;
    s.bInBootloaderMode = true;
    s.battCommTimeout = 10;
    const TickReport report = poll.timerBMS_Tick();
    EXPECT_FALSE(report.busSilent);
    EXPECT_EQ(s.numCells, 3);
    EXPECT_EQ(report.sent, PollRequest::Info);
}

TEST_F(PollTick, CalibrationTabAlternatesCalibrationAndMeasurementPolls) {
    s.selectedMode = Mode::Calibration;
    s.bTestMode = true;
    enumerated(2);
    std::vector<PollRequest> sent;
    for (int tick = 0; tick < 4; ++tick) {
        s.battCommTimeout = 0;
        sent.push_back(poll.timerBMS_Tick().sent);
    }
    EXPECT_EQ(sent, (std::vector<PollRequest>{PollRequest::CalibrationData, PollRequest::Measurement,
                                              PollRequest::CalibrationData, PollRequest::Measurement}));
}

TEST_F(PollTick, CalibrationTabReportsWhetherEveryBalancerIsInTestMode) {
    s.selectedMode = Mode::Calibration;
    s.bTestMode = true;
    EXPECT_FALSE(poll.timerBMS_Tick().allInTestMode.has_value()) << "no balancers known";
    enumerated(2);
    s.tables.balancer[1].flags = 0x80;
    s.tables.balancer[2].flags = 0x40;
    EXPECT_EQ(poll.timerBMS_Tick().allInTestMode, false);
    s.tables.balancer[2].flags = 0xC0;
    EXPECT_EQ(poll.timerBMS_Tick().allInTestMode, true);
    s.bTestMode = false;
    EXPECT_FALSE(poll.timerBMS_Tick().allInTestMode.has_value());
}

TEST_F(PollTick, TheSystemVoltageAndCorrectionOfTheSettingsAreUsed) {
    // Sixteen balancers in four batteries of a 12 V system: four parallel strings.
    for (int id = 1; id <= 16; ++id) {
        addBalancer(s, id, 3300, 0, 0, "BAT" + std::to_string((id - 1) / 4));
    }
    s.balancersInfo = true;
    poll.timerBMS_Tick();
    EXPECT_EQ(poll.sysv, 12);
    EXPECT_EQ(poll.bank.batVoltage, 16 * 3300 / 4);
    poll.settings.systemVoltage = 48;
    s.battCommTimeout = 0;
    poll.timerBMS_Tick();
    EXPECT_EQ(poll.sysv, 48);
    EXPECT_EQ(poll.bank.batVoltage, 16 * 3300 / 1); // four 12 V batteries in series
}

} // namespace
} // namespace zanst::tester
