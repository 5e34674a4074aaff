#include "bus/crc8.hpp"
#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zanst::bus {
namespace {

Bytes ascii(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(Crc8, CheckValuesAndTableEntries) {
    EXPECT_EQ(getCRC(ascii("123456789"), 9), 0xF4);
    EXPECT_EQ(getCRC(ascii("abc"), 3), 0x5F);
    EXPECT_EQ(kCrcTable[1], 0x07);
    EXPECT_EQ(kCrcTable[128], 0x89);
    EXPECT_EQ(getCRC(ascii("abc"), 0), 0x00);
    EXPECT_TRUE(crcValid(ascii("abc\x5F")));
    EXPECT_FALSE(crcValid(ascii("abc\x5E")));
    EXPECT_FALSE(crcValid(Bytes{0x00})) << "a lone byte carries no CRC";
}

TEST(Crc8, TableMatchesBitwiseReferenceOnRandomData) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes data(static_cast<std::size_t>(rng() % 300));
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(rng());
        }
        ASSERT_EQ(getCRC(data, data.size()), test::crc8(data, data.size()));
    }
}

TEST(Crc8, CalcCrcWritesOnlyTheByteAfterTheRange) {
    Bytes frame(22);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 11 + 3);
    }
    const Bytes before = frame;
    calcCRC(frame, 21);
    EXPECT_EQ(frame[21], test::crc8(before, 21));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 21, frame.begin()));

    // A count at or past the end writes nothing.
    Bytes small{1, 2, 3};
    calcCRC(small, 3);
    calcCRC(small, 99);
    EXPECT_EQ(small, (Bytes{1, 2, 3}));
}

TEST(Frames, EmptyPayloadFrameIsSixBytesWithCrcOverFive) {
    Bytes f = makeFrame(0x14, 0);
    ASSERT_EQ(f.size(), 6u);
    seal(f, 0);
    EXPECT_EQ(f, (Bytes{0xAA, 0x14, 0x01, 0x00, 0x00, test::crc8(f, 5)}));
}

TEST(Frames, MetricsRequestMatchesWorkedExample) {
    Bytes f = makeFrame(cmd::kMetrics, 13);
    f[4] = 1;
    for (std::size_t i = 5; i < 17; i += 2) {
        f[i] = 0x04;
    }
    seal(f, 0);
    EXPECT_EQ(f, (Bytes{0xAA, 0x50, 0x01, 0x0D, 0x01, 0x04, 0x00, 0x04, 0x00, 0x04, 0x00, 0x04, 0x00, 0x04,
                        0x00, 0x04, 0x00, 0x00, 0xF1}));
}

TEST(Frames, IdentityFramesCarryProductIdAndMasterSerial) {
    for (std::uint8_t command : {cmd::kInfo, cmd::kPresetChanged}) {
        const Bytes f = buildIdentityFrame(command);
        ASSERT_EQ(f.size(), 22u);
        Bytes expected{0xAA, command, 0x01, 0x10, 0xA3, 0xE4, 0x00, 0x00};
        for (char c : identity::kMasterSerial) {
            expected.push_back(static_cast<std::uint8_t>(c));
        }
        expected.push_back(0); // byte 19
        expected.push_back(0); // following
        expected.push_back(test::crc8(expected, expected.size()));
        EXPECT_EQ(f, expected) << "command " << int(command);
    }
}

TEST(Frames, TestModeFramesCarryWordThenSerial) {
    for (auto word : {identity::kWordEnterTest, identity::kWordLeaveTest, identity::kWordLoadOn,
                      identity::kWordLoadOff}) {
        const Bytes f = buildTestModeFrame(word);
        ASSERT_EQ(f.size(), kTestModeFrameSize);
        EXPECT_EQ(f[1], cmd::kTestMode);
        EXPECT_EQ(std::string(f.begin() + 4, f.begin() + 8), word);
        EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 19), identity::kMasterSerial);
        EXPECT_EQ(f[19], 0);
        EXPECT_EQ(f[20], 0);
        EXPECT_EQ(f[21], test::crc8(f, 21));
    }
}

TEST(Frames, DataBlockHeaderAndRecords) {
    const Bytes block = makeDataBlockFrame();
    ASSERT_EQ(block.size(), 2064u);
    EXPECT_EQ((Bytes{block.begin(), block.begin() + 6}), (Bytes{0xAA, 0x23, 0x01, 0xFF, 0x08, 0x0A}));

    Bytes r = makeRecord(rec::kMeasurement, rec::kMeasurementSize, 0x0123);
    seal(r, rec::kMeasurement);
    EXPECT_EQ(r[0], 0x02);
    EXPECT_EQ(r[2], 0x23);
    EXPECT_EQ(r[3], 0x01);
    EXPECT_EQ(r[10], 0x02);
    EXPECT_EQ(r[11], test::crc8(r, 11));
}

} // namespace
} // namespace zanst::bus
