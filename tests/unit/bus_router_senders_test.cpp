#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/router.hpp"
#include "bus/senders.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zanst::bus {
namespace {

// Notes each byte it is handed together with how many bytes the port had written by then.
class RecordingListener {
  public:
    explicit RecordingListener(const test::FakePort& port) : port_(port) {}
    void receive(std::span<const std::uint8_t> bytes) {
        for (auto b : bytes) {
            seen.push_back(b);
            writtenWhenSeen.push_back(port_.all().size());
        }
    }
    Bytes seen;
    std::vector<std::size_t> writtenWhenSeen;

  private:
    const test::FakePort& port_;
};

class RouterTest : public testing::Test {
  protected:
    BusState state;
    MasterReceiver master{state};
    test::FakePort port;
    ByteRouter router{state, master, port};
    RecordingListener emulator{port};
    RecordingListener sniffer{port};

    // As the engine routes a pass: the emulator takes what is forwarded, the sniffer each byte.
    void route(const Bytes& bytes) {
        const ReceivePass pass =
            router.route(bytes, [this](std::uint8_t b) { sniffer.receive(std::span(&b, 1)); });
        if (pass.route == Route::Emulator) {
            emulator.receive(pass.forwarded);
        }
    }
    void select(Mode tab, bool battery = false, bool sniff = false) {
        state.selectedMode = tab;
        state.bBatteryMode = battery;
        state.bSniffer = sniff;
    }
};

TEST_F(RouterTest, RouteFollowsTheModeFlags) {
    struct Row {
        Mode tab;
        bool battery;
        bool sniff;
        Route route;
    };
    const Row rows[] = {
        {Mode::Connection, false, false, Route::Discard},   {Mode::Connection, true, true, Route::Discard},
        {Mode::BmsTester, true, false, Route::Emulator},    {Mode::Sniffer, false, true, Route::Sniffer},
        {Mode::BatteryTester, false, false, Route::Master}, {Mode::Calibration, false, false, Route::Master},
        {Mode::Metrics, false, false, Route::Master},       {Mode::Actions, false, false, Route::Master},
    };
    for (const auto& r : rows) {
        select(r.tab, r.battery, r.sniff);
        EXPECT_EQ(routeFor(state), r.route) << static_cast<int>(r.tab);
    }
}

TEST_F(RouterTest, ConnectionTabDiscardsAndNeverResetsTheTimeout) {
    select(Mode::Connection);
    state.battCommTimeout = 2;
    const Bytes f = test::frame(0x10, Bytes(16, 0), 0);
    route(f);
    EXPECT_EQ(state.battCommTimeout, 2);
    EXPECT_EQ(state.ackReceived, 0);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(emulator.seen.empty());
    EXPECT_TRUE(sniffer.seen.empty());
}

TEST_F(RouterTest, EmulatorGetsEveryByteAndNothingIsEchoed) {
    select(Mode::BmsTester, true);
    route(Bytes{0xAA, 0x01, 0x02});
    EXPECT_EQ(emulator.seen, (Bytes{0xAA, 0x01, 0x02}));
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(state.frameReceiving);
}

TEST_F(RouterTest, SnifferEchoesEachByteOnceBeforeParsingIt) {
    select(Mode::Sniffer, false, true);
    const Bytes bytes{0x00, 0xAA, 0x02, 0x01, 0x14, 0xFF};
    route(bytes);
    route(Bytes{0x42});
    // Every byte echoed once, in order; each parsed only after its own echo has been written (a
    // pass goes back out whole, then its bytes are parsed).
    EXPECT_EQ(port.all(), (Bytes{0x00, 0xAA, 0x02, 0x01, 0x14, 0xFF, 0x42}));
    EXPECT_EQ(port.writes.size(), 2u) << "one write per pass";
    EXPECT_EQ(sniffer.seen, port.all());
    for (std::size_t i = 0; i < sniffer.writtenWhenSeen.size(); ++i) {
        EXPECT_GE(sniffer.writtenWhenSeen[i], i + 1) << "byte " << i << " parsed before its echo";
    }
    EXPECT_EQ(sniffer.writtenWhenSeen.back(), 7u) << "the last pass's parse waits for its echo only";
}

TEST_F(RouterTest, BytesTheEchoThreadSentBackAreParsedAndNotSentAgain) {
    select(Mode::BatteryTester);
    route(Bytes{0xAA, 0x02, 0x01});
    select(Mode::Sniffer, false, true);
    const Bytes bytes{0xAA, 0x02, 0x01, 0x14};
    const ReceivePass pass =
        router.routeEchoed(bytes, [this](std::uint8_t b) { sniffer.receive(std::span(&b, 1)); });
    EXPECT_EQ(pass.route, Route::Sniffer);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(sniffer.seen, bytes);
    EXPECT_EQ(master.framer().state().byteCounter, 0) << "the master side starts afresh, as in route()";

    // A mode changed while they travelled: they go where that mode's bytes go, not to the sniffer.
    select(Mode::BatteryTester);
    const ReceivePass late = router.routeEchoed(
        test::frame(0x10, Bytes(16, 0), 0), [this](std::uint8_t b) { sniffer.receive(std::span(&b, 1)); });
    EXPECT_EQ(late.route, Route::Master);
    EXPECT_EQ(state.ackReceived, 0x10);
    EXPECT_EQ(sniffer.seen, bytes);
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(RouterTest, SnifferStopsWhenThePortFails) {
    select(Mode::Sniffer, false, true);
    port.failWrites = true;
    route(Bytes{1, 2, 3});
    EXPECT_TRUE(sniffer.seen.empty());
}

TEST_F(RouterTest, SnifferModeRestartsTheMasterAssembly) {
    select(Mode::BatteryTester);
    route(Bytes{0xAA, 0x02, 0x01});
    EXPECT_EQ(master.framer().state().byteCounter, 3);
    select(Mode::Sniffer, false, true);
    route(Bytes{0x00});
    EXPECT_EQ(master.framer().state().byteCounter, 0);
}

TEST_F(RouterTest, MasterModeFeedsTheReceiver) {
    select(Mode::BatteryTester);
    route(test::frame(0x10, Bytes(16, 0), 0));
    EXPECT_EQ(state.ackReceived, 0x10);
    EXPECT_TRUE(port.writes.empty());
}

TEST(Senders, ClosedPortWritesNothingAndKeepsTheReceiverState) {
    test::FakePort port;
    port.open = false;
    bool frameReceiving = true;
    const Bytes frame = buildTestModeFrame(identity::kWordLeaveTest);
    EXPECT_FALSE(sendHexBmsCmd(port, frameReceiving, frame));
    EXPECT_FALSE(sendHexBms(port, frame));
    EXPECT_FALSE(sendHexUpdaterCmd(port, frame));
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(frameReceiving);
}

TEST(Senders, CommandSenderPrefixesTenZeroBytesAndStartsHunting) {
    test::FakePort port;
    bool frameReceiving = true;
    const Bytes frame = buildTestModeFrame(identity::kWordLeaveTest);
    ASSERT_TRUE(sendHexBmsCmd(port, frameReceiving, frame));
    Bytes expected(10, 0);
    expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(port.all(), expected);
    EXPECT_FALSE(frameReceiving);
    EXPECT_EQ(wakeupBuffer.size(), 25u);
}

TEST(Senders, PlainSendersWriteTheBytesUnchanged) {
    test::FakePort port;
    const Bytes record = test::measurementRecord(1, 0, 0x8FC, 0x1900, 0);
    ASSERT_TRUE(sendHexBms(port, record));
    ASSERT_TRUE(sendHexUpdaterCmd(port, record));
    EXPECT_EQ(port.all(), test::concat({record, record}));
}

TEST(Senders, FailedWriteDropsTheFrame) {
    test::FakePort port;
    port.failWrites = true;
    bool frameReceiving = true;
    EXPECT_FALSE(sendHexBmsCmd(port, frameReceiving, buildIdentityFrame(0x01)));
    EXPECT_TRUE(port.writes.empty());
}

} // namespace
} // namespace zanst::bus
