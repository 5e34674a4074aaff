// The data monitor's parser: frames, records, limits and the "BMS info" texts.

#include "bus/records.hpp"
#include "sniffer/sniffer_parser.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace zanst::sniffer {
namespace {

using bus::Bytes;
using test::concat;

// What the parser's reports said, kept as the window keeps it.
class Listener {
  public:
    void take(const SnifferReport& report) {
        for (const BmsFieldText& f : report.bmsInfoReceived) {
            fields[f.field] = f.text;
            order.push_back(f.field);
        }
        for (const bank::BankValues& v : report.bmsMeasured) {
            measured = {v.balancerSetpoint, v.batVoltage, v.batCurrent};
        }
        for (const bank::BankSnapshot& snapshot : report.burstsEnded) {
            ++bursts;
            lastSnapshot = snapshot;
        }
    }
    bank::BankSnapshot lastSnapshot;
    std::array<int, 3> measured{}; // setpoint mV, bank mV, bank mA
    std::map<BmsField, std::string> fields;
    std::vector<BmsField> order;
    int bursts = 0;
};

// The BMS's enumeration request: its product id and serial where the tool puts its own.
Bytes bmsInfoRequest(std::uint16_t pid, const std::string& serial, std::uint8_t following = 1) {
    Bytes payload(16, 0);
    bus::putLe16(payload, 0, pid);
    bus::putAscii(payload, 4, serial);
    return test::frame(0x01, payload, following);
}

Bytes bmsMeasurementRequest(std::uint16_t setpoint, std::uint16_t current, std::uint16_t vbat,
                            std::uint16_t status, std::uint8_t following = 2) {
    Bytes payload(20, 0);
    bus::putLe16(payload, 0, setpoint);
    bus::putLe16(payload, 2, current);
    bus::putLe16(payload, 4, vbat);
    bus::putLe16(payload, 6, status);
    bus::putAscii(payload, 8, "BMSSERIAL01");
    return test::frame(0x02, payload, following);
}

Bytes infoRecords(std::initializer_list<std::uint16_t> ids) {
    Bytes out;
    std::size_t n = 0;
    for (std::uint16_t id : ids) {
        test::InfoFields f;
        f.id = id;
        f.serial = "BATTERY" + std::to_string(1000 + id % 1000);
        f.following = ++n < ids.size() ? 1 : 0;
        const Bytes r = test::infoRecord(f);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes measurementRecords(std::initializer_list<std::uint16_t> ids) {
    Bytes out;
    std::size_t n = 0;
    for (std::uint16_t id : ids) {
        const Bytes r = test::measurementRecord(id, 0x40, test::measurementWord(3300 + (id & 0xFF), 250),
                                                0x1900, ++n < ids.size() ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

class Sniffer : public testing::Test {
  protected:
    bus::BusState s;
    Listener listener;
    SnifferParser parser{s};

    void feed(const Bytes& bytes) { listener.take(parser.receive(bytes)); }
};

TEST_F(Sniffer, EnumerationSetsPidAndSerialAndCountsTheInfoRecords) {
    s.numCells = 7;
    feed(bmsInfoRequest(0x00A3, "BMS12345678"));
    EXPECT_EQ(s.numCells, 0) << "a new enumeration starts the count again";
    EXPECT_EQ(listener.fields[BmsField::Pid], "00A3");
    EXPECT_EQ(listener.fields[BmsField::Serial], "BMS12345678");
    EXPECT_EQ(s.ackReceived, 0x01);
    EXPECT_EQ(listener.bursts, 0);

    feed(infoRecords({1, 2, 3}));
    EXPECT_EQ(s.numCells, 3);
    EXPECT_EQ(listener.bursts, 1);
    EXPECT_EQ(s.tables.balInfo[3].id, 3);
    EXPECT_EQ(s.tables.balInfo[2].serialText(), "BATTERY1002");
    EXPECT_FALSE(parser.frameRx());
}

TEST_F(Sniffer, MeasurementBurstFillsTheTableAndRaisesTheCount) {
    feed(concat({bmsInfoRequest(0x1234, "BMS12345678"), infoRecords({1, 2, 3})}));
    feed(bmsMeasurementRequest(3456, 0xFFFF, 0x0200, 0x1234));
    EXPECT_EQ(listener.fields[BmsField::BalancerSetpoint], "3456");
    EXPECT_EQ(listener.fields[BmsField::BmsCurrent], "-0.1");
    EXPECT_EQ(listener.fields[BmsField::SystemVbat], "51.2");
    EXPECT_EQ(listener.fields[BmsField::Status], "1234");
    EXPECT_EQ(s.ackReceived, 0x02);

    feed(measurementRecords({1, 2, 3, 4, 5}));
    EXPECT_EQ(s.numCells, 5);
    EXPECT_EQ(listener.bursts, 2);
    ASSERT_EQ(listener.lastSnapshot.balancers.size(), 5u) << "the burst's end hands the whole bank";
    EXPECT_EQ(listener.lastSnapshot.balancers[3].millivolts, 3304);
    EXPECT_EQ(bus::cellVoltageMv(s.tables.balancer[4].measurement), 3304);
    EXPECT_EQ(s.tables.balInfo[5].id, 5) << "the id is copied into the info entry";
    EXPECT_EQ(s.tables.balancer[5].flags, 0x40);
}

TEST_F(Sniffer, BmsValueTexts) {
    struct Row {
        std::uint16_t setpoint, current, vbat, status;
        const char* setpointText;
        const char* currentText;
        const char* vbatText;
        const char* statusText;
        std::array<int, 3> numbers; // as the plots and the summary get them: mV, mV, mA
    };
    const Row rows[] = {
        {3456, 0xFFFF, 0x0200, 0x1234, "3456", "-0.1", "51.2", "1234", {3456, 51200, -100}},
        {0, 0, 0, 0, "0", "0.0", "0.0", "0000", {0, 0, 0}},
        {65535, 0x8000, 65535, 0xA3, "65535", "-3276.8", "6553.5", "00A3", {65535, 6553500, -3276800}},
        {3400, 1234, 132, 0xFFFF, "3400", "123.4", "13.2", "FFFF", {3400, 13200, 123400}},
    };
    for (const Row& r : rows) {
        feed(bmsMeasurementRequest(r.setpoint, r.current, r.vbat, r.status, 0));
        EXPECT_EQ(listener.fields[BmsField::BalancerSetpoint], r.setpointText);
        EXPECT_EQ(listener.fields[BmsField::BmsCurrent], r.currentText);
        EXPECT_EQ(listener.fields[BmsField::SystemVbat], r.vbatText);
        EXPECT_EQ(listener.fields[BmsField::Status], r.statusText);
        EXPECT_EQ(listener.measured, r.numbers);
    }
    parser.format.decimalPoint = ',';
    feed(bmsMeasurementRequest(1, 0xFFFF, 0x0200, 0, 0));
    EXPECT_EQ(listener.fields[BmsField::BmsCurrent], "-0,1");
    EXPECT_EQ(listener.fields[BmsField::SystemVbat], "51,2");
    EXPECT_EQ(listener.bursts, 0) << "frames without records refresh nothing";
}

TEST_F(Sniffer, SerialTextStopsAtAZeroAndShowsUnprintableBytesAsQuestionMarks) {
    Bytes serial(11, 0);
    bus::putAscii(serial, 0,
                  "AB\x01"
                  "CD");
    feed(bmsInfoRequest(1, std::string(serial.begin(), serial.end()), 0));
    EXPECT_EQ(listener.fields[BmsField::Serial], "AB?CD");
}

TEST_F(Sniffer, ShortFramesLeaveTheFieldsTheyDoNotCarry) {
    feed(bmsInfoRequest(0x00A3, "BMS12345678", 0));
    feed(test::frame(0x01, Bytes(2, 0x77), 0)); // payload bytes 4..5 only
    EXPECT_EQ(listener.fields[BmsField::Pid], "7777");
    EXPECT_EQ(listener.fields[BmsField::Serial], "BMS12345678");
}

TEST_F(Sniffer, CalibrationRecordsAreConsumedButNotStored) {
    Bytes burst = test::frame(0x08, Bytes(12, 0), 8);
    burst = concat({burst, test::calibrationRecord(1, 0x80, 100, 200, 300, 8),
                    test::calibrationRecord(2, 0x80, 100, 200, 300, 0)});
    feed(burst);
    EXPECT_EQ(listener.bursts, 1);
    EXPECT_EQ(s.tables.balCalData[1].vGain, 0);
    EXPECT_EQ(s.numCells, 0);
    EXPECT_EQ(s.ackReceived, 0x08);
}

TEST_F(Sniffer, RecordAddressesBeyondTheTables) {
    feed(bmsInfoRequest(1, "BMS12345678"));
    // 0x1005 has upper bits set: the info record is compared before masking and not stored.
    feed(infoRecords({1, 0x1005, 256}));
    EXPECT_EQ(s.numCells, 3) << "every info record counts";
    EXPECT_EQ(s.tables.balInfo[5].id, 0);
    EXPECT_EQ(s.tables.balInfo[1].id, 1);

    feed(bmsMeasurementRequest(0, 0, 0, 0));
    feed(measurementRecords({0x1005, 300}));
    EXPECT_EQ(bus::cellVoltageMv(s.tables.balancer[5].measurement), 3305);
    EXPECT_EQ(s.tables.balInfo[5].id, 5);
    EXPECT_EQ(s.numCells, 5);
    EXPECT_EQ(listener.bursts, 2);
}

// What a completed frame does in the sniffer; where frames end is the framer's contract.
TEST_F(Sniffer, CompletedFramesAcknowledgeAndClearFlashBusy) {
    struct Row {
        const char* name;
        Bytes frame;
        int ack; // -1: left as it was
        bool flashBsy;
    };
    Bytes fixed(16, 0);
    fixed[0] = 0xAA;
    fixed[1] = 0x21;
    const Bytes block = test::dataBlock(7, 13, 0x11); // ends at its announced 13 bytes
    const Row rows[] = {
        {"start update", fixed, 0x21, false},
        {"data block", block, -1, true},
        {"bank changed", test::frame(0x31, Bytes(16, 0), 0), 0x31, true},
    };
    for (const Row& r : rows) {
        s.ackReceived = -1;
        s.flashBsy = true;
        feed(r.frame);
        EXPECT_FALSE(parser.frameRx()) << r.name;
        EXPECT_EQ(s.ackReceived, r.ack) << r.name;
        EXPECT_EQ(s.flashBsy, r.flashBsy) << r.name;
    }
    EXPECT_EQ(listener.bursts, 0);
}

TEST_F(Sniffer, TheCountGrowsPastTheTablesWithoutOverflowing) {
    feed(bmsInfoRequest(1, "BMS12345678"));
    s.numCells = std::numeric_limits<int>::max() - 1;
    feed(infoRecords({1, 2, 3}));
    EXPECT_EQ(s.numCells, std::numeric_limits<int>::max());
}

} // namespace
} // namespace zanst::sniffer
