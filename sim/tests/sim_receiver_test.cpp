#include "sim/frame_receiver.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;
using test::concat;
using test::frame;

const TimePoint t0{};

using K = FrameReceiver::Result;

// The simulator's own reasons to give up on a message, and what it hands over of it. Where
// frames and records end is the framer's contract (tests/unit/framer_contract_test.cpp).
TEST(FrameReceiver, DropsAMessageOnItsOwnRules) {
    struct Drop {
        const char* name;
        Bytes bytes;
        std::string reason;
        std::size_t frameBytes;
        std::size_t records;
        std::size_t recordBytes;
        bool passingOver = false; // the rest of the frame is still to be passed over
    };
    Bytes manyRecords = frame(0x02, Bytes(20, 0), 2);
    for (std::size_t i = 0; i < FrameReceiver::kMaxRecords; ++i) {
        const Bytes r = test::measurementRecord(1, 0, 0, 0, 2);
        manyRecords.insert(manyRecords.end(), r.begin(), r.end());
    }
    const Drop drops[] = {
        {"a block announcing more than the buffer", test::dataBlock(0xFFF0, 13),
         "frame announces 65526 bytes", 13, 0, 0, true},
        {"a record of a type nobody sends", concat({frame(0x02, Bytes(20, 0), 2), Bytes{0x07, 0, 1, 0}}),
         "record type 0x07 unknown", 26, 0, 1},
        {"more records than ids", manyRecords, "more than 4096 records", 26, FrameReceiver::kMaxRecords, 0},
    };
    for (const Drop& d : drops) {
        FrameReceiver rx;
        int events = 0;
        FrameReceiver::Event last;
        for (std::uint8_t b : d.bytes) {
            const K result = rx.feed(b, t0);
            if (result != K::None) {
                ++events;
                EXPECT_EQ(result, K::Dropped) << d.name;
                last = rx.take();
            }
        }
        ASSERT_EQ(events, 1) << d.name;
        EXPECT_EQ(last.reason, d.reason) << d.name;
        EXPECT_EQ(last.message.frame.size(), d.frameBytes) << d.name;
        EXPECT_EQ(last.message.records.size(), d.records) << d.name;
        EXPECT_EQ(last.recordBytes, d.recordBytes) << d.name;
        EXPECT_EQ(rx.hunting(), !d.passingOver) << d.name;
    }
}

TEST(FrameReceiver, AnOversizedFrameIsPassedOverUntilItsEndOrAPause) {
    const Bytes next = frame(0x01, Bytes(16, 0), 0);
    struct Row {
        const char* name;
        Bytes block;         // announces 4000 bytes; its data is all start bytes
        Duration pauseAfter; // before `next`
        bool nextArrives;
    };
    const Row rows[] = {
        {"whole, then the next frame", test::dataBlock(3994, 4000, 0xAA), 0ms, true},
        {"cut short, the next frame swallowed as its bytes", test::dataBlock(3994, 3000, 0xAA), 0ms, false},
        {"cut short, a pause ends it", test::dataBlock(3994, 3000, 0xAA), FrameReceiver::kByteTimeout, true},
    };
    for (const Row& row : rows) {
        FrameReceiver rx;
        int dropped = 0;
        int complete = 0;
        for (std::uint8_t b : row.block) {
            const K result = rx.feed(b, t0);
            dropped += result == K::Dropped ? 1 : 0;
            complete += result == K::Complete ? 1 : 0;
        }
        EXPECT_EQ(dropped, 1) << row.name;
        EXPECT_EQ(rx.partial().frame.size(), 0u) << row.name << ": reported once, with the drop";
        const TimePoint later = t0 + row.pauseAfter;
        EXPECT_EQ(rx.expire(later), K::None) << row.name;
        for (std::uint8_t b : next) {
            const K result = rx.feed(b, later);
            dropped += result == K::Dropped ? 1 : 0;
            complete += result == K::Complete ? 1 : 0;
        }
        EXPECT_EQ(dropped, 1) << row.name;
        EXPECT_EQ(complete, row.nextArrives ? 1 : 0) << row.name;
        if (row.nextArrives) {
            EXPECT_EQ(rx.take().message.frame, next) << row.name;
        }
    }
}

TEST(FrameReceiver, AGapInsideAMessageDropsItAndTheNextFrameStillArrives) {
    FrameReceiver rx;
    const Bytes first = concat({frame(0x02, Bytes(20, 0), 2), test::measurementRecord(1, 0, 0, 0, 2)});
    for (std::uint8_t b : first) {
        EXPECT_EQ(rx.feed(b, t0), K::None);
    }
    ASSERT_TRUE(rx.deadline());
    EXPECT_EQ(*rx.deadline(), t0 + FrameReceiver::kByteTimeout);
    EXPECT_EQ(rx.expire(t0 + 99ms), K::None);

    // The missing record never comes; the next request starts after the gap.
    const TimePoint later = t0 + 150ms;
    const Bytes next = frame(0x01, Bytes(16, 0), 0);
    EXPECT_EQ(rx.feed(next[0], later), K::Dropped);
    EXPECT_EQ(rx.take().message.records.size(), 1U);
    K result = K::None;
    for (std::size_t i = 1; i < next.size(); ++i) {
        result = rx.feed(next[i], later);
    }
    EXPECT_EQ(result, K::Complete);
    EXPECT_EQ(rx.take().message.command(), 0x01);
}

} // namespace
} // namespace zanst::sim
