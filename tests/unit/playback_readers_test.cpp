// Reading a recorded bank: captures in each mode through the tool's own receivers, the CSV beside
// a recording, and the choice between them by content.

#include "playback/capture_reader.hpp"
#include "playback/csv_reader.hpp"
#include "playback/recording.hpp"
#include "support/sim_process.hpp"
#include "unit/playback_sample.hpp"

#include "recording/csv_recording.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

namespace zanst::playback {
namespace {

using bus::Bytes;
using test::CaptureMaker;
using test::SampleBank;

void expectSampleTimeline(const Timeline& t, const SampleBank& bank) {
    ASSERT_EQ(t.cellCount, bank.count());
    ASSERT_EQ(t.batteries.size(), 2u);
    EXPECT_EQ(t.batteries[0].serial, "HQ2200A6021");
    EXPECT_EQ(t.batteries[1].serial, "HQ2200A6022");
    EXPECT_EQ(t.batteries[1].firstCell, 4);
    EXPECT_EQ(t.batteries[1].cells, 4);
    EXPECT_TRUE(t.structureKnown);
    EXPECT_EQ(t.productId, std::optional<std::uint16_t>(0xA602));
    if (t.source != "CSV recording") {
        EXPECT_EQ(t.capacity, std::optional<std::uint16_t>(100));
    }
    for (int i = 0; i < bank.count(); ++i) {
        EXPECT_EQ(t.cellFlags[static_cast<std::size_t>(i)], SampleBank::flags(i)) << i;
    }
    ASSERT_EQ(t.steps.size(), static_cast<std::size_t>(bank.steps));
    for (int s = 0; s < bank.steps; ++s) {
        const Step& step = t.steps[static_cast<std::size_t>(s)];
        EXPECT_EQ(step.timeMs, 1000 * s);
        EXPECT_EQ(step.bankMilliamps, SampleBank::ma(s)) << s;
        for (int i = 0; i < bank.count(); ++i) {
            const CellValues& c = step.cells[static_cast<std::size_t>(i)];
            EXPECT_EQ(c.millivolts, SampleBank::mv(s, i)) << "step " << s << " cell " << i;
            EXPECT_EQ(c.tenthsCelsius, SampleBank::tenths(s, i)) << "step " << s << " cell " << i;
            if ((SampleBank::flags(i) & 0x01) != 0) { // a CSV holds the current of sensors only
                EXPECT_EQ(c.milliamps, SampleBank::ma(s)) << "step " << s << " cell " << i;
            }
        }
    }
    EXPECT_EQ(t.startUnixMs, CaptureMaker::kStartUnixMs + 2000);
}

struct ModeCase {
    const char* name;
    CaptureMaker (*make)(const SampleBank&);
    const char* source;
};

class CaptureModes : public testing::TestWithParam<ModeCase> {};

// The same bank, captured in each of the three modes, reads as the same timeline.
TEST_P(CaptureModes, EveryMeasurementBurstIsAStep) {
    const SampleBank bank;
    const ReadResult r = readCaptureTimeline(GetParam().make(bank).read());
    ASSERT_TRUE(r.ok()) << r.error;
    expectSampleTimeline(*r.timeline, bank);
    EXPECT_EQ(r.timeline->source, GetParam().source);
    EXPECT_TRUE(r.timeline->notes.empty()) << r.timeline->notes.front();
}

INSTANTIATE_TEST_SUITE_P(
    Playback, CaptureModes,
    testing::Values(ModeCase{"BatteryTester", test::batteryTesterCapture, "capture (Battery tester)"},
                    ModeCase{"Sniffer", test::snifferCapture, "capture (Data Sniffer)"},
                    ModeCase{"BmsTester", test::bmsTesterCapture, "capture (BMS tester)"}),
    [](const testing::TestParamInfo<ModeCase>& i) { return i.param.name; });

// A record that fails its CRC is left out as live: the balancer keeps its last good values.
TEST(PlaybackCapture, CorruptedRecordsKeepTheLastGoodValues) {
    const SampleBank bank;
    for (const bus::Mode mode : {bus::Mode::BatteryTester, bus::Mode::Sniffer}) {
        CaptureMaker c;
        c.mode(0, mode);
        c.received(510'000, test::concat({test::bmsInfoRequest(1), bank.infoRecords()}));
        for (int s = 0; s < 2; ++s) {
            Bytes records = bank.measurementRecords(s);
            if (s == 1) {
                records[2 * 12 + 5] ^= 0x10; // cell 3's voltage, its CRC no longer matches
            }
            c.received(test::sampleStepUs(s), test::concat({test::bmsMeasurementRequest(), records}));
        }
        const ReadResult r = readCaptureTimeline(c.read());
        ASSERT_TRUE(r.ok()) << r.error;
        const Timeline& t = *r.timeline;
        ASSERT_EQ(t.steps.size(), 2u);
        EXPECT_EQ(t.steps[1].cells[2], t.steps[0].cells[2]) << "cell 3 keeps step 0's values";
        EXPECT_EQ(t.steps[1].cells[3].millivolts, SampleBank::mv(1, 3)) << "its neighbour moved on";
        ASSERT_EQ(t.notes.size(), 1u);
        EXPECT_NE(t.notes[0].find("1 frame or record failed the CRC-8 check"), std::string::npos)
            << t.notes[0];
    }
}

TEST(PlaybackCapture, DamagedCapturePlaysWhatCameBeforeTheDamage) {
    const SampleBank bank;
    CaptureMaker c = test::batteryTesterCapture(bank);
    c.file.resize(c.file.size() - 30); // into the last step's second pass
    const ReadResult r = readCaptureTimeline(c.read());
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.timeline->steps.size(), 2u);
    ASSERT_FALSE(r.timeline->notes.empty());
    EXPECT_NE(r.timeline->notes[0].find("Capture cut short"), std::string::npos) << r.timeline->notes[0];
}

// What holds nothing to play says so, and why.
TEST(PlaybackCapture, CapturesWithoutMeasurementsAreRefused) {
    const SampleBank bank;
    struct Row {
        const char* what;
        Bytes file;
        const char* error;
    };
    CaptureMaker enumerationOnly;
    enumerationOnly.mode(0, bus::Mode::Sniffer);
    enumerationOnly.received(1000, test::concat({test::bmsInfoRequest(1), bank.infoRecords()}));
    // Measurements while "Connection" was selected: the tool discarded them.
    CaptureMaker onConnection;
    onConnection.mode(0, bus::Mode::Connection);
    onConnection.received(1000, test::concat({test::bmsMeasurementRequest(), bank.measurementRecords(0)}));
    CaptureMaker sentOnly;
    sentOnly.mode(0, bus::Mode::Sniffer);
    sentOnly.sent(1000, test::concat({test::bmsMeasurementRequest(), bank.measurementRecords(0)}));
    const Row rows[] = {
        {"not a capture", Bytes{'t', 'i', 'm', 'e', ',', 'c', 'e', 'l', 'l', '\n'}, "Not a capture file"},
        {"enumeration only", enumerationOnly.file, "holds no measurement answers"},
        {"discarded on Connection", onConnection.file, "holds no measurement answers"},
        {"the sniffer's echo is no answer", sentOnly.file, "holds no measurement answers"},
    };
    for (const Row& row : rows) {
        const ReadResult r = readCaptureTimeline(capture::readCapture(row.file));
        EXPECT_FALSE(r.ok()) << row.what;
        EXPECT_NE(r.error.find(row.error), std::string::npos) << row.what << ": " << r.error;
    }
}

// The CSV the tool writes beside a recording, read back.
bank::BankSnapshot sampleSnapshot(const SampleBank& bank, int s) {
    bank::BankSnapshot snap;
    for (int i = 0; i < bank.count(); ++i) {
        bank::BalancerReading r;
        r.id = i + 1;
        r.cellId = i + 1;
        r.millivolts = SampleBank::mv(s, i);
        r.milliamps = SampleBank::ma(s);
        r.tenthsCelsius = SampleBank::tenths(s, i);
        r.infoFlags = SampleBank::flags(i);
        r.serial = bank.serial(i / bank.cells);
        r.productId = 0xA602;
        snap.balancers.push_back(r);
    }
    return snap;
}

std::string sampleCsv(const SampleBank& bank, const recording::CsvValues& values) {
    std::string text = recording::csvHeader(values);
    std::array<bool, 256> selected{};
    selected.fill(true);
    const auto start =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(CaptureMaker::kStartUnixMs + 2000));
    for (int s = 0; s < bank.steps; ++s) {
        text +=
            recording::csvRows(start + std::chrono::seconds(s), sampleSnapshot(bank, s), selected, values);
    }
    return text;
}

TEST(PlaybackCsv, TheToolsOwnCsvReadsBackAsTheBank) {
    const SampleBank bank;
    recording::CsvValues all{};
    all.fill(true);
    const ReadResult r = readCsvTimeline(sampleCsv(bank, all));
    ASSERT_TRUE(r.ok()) << r.error;
    expectSampleTimeline(*r.timeline, bank);
    EXPECT_EQ(r.timeline->source, "CSV recording");
    EXPECT_TRUE(r.timeline->notes.empty());
}

// Without serials the structure is guessed, without currents the bank current is 0; both said.
TEST(PlaybackCsv, ColumnsLeftOutAreAssumedAndSaid) {
    SampleBank bank;
    bank.batteries = 3; // 12 cells without serials: three batteries of four
    recording::CsvValues values{};
    values[static_cast<std::size_t>(recording::CsvValue::Voltage)] = true;
    values[static_cast<std::size_t>(recording::CsvValue::Temperature)] = true;
    const ReadResult r = readCsvTimeline(sampleCsv(bank, values));
    ASSERT_TRUE(r.ok()) << r.error;
    const Timeline& t = *r.timeline;
    ASSERT_EQ(t.batteries.size(), 3u);
    EXPECT_EQ(t.batteries[2].firstCell, 8);
    EXPECT_FALSE(t.structureKnown);
    EXPECT_FALSE(t.productId.has_value());
    EXPECT_EQ(t.steps[2].bankMilliamps, 0);
    ASSERT_EQ(t.notes.size(), 2u);
    EXPECT_NE(t.notes[0].find("no current column"), std::string::npos) << t.notes[0];
    EXPECT_NE(t.notes[1].find("taken as 3 batteries of 4 cells"), std::string::npos) << t.notes[1];
}

// Without serials, a recorded product id tells the cells per battery.
TEST(PlaybackCsv, AProductIdWithoutSerialsTellsTheBatteries) {
    const SampleBank bank; // two batteries of four
    recording::CsvValues values{};
    for (const auto v :
         {recording::CsvValue::Voltage, recording::CsvValue::Temperature, recording::CsvValue::ProductId}) {
        values[static_cast<std::size_t>(v)] = true;
    }
    const ReadResult r = readCsvTimeline(sampleCsv(bank, values));
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.timeline->batteries.size(), 2u) << "0xA602 has 4 cells, not one battery of 8";
    EXPECT_EQ(r.timeline->batteries[1].firstCell, 4);
    EXPECT_EQ(r.timeline->productId, std::optional<std::uint16_t>(0xA602));
}

constexpr const char* kHeader =
    "time,cell,voltage [V],current [A],current range,temperature [degC],serial\r\n";

std::string row(int second, int cell, const std::string& rest) {
    return "2026-12-09T03:04:0" + std::to_string(second) + ".000Z," + std::to_string(cell) + "," + rest +
           "\r\n";
}

// The bank current comes from the sensors as the battery tester works it out: low range below
// 30 A, blended towards high range up to 50 A.
TEST(PlaybackCsv, BankCurrentBlendsTheSensorRanges) {
    const std::string text = std::string(kHeader) + row(1, 1, "3.300,40.000,low,20.0,S1") +
                             row(1, 2, "3.301,,,20.0,S1") + row(1, 3, "3.302,41.000,high,20.1,S1") +
                             row(1, 4, "3.303,,,20.1,\"S,1\"") + row(2, 1, "3.300,10.000,low,20.0,S1") +
                             row(2, 2, "3.301,,,20.0,S1") + row(2, 3, "3.302,10.500,high,20.1,S1") +
                             row(2, 4, "3.303,,,20.1,\"S,1\"");
    const ReadResult r = readCsvTimeline(text);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.timeline->steps[0].bankMilliamps, 40500);
    EXPECT_EQ(r.timeline->steps[1].bankMilliamps, 10000);
    EXPECT_EQ(r.timeline->batteries.back().serial, "S,1") << "a quoted serial with a comma";
    EXPECT_EQ(r.timeline->cellFlags, (std::vector<std::uint8_t>{0x01, 0x00, 0x03, 0x00}));
}

TEST(PlaybackCsv, ALastLineCutShortIsLeftOut) {
    const std::string whole =
        std::string(kHeader) + row(1, 1, "3.300,1.000,low,20.0,S1") + row(2, 1, "3.310,1.000,low,20.0,S1");
    const std::string cut = whole + "2026-12-09T03:04:03.000Z,1,3.3";
    const ReadResult r = readCsvTimeline(cut);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.timeline->steps.size(), 2u);
    ASSERT_EQ(r.timeline->notes.size(), 1u);
    EXPECT_NE(r.timeline->notes[0].find("last line (4) was cut short"), std::string::npos);

    // A whole last line without its line end is kept.
    const ReadResult kept = readCsvTimeline(whole.substr(0, whole.size() - 2));
    ASSERT_TRUE(kept.ok()) << kept.error;
    EXPECT_EQ(kept.timeline->steps.size(), 2u);
}

TEST(PlaybackCsv, LinesThatCannotBeReadRefuseTheFileWithTheirNumber) {
    struct Row {
        std::string text;
        const char* error;
    };
    const std::string h = kHeader;
    const std::string ok1 = row(1, 1, "3.300,1.000,low,20.0,S1");
    const Row rows[] = {
        {"", "Not a recording CSV"},
        {"name,value\r\nx,1\r\n", "Not a recording CSV"},
        {"time,cell,voltage [V]\r\n" + row(1, 1, "3.300"), "no temperature column"},
        {"time,cell,temperature [degC]\r\n" + row(1, 1, "20.0"), "no voltage column"},
        {h + "yesterday,1,3.300,1.000,low,20.0,S1\r\n" + ok1, "line 2: time \"yesterday\""},
        {h + row(1, 0, "3.300,1.000,low,20.0,S1") + ok1, "line 2: cell \"0\""},
        {h + row(1, 1, "3,300,1.000,low,20.0,S1") + ok1, "line 2: 8 fields where the header names 7"},
        {h + row(1, 1, "3.3001,1.000,low,20.0,S1") + ok1, "line 2: voltage \"3.3001\""},
        {h + row(1, 1, "5.096,1.000,low,20.0,S1") + ok1, "line 2: voltage \"5.096\""},
        {h + row(1, 1, "3.300,1.000,low,102.4,S1") + ok1, "line 2: temperature \"102.4\""},
        {h + row(1, 1, "3.300,600.000,low,20.0,S1") + ok1, "line 2: current \"600.000\""},
        {h + row(1, 1, "3.300,1.000,medium,20.0,S1") + ok1, "line 2: current range \"medium\""},
        {h + row(2, 1, "3.300,1.000,low,20.0,S1") + ok1, "line 3: the time goes back"},
        {h + ok1 + ok1 + row(2, 1, "3.300,1.000,low,20.0,S1"), "line 3: cell 1 appears twice"},
        {h + ok1 + row(1, 3, "3.300,1.000,low,20.0,S1"), "Cell 2 is not in the CSV"},
        {h + ok1 + row(1, 2, ",,,,S1"), "Balancer 2 has no measurement"},
    };
    for (const Row& r : rows) {
        const ReadResult got = readCsvTimeline(r.text);
        EXPECT_FALSE(got.ok()) << r.text;
        EXPECT_NE(got.error.find(r.error), std::string::npos) << r.error << " / " << got.error;
    }
}

TEST(PlaybackCsv, IsoTimestampsReadBackWhatTheWriterWrites) {
    using namespace std::chrono;
    // Across leap days, century years and the epoch.
    for (const long long ms : {0LL, 951782400000LL, 951868800500LL, 1709164800123LL, 4107542399999LL,
                               static_cast<long long>(CaptureMaker::kStartUnixMs), 1234567LL}) {
        const std::string text = recording::isoTimestamp(system_clock::time_point(milliseconds(ms)));
        EXPECT_EQ(parseIsoTimestamp(text), std::optional<std::int64_t>(ms)) << text;
    }
    EXPECT_EQ(parseIsoTimestamp("2026-12-09T03:04:05Z"), parseIsoTimestamp("2026-12-09T03:04:05.000Z"));
    EXPECT_EQ(parseIsoTimestamp("2026-12-09T03:04:05.5Z"), *parseIsoTimestamp("2026-12-09T03:04:05Z") + 500);
    for (const char* bad : {"2026-12-09 03:04:05Z", "2026-13-09T03:04:05Z", "2026-12-09T03:04:05.1234Z",
                            "2026-12-09T03:04:05+01:00", "2026-12-09T03:04:05.Z"}) {
        EXPECT_FALSE(parseIsoTimestamp(bad).has_value()) << bad;
    }
}

// The file chooser's entry point tells a capture from a CSV by its content, not its name.
TEST(PlaybackRecording, ReadsCapturesAndCsvFilesByContent) {
    const SampleBank bank;
    test::TempDir dir;
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    };
    const Bytes capture = test::snifferCapture(bank).file;
    recording::CsvValues all{};
    all.fill(true);
    const ReadResult fromCapture =
        readRecording(write("field.csv", std::string(capture.begin(), capture.end())));
    ASSERT_TRUE(fromCapture.ok()) << fromCapture.error;
    EXPECT_EQ(fromCapture.timeline->source, "capture (Data Sniffer)");
    const ReadResult fromCsv = readRecording(write("Recording_7.zcap", sampleCsv(bank, all)));
    ASSERT_TRUE(fromCsv.ok()) << fromCsv.error;
    EXPECT_EQ(fromCsv.timeline->source, "CSV recording");
    const ReadResult missing = readRecording(dir / "none.csv");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error.find("Cannot open"), std::string::npos);
}

} // namespace
} // namespace zanst::playback
