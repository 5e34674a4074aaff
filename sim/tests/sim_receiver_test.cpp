#include "sim/frame_receiver.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;
using test::concat;
using test::frame;

const TimePoint t0{};

Bytes infoRec(std::uint16_t id, std::uint8_t following) {
    test::InfoFields f;
    f.id = id;
    f.following = following;
    return test::infoRecord(f);
}

struct Stream {
    const char* name;
    Bytes bytes;
    FrameReceiver::Result lastEvent;
    std::uint8_t command;
    std::size_t frameSize;
    std::size_t records;
};

class ReceiverStreams : public testing::TestWithParam<Stream> {};

TEST_P(ReceiverStreams, CutsMessagesByTheSharedSizeRule) {
    const Stream& s = GetParam();
    FrameReceiver rx;
    FrameReceiver::Event last;
    FrameReceiver::Result lastResult = FrameReceiver::Result::None;
    int events = 0;
    for (std::uint8_t b : s.bytes) {
        const auto result = rx.feed(b, t0);
        if (result != FrameReceiver::Result::None) {
            lastResult = result;
            last = rx.take();
            ++events;
        }
    }
    ASSERT_EQ(events, 1) << s.name;
    EXPECT_EQ(lastResult, s.lastEvent) << s.name;
    EXPECT_EQ(last.message.command(), s.command) << s.name;
    EXPECT_EQ(last.message.frame.size(), s.frameSize) << s.name;
    EXPECT_EQ(last.message.records.size(), s.records) << s.name;
    EXPECT_TRUE(rx.hunting()) << s.name;
}

Bytes dataBlock(std::uint16_t length) {
    Bytes b(static_cast<std::size_t>(length) + 6, 0x55);
    b[0] = 0xAA;
    b[1] = 0x23;
    b[2] = 0x01;
    b[3] = 0xFF;
    b[4] = static_cast<std::uint8_t>(length >> 8);
    b[5] = static_cast<std::uint8_t>(length & 0xFF);
    return b;
}

using K = FrameReceiver::Result;

INSTANTIATE_TEST_SUITE_P(
    Table, ReceiverStreams,
    testing::Values(
        Stream{"wake-up bytes, then an info request", concat({Bytes(10, 0), frame(0x01, Bytes(16, 0), 0)}),
               K::Complete, 0x01, 22, 0},
        Stream{"info answer with three records", concat({frame(0x01, Bytes(16, 0), 1), infoRec(1, 1), infoRec(2, 1), infoRec(3, 0)}),
               K::Complete, 0x01, 22, 3},
        Stream{"measurement poll with two placeholders",
               concat({frame(0x02, Bytes(20, 0), 2), test::measurementRecord(1, 0, 0, 0, 2),
                       test::measurementRecord(2, 0, 0, 0, 0)}),
               K::Complete, 0x02, 26, 2},
        Stream{"0x21 is 16 bytes whatever its length byte says", concat({Bytes{0xAA, 0x21, 0x01, 0x40}, Bytes(12, 0xAA)}),
               K::Complete, 0x21, 16, 0},
        Stream{"0x31 away from the master side follows its length byte", frame(0x31, Bytes(20, 0), 0), K::Complete,
               0x31, 26, 0},
        Stream{"a 2064-byte firmware block", dataBlock(2058), K::Complete, 0x23, 2064, 0},
        Stream{"a block announcing more than the buffer is dropped", dataBlock(0xFFF0), K::Dropped, 0x23, 13, 0},
        Stream{"a record of a type nobody sends is dropped at once",
               concat({frame(0x02, Bytes(20, 0), 2), Bytes{0x07, 0, 1, 0}}), K::Dropped, 0x02, 26, 0}),
    [](const testing::TestParamInfo<Stream>& p) { return "case" + std::to_string(p.index); });

TEST(FrameReceiver, AnAAInsideAFrameIsData) {
    FrameReceiver rx;
    Bytes payload(16, 0xAA);
    const Bytes f = frame(0x01, payload, 0);
    K result = K::None;
    for (std::uint8_t b : f) {
        result = rx.feed(b, t0);
    }
    EXPECT_EQ(result, K::Complete);
    EXPECT_EQ(rx.take().message.frame, f);
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
