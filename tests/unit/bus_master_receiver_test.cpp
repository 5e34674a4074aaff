#include "bus/master_receiver.hpp"
#include "bus/records.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::bus {
namespace {

using test::concat;
using test::frame;
using test::infoRecord;
using test::InfoFields;
using test::measurementRecord;

class MasterReceiverTest : public testing::Test {
protected:
    BusState state;
    MasterReceiver rx{state};

    void feed(const Bytes& bytes) {
        for (auto b : bytes) {
            rx.feed(b);
        }
    }
    static Bytes infoRequest(std::uint8_t following) { return frame(0x01, Bytes(16, 0), following); }
    static Bytes info(std::uint16_t id, std::uint8_t following) {
        InfoFields f;
        f.id = id;
        f.following = following;
        return infoRecord(f);
    }
};

TEST_F(MasterReceiverTest, InfoAnswerForThreeBalancers) {
    state.numCells = 9;
    feed(concat({infoRequest(1), info(1, 1), info(2, 1), info(3, 0)}));
    EXPECT_EQ(state.numCells, 3);
    EXPECT_TRUE(state.balancersInfo);
    EXPECT_EQ(state.ackReceived, 0x01);
    EXPECT_FALSE(state.frameReceiving);
    for (std::uint16_t id = 1; id <= 3; ++id) {
        EXPECT_EQ(state.tables.balInfo[id].id, id);
        EXPECT_EQ(state.tables.balInfo[id].serialText(), "HQ2200A6021");
    }
    EXPECT_EQ(state.tables.balInfo[4].id, 0);
}

TEST_F(MasterReceiverTest, InfoRecordsWithLargeIdsAreCountedButNotStored) {
    feed(concat({infoRequest(1), info(255, 1), info(256, 1), info(0x0FFF, 0)}));
    EXPECT_EQ(state.numCells, 3);
    EXPECT_EQ(state.tables.balInfo[255].id, 255);
    EXPECT_EQ(state.tables.balInfo[0].id, 0);
    EXPECT_TRUE(state.balancersInfo);
}

TEST_F(MasterReceiverTest, MeasurementAndCalibrationRecordsFillTheirTables) {
    feed(concat({frame(0x02, Bytes(20, 0), 2), measurementRecord(0x3001, 0xC0, 0x8FC, 0x1900, 2),
                 measurementRecord(2, 0x40, test::measurementWord(3400, -250), 0x1920, 0)}));
    EXPECT_EQ(state.ackReceived, 0x02);
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_EQ(state.tables.balancer[1].id, 1);
    EXPECT_EQ(state.tables.balancer[1].flags, 0xC0);
    EXPECT_EQ(state.tables.balancer[1].measurement, 0x8FC);
    EXPECT_EQ(cellCurrentMa(state.tables.balancer[2].measurement), -250);
    EXPECT_EQ(state.tables.balancer[2].temperature, 0x1920);

    feed(concat({frame(0x08, Bytes(12, 0), 8), test::calibrationRecord(4, 0x80, 11, 22, 33, 0)}));
    EXPECT_EQ(state.ackReceived, 0x08);
    EXPECT_EQ(state.tables.balCalData[4].vGain, 11);
    EXPECT_EQ(state.tables.balCalData[4].iGain, 22);
    EXPECT_EQ(state.tables.balCalData[4].iOffset, 33);
}

TEST_F(MasterReceiverTest, FrameWithoutRecordsOnlyAcknowledges) {
    state.numCells = 4;
    feed(frame(0x10, Bytes(16, 'x'), 0));
    EXPECT_EQ(state.ackReceived, 0x10);
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_EQ(state.numCells, 4);
    // An info request that nobody answered empties the count but leaves the list incomplete.
    feed(infoRequest(0));
    EXPECT_EQ(state.numCells, 0);
    EXPECT_FALSE(state.balancersInfo);
}

TEST_F(MasterReceiverTest, PresetAnnouncementEndsAfterTwentyTwoBytesAndAsksForInfo) {
    state.balancersInfo = true;
    state.flashBsy = true;
    Bytes f = frame(0x31, Bytes(40, 0), 0); // its length byte says 46
    feed(Bytes(f.begin(), f.begin() + 21));
    EXPECT_TRUE(state.frameReceiving);
    rx.feed(f[21]);
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_FALSE(state.balancersInfo);
    EXPECT_FALSE(state.flashBsy);
    EXPECT_EQ(state.ackReceived, 0x31);
}

TEST_F(MasterReceiverTest, FixedSixteenByteFrames) {
    for (std::uint8_t command : {std::uint8_t{0x21}, std::uint8_t{0x22}, std::uint8_t{0x80}}) {
        state.flashBsy = true;
        Bytes f(16, 0x55);
        f[0] = 0xAA;
        f[1] = command;
        f[3] = 200; // not read
        feed(Bytes(f.begin(), f.end() - 1));
        EXPECT_TRUE(state.frameReceiving);
        rx.feed(f.back());
        EXPECT_FALSE(state.frameReceiving) << int(command);
        EXPECT_FALSE(state.flashBsy);
        EXPECT_EQ(state.ackReceived, command);
    }
}

TEST_F(MasterReceiverTest, DataBlockIsConsumedWholeAndLeavesAckAlone) {
    state.ackReceived = 0x21;
    state.flashBsy = true;
    Bytes block(2064, 0xAA); // start bytes inside the block are data
    block[1] = 0x23;
    block[2] = 0x01;
    block[3] = 0xFF;
    block[4] = 0x08;
    block[5] = 0x0A;
    feed(Bytes(block.begin(), block.end() - 1));
    EXPECT_TRUE(state.frameReceiving);
    EXPECT_EQ(rx.framer().state().cmdSize, 2064);
    rx.feed(block.back());
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_FALSE(state.flashBsy);
    EXPECT_EQ(state.ackReceived, 0x21);
    // The next frame is received normally.
    feed(frame(0x10, Bytes(16, 0), 0));
    EXPECT_EQ(state.ackReceived, 0x10);
}

TEST_F(MasterReceiverTest, BytesBeforeTheStartAreIgnoredAndResetNothing) {
    state.battCommTimeout = 3;
    feed(Bytes{0x00, 0x12, 0x55, 0x01, 0x02});
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_EQ(state.battCommTimeout, 3);
    rx.feed(0xAA);
    EXPECT_TRUE(state.frameReceiving);
    EXPECT_EQ(state.battCommTimeout, 0);
    EXPECT_EQ(rx.framer().state().cmdSize, 18);
}

TEST_F(MasterReceiverTest, StartByteInsideARecordIsData) {
    InfoFields f;
    f.id = 1;
    f.serial = "\xAA\xAA\xAA" "DEFGHIJK";
    feed(concat({infoRequest(1), infoRecord(f)}));
    EXPECT_EQ(state.numCells, 1);
    EXPECT_EQ(static_cast<std::uint8_t>(state.tables.balInfo[1].serial[0]), 0xAA);
    EXPECT_TRUE(state.balancersInfo);
}

TEST_F(MasterReceiverTest, OverlongFrameIsAbandonedAtTheBufferLimit) {
    // A data block that announces more than the buffer holds.
    Bytes head{0xAA, 0x23, 0x01, 0xFF, 0xFF, 0xFF};
    feed(head);
    feed(Bytes(2993, 0x00)); // bytes 6..2998
    EXPECT_TRUE(state.frameReceiving);
    rx.feed(0x00); // index 2999, the last that fits
    EXPECT_TRUE(state.frameReceiving);
    rx.feed(0x00); // would land at 3000
    EXPECT_FALSE(state.frameReceiving);
    feed(frame(0x10, Bytes(16, 0), 0));
    EXPECT_EQ(state.ackReceived, 0x10);
}

TEST_F(MasterReceiverTest, UnknownRecordTypeRunsToTheBufferLimit) {
    feed(frame(0x02, Bytes(20, 0), 5));
    Bytes junk(12, 0x05);
    feed(junk);
    EXPECT_TRUE(state.frameReceiving);
    feed(Bytes(3000 - 12 - 1, 0x05));
    EXPECT_TRUE(state.frameReceiving);
    rx.feed(0x05);
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_EQ(rx.framer().state().followingFrames, 0);
}

TEST_F(MasterReceiverTest, NewInfoListStartsFromZero) {
    feed(concat({infoRequest(1), info(1, 1), info(2, 0)}));
    EXPECT_EQ(state.numCells, 2);
    feed(infoRequest(1));
    EXPECT_EQ(state.numCells, 0);
    feed(info(1, 0));
    EXPECT_EQ(state.numCells, 1);
}

} // namespace
} // namespace zanst::bus
