// Capture files: what the writer puts down the reader gets back, and a damaged file gives a clear
// message with every valid record before the damage. The traffic decoder: frames, records and
// their CRC verdicts from a known exchange.

#include "capture/capture_file.hpp"
#include "capture/traffic.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace zanst::capture {
namespace {

using bus::Bytes;

Bytes sampleFile() {
    Header h;
    h.startUnixMs = 1765000000123;
    Bytes file = encodeHeader(h);
    encodeRecord(file, 0, RecordKind::Mode, Bytes{3});
    encodeRecord(file, 10, RecordKind::Sent, Bytes(10, 0x00));
    encodeRecord(file, 15, RecordKind::Sent, test::frame(0x02, Bytes(20, 0x11), 0));
    encodeRecord(file, 900, RecordKind::Received, Bytes{0xAA, 0x02});
    return file;
}

TEST(CaptureFile, WriterAndReaderRoundTrip) {
    test::TempDir dir;
    const std::string path = dir / "session.zcap";
    CaptureWriter writer;
    ASSERT_TRUE(writer.open(path, 1765000000123));
    writer.append(0, RecordKind::Mode, Bytes{5});
    writer.append(40, RecordKind::Received, Bytes{0xAA, 0x01});
    writer.append(30, RecordKind::Sent, Bytes{0xAA}); // a late clock read keeps the time order
    const Bytes big(70000, 0x5A);                     // longer than one record holds
    writer.append(50, RecordKind::Received, big);
    ASSERT_TRUE(writer.flush());
    writer.close();

    const Capture c = readCaptureFile(path);
    ASSERT_EQ(c.status, ReadStatus::Ok) << c.message;
    EXPECT_EQ(c.header.version, kVersion);
    EXPECT_EQ(c.header.startUnixMs, 1765000000123);
    EXPECT_EQ(c.header.lineRate, kLineRate);
    ASSERT_EQ(c.records.size(), 5u);
    EXPECT_EQ(c.records[0].kind, RecordKind::Mode);
    EXPECT_EQ(c.bytes(c.records[0]).front(), 5);
    EXPECT_EQ(c.records[1].timeUs, 40u);
    EXPECT_EQ(c.records[2].timeUs, 40u);
    EXPECT_EQ(c.records[2].kind, RecordKind::Sent);
    EXPECT_EQ(c.records[3].length + c.records[4].length, big.size());
    EXPECT_EQ(c.records[4].timeUs, 50u);
    EXPECT_EQ(c.validBytes, test::readFile(path).size());
}

TEST(CaptureFile, DamagedFilesKeepWhatWasValid) {
    const Bytes good = sampleFile();
    const std::size_t lastRecordAt = good.size() - kRecordHeaderSize - 2;
    struct Case {
        const char* name;
        Bytes file;
        ReadStatus status;
        std::size_t records;
        const char* message;
    };
    Bytes wrongVersion = good;
    wrongVersion[8] = 2;
    Bytes badKind = good;
    badKind[lastRecordAt + 8] = 7;
    Bytes backwards = good;
    backwards[lastRecordAt] = 1; // 1 us, before the record at 15 us
    backwards[lastRecordAt + 1] = 0;
    Bytes emptyRecord = sampleFile();
    emptyRecord.resize(lastRecordAt + 9);
    emptyRecord.insert(emptyRecord.end(), {0, 0});
    const std::vector<Case> cases = {
        {"whole", good, ReadStatus::Ok, 4, ""},
        {"empty file", {}, ReadStatus::NotACapture, 0, "Not a capture file"},
        {"other file", Bytes(40, 'x'), ReadStatus::NotACapture, 0, "Not a capture file"},
        {"later version", wrongVersion, ReadStatus::UnsupportedVersion, 0, "version 2 is not supported"},
        {"header cut", Bytes(good.begin(), good.begin() + 20), ReadStatus::Truncated, 0, "header cut short"},
        {"record bytes cut", Bytes(good.begin(), good.end() - 1), ReadStatus::Truncated, 3, "cut short"},
        {"record header cut",
         Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(lastRecordAt + 4)),
         ReadStatus::Truncated, 3, "3 records before it kept"},
        {"unknown kind", badKind, ReadStatus::Corrupt, 3, "unknown record kind 7"},
        {"time going back", backwards, ReadStatus::Corrupt, 3, "time going back"},
        {"empty record", emptyRecord, ReadStatus::Corrupt, 3, "empty record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Capture read = readCapture(c.file);
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(read.records.size(), c.records);
        EXPECT_NE(read.message.find(c.message), std::string::npos) << read.message;
        if (c.records > 0) {
            EXPECT_EQ(read.validBytes, c.records == 4 ? good.size() : lastRecordAt);
            const auto third = read.bytes(read.records[2]);
            EXPECT_EQ(Bytes(third.begin(), third.end()), test::frame(0x02, Bytes(20, 0x11), 0));
        }
    }
}

TEST(TrafficDecoder, ListsAKnownExchangeWithItsCrcVerdicts) {
    const Bytes request = test::frame(0x02, Bytes(20, 0x00), 0);
    Bytes answer = test::frame(0x02, Bytes(20, 0x00), 0x02);
    const Bytes good = test::measurementRecord(7, 0x40, test::measurementWord(3312, -1250), 250 << 5, 0x02);
    Bytes bad = test::measurementRecord(8, 0x40, test::measurementWord(3300, 0), 200 << 5, 0);
    bad.back() ^= 0xFF;
    answer = test::concat({answer, good, bad});

    TrafficDecoder decoder;
    std::vector<TrafficRow> rows;
    decoder.feed(Direction::Sent, 100, Bytes(10, 0x00), rows);
    decoder.feed(Direction::Sent, 120, request, rows);
    // The answer arrives in two passes, split inside the first record.
    decoder.feed(Direction::Received, 2000, std::span(answer).first(30), rows);
    decoder.feed(Direction::Received, 2500, std::span(answer).subspan(30), rows);
    decoder.flushLineBytes(rows);

    struct Row {
        Direction direction;
        std::uint64_t timeUs;
        std::string command;
        std::size_t length;
        CrcVerdict crc;
        int id;
        std::string fields;
    };
    const std::vector<Row> expected = {
        {Direction::Sent, 100, "(line bytes)", 10, CrcVerdict::None, -1, ""},
        {Direction::Sent, 120, "Measurement", 26, CrcVerdict::Good, -1, "payload 20 bytes, following 0"},
        {Direction::Received, 2000, "Measurement", 26, CrcVerdict::Good, -1, "payload 20 bytes, following 2"},
        {Direction::Received, 2000, "Measurement record", 12, CrcVerdict::Good, 7,
         "id 7: 3.312 V, -1.250 A, 25.0 degC, flags 0x40"},
        {Direction::Received, 2500, "Measurement record", 12, CrcVerdict::Bad, 8, ""},
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].direction, expected[i].direction);
        EXPECT_EQ(rows[i].timeUs, expected[i].timeUs);
        EXPECT_EQ(rowCommandText(rows[i]), expected[i].command);
        EXPECT_EQ(rows[i].bytes.size(), expected[i].length);
        EXPECT_EQ(rows[i].crc, expected[i].crc);
        EXPECT_EQ(rows[i].balancerId, expected[i].id);
        EXPECT_EQ(rowFieldsText(rows[i]), expected[i].fields);
    }
}

} // namespace
} // namespace zanst::capture
