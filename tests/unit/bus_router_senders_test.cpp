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
class RecordingListener : public BusListener {
  public:
    explicit RecordingListener(const test::FakePort& port) : port_(port) {}
    void receive(std::span<const std::uint8_t> bytes) override {
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

    void SetUp() override {
        router.setEmulator(&emulator);
        router.setSniffer(&sniffer);
    }
    void select(Tab tab, bool battery = false, bool sniff = false) {
        state.selectedTab = tab;
        state.bBatteryMode = battery;
        state.bSniffer = sniff;
    }
};

TEST_F(RouterTest, RouteFollowsTheModeFlags) {
    struct Row {
        Tab tab;
        bool battery;
        bool sniff;
        Route route;
    };
    const Row rows[] = {
        {Tab::Connection, false, false, Route::Discard},   {Tab::Connection, true, true, Route::Discard},
        {Tab::BmsTester, true, false, Route::Emulator},    {Tab::Sniffer, false, true, Route::Sniffer},
        {Tab::BatteryTester, false, false, Route::Master}, {Tab::Calibration, false, false, Route::Master},
        {Tab::Metrics, false, false, Route::Master},       {Tab::Actions, false, false, Route::Master},
    };
    for (const auto& r : rows) {
        select(r.tab, r.battery, r.sniff);
        EXPECT_EQ(routeFor(state), r.route) << static_cast<int>(r.tab);
    }
}

TEST_F(RouterTest, ConnectionTabDiscardsAndNeverResetsTheTimeout) {
    select(Tab::Connection);
    state.battCommTimeout = 2;
    const Bytes f = test::frame(0x10, Bytes(16, 0), 0);
    router.route(f);
    EXPECT_EQ(state.battCommTimeout, 2);
    EXPECT_EQ(state.ackReceived, 0);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(emulator.seen.empty());
    EXPECT_TRUE(sniffer.seen.empty());
}

TEST_F(RouterTest, EmulatorGetsEveryByteAndNothingIsEchoed) {
    select(Tab::BmsTester, true);
    router.route(Bytes{0xAA, 0x01, 0x02});
    EXPECT_EQ(emulator.seen, (Bytes{0xAA, 0x01, 0x02}));
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(state.frameReceiving);
}

TEST_F(RouterTest, SnifferEchoesEachByteOnceBeforeParsingIt) {
    select(Tab::Sniffer, false, true);
    const Bytes bytes{0x00, 0xAA, 0x02, 0x01, 0x14, 0xFF};
    router.route(bytes);
    router.route(Bytes{0x42});
    EXPECT_EQ(port.all(), (Bytes{0x00, 0xAA, 0x02, 0x01, 0x14, 0xFF, 0x42}));
    ASSERT_EQ(port.writes.size(), 7u);
    for (const auto& w : port.writes) {
        EXPECT_EQ(w.size(), 1u);
    }
    EXPECT_EQ(sniffer.seen, port.all());
    for (std::size_t i = 0; i < sniffer.writtenWhenSeen.size(); ++i) {
        EXPECT_EQ(sniffer.writtenWhenSeen[i], i + 1) << "byte " << i << " parsed before its echo";
    }
}

TEST_F(RouterTest, SnifferStopsWhenThePortFails) {
    select(Tab::Sniffer, false, true);
    port.failWrites = true;
    router.route(Bytes{1, 2, 3});
    EXPECT_TRUE(sniffer.seen.empty());
}

TEST_F(RouterTest, SnifferModeRestartsTheMasterAssembly) {
    select(Tab::BatteryTester);
    router.route(Bytes{0xAA, 0x02, 0x01});
    EXPECT_EQ(master.framer().state().byteCounter, 3);
    select(Tab::Sniffer, false, true);
    router.route(Bytes{0x00});
    EXPECT_EQ(master.framer().state().byteCounter, 0);
}

TEST_F(RouterTest, MasterModeFeedsTheReceiver) {
    select(Tab::BatteryTester);
    router.route(test::frame(0x10, Bytes(16, 0), 0));
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
