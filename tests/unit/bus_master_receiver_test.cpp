#include "bus/master_receiver.hpp"
#include "bus/records.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::bus {
namespace {

using test::concat;
using test::frame;
using test::InfoFields;
using test::infoRecord;
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

// A record whose CRC fails is counted against its place and not copied; the framing is unchanged,
// and an info list with a damaged record is asked for again.
TEST_F(MasterReceiverTest, CorruptedRecordsAreCountedNotCopied) {
    Bytes damaged = info(2, 1);
    damaged[5] ^= 0x20;
    feed(concat({infoRequest(1), info(1, 1), damaged, info(3, 0)}));
    EXPECT_EQ(state.numCells, 3) << "the damaged record still holds its place";
    EXPECT_EQ(state.tables.balInfo[2].id, 0);
    EXPECT_EQ(state.tables.balInfo[3].id, 3);
    EXPECT_FALSE(state.balancersInfo);
    EXPECT_EQ(state.health.balancers[2].crcErrors, 1u);

    feed(concat({frame(0x02, Bytes(20, 0), 2),
                 measurementRecord(1, 0x40, test::measurementWord(3300, 0), 0, 2),
                 measurementRecord(2, 0x40, test::measurementWord(3300, 0), 0, 2),
                 measurementRecord(3, 0x00, test::measurementWord(3300, 0), 0, 0)}));
    Bytes bad = measurementRecord(1, 0x40, test::measurementWord(4900, 0), 0, 0);
    bad[6] ^= 0x7F;
    feed(concat({frame(0x02, Bytes(20, 0), 2), bad}));
    EXPECT_EQ(cellVoltageMv(state.tables.balancer[1].measurement), 3300) << "the last good value stays";
    EXPECT_EQ(state.health.crcErrors, 2u);
    EXPECT_EQ(state.health.balancers[3].missedAnswers, 1u);
    EXPECT_EQ(state.health.noAnswerAfter, 2) << "balancer 3 passed its record on unfilled";
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

// What a completed frame does on the master side; where frames end is the framer's contract.
TEST_F(MasterReceiverTest, CompletedFramesAcknowledgeClearFlashBusyAndAskForInfoAgain) {
    struct Row {
        const char* name;
        Bytes frame;
        int ack; // -1: left as it was
        bool flashBsy;
        bool balancersInfo;
    };
    const Bytes block = test::dataBlock(2058, 2064, 0xAA); // start bytes inside are data
    const auto fixed = [](std::uint8_t command) {
        Bytes f(16, 0x55);
        f[0] = 0xAA;
        f[1] = command;
        return f;
    };
    const Row rows[] = {
        {"test mode", frame(0x10, Bytes(16, 'x'), 0), 0x10, true, true},
        {"unanswered info request", infoRequest(0), 0x01, true, true},
        {"start update", fixed(0x21), 0x21, false, true},
        {"end update", fixed(0x22), 0x22, false, true},
        {"0x80", fixed(0x80), 0x80, false, true},
        {"data block", block, -1, false, true},
        {"bank changed", frame(0x31, Bytes(16, 0), 0), 0x31, false, false},
    };
    for (const Row& r : rows) {
        state = BusState{};
        state.ackReceived = -1;
        state.flashBsy = true;
        state.balancersInfo = true;
        state.numCells = 4;
        feed(r.frame);
        EXPECT_FALSE(state.frameReceiving) << r.name;
        EXPECT_EQ(state.ackReceived, r.ack) << r.name;
        EXPECT_EQ(state.flashBsy, r.flashBsy) << r.name;
        EXPECT_EQ(state.balancersInfo, r.balancersInfo) << r.name;
        EXPECT_EQ(state.commandPending, r.frame[1]) << r.name;
        EXPECT_EQ(state.numCells, r.frame[1] == 0x01 ? 0 : 4)
            << r.name << ": an info request empties the count";
    }
}

TEST_F(MasterReceiverTest, OnlyAStartByteResetsTheTimeout) {
    state.battCommTimeout = 3;
    feed(Bytes{0x00, 0x12, 0x55, 0x01, 0x02});
    EXPECT_EQ(state.battCommTimeout, 3);
    rx.feed(0xAA);
    EXPECT_EQ(state.battCommTimeout, 0);
}

TEST_F(MasterReceiverTest, ClearingFrameReceivingSendsTheReceiverHunting) {
    // The command sender clears the flag in the middle of an answer: the rest is ignored.
    const Bytes answer = concat({infoRequest(1), info(1, 1), info(2, 0)});
    feed(Bytes(answer.begin(), answer.begin() + 40));
    ASSERT_TRUE(state.frameReceiving);
    state.frameReceiving = false;
    feed(Bytes(answer.begin() + 40, answer.end()));
    EXPECT_FALSE(state.frameReceiving);
    EXPECT_EQ(state.numCells, 0);
    EXPECT_FALSE(state.balancersInfo);
    feed(concat({infoRequest(1), info(1, 0)}));
    EXPECT_EQ(state.numCells, 1);
    EXPECT_TRUE(state.balancersInfo);
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
