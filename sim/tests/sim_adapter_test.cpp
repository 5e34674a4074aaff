// The simulated USB adapter's timing, its options, and the ring judging a late echo as late, not
// lost, when its BMS gave up sooner.

#include "sim/adapter_line.hpp"
#include "sim/options.hpp"
#include "sim/roles.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;
using std::chrono::microseconds;

const TimePoint t0{};

Bytes counting(std::size_t n, std::uint8_t from = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(from + i);
    }
    return b;
}

struct Packet {
    Duration at; // after t0
    std::size_t bytes;
};

struct HoldCase {
    const char* name;
    int latencyMs;
    Duration pushedAt;
    std::size_t burst;
    std::vector<Packet> packets;
};

class AdapterTiming : public testing::TestWithParam<HoldCase> {};

// Steps through time packet by packet: nothing comes out before each packet's time, the packet
// comes out whole at it, and nextRelease() announced it.
TEST_P(AdapterTiming, HandsOnPacketsWhenFullOrWhenTheTimerExpires) {
    const HoldCase& c = GetParam();
    AdapterConfig config;
    config.latency = std::chrono::milliseconds(c.latencyMs);
    AdapterLine line(config, t0);
    const Bytes sent = counting(c.burst);
    line.push(sent, t0 + c.pushedAt);
    Bytes out;
    for (const Packet& p : c.packets) {
        SCOPED_TRACE(std::to_string(out.size()) + " bytes out so far");
        ASSERT_EQ(line.nextRelease(), t0 + p.at);
        EXPECT_TRUE(line.take(t0 + p.at - 1us).empty());
        const Bytes packet = line.take(t0 + p.at);
        EXPECT_EQ(packet.size(), p.bytes);
        out.insert(out.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(out, sent) << "every byte, in order";
    EXPECT_EQ(line.held(), 0U);
    EXPECT_FALSE(line.nextRelease());
    EXPECT_EQ(line.packets(), static_cast<long>(c.packets.size()));
    EXPECT_LE(line.longestHold(), std::chrono::milliseconds(c.latencyMs));
}

// 40 us a byte: 62 bytes fill a packet 2.44 ms after the first arrived (the 62nd arrives at 61 x 40 us).
const HoldCase kHoldCases[] = {
    {"ShortBurstWaitsForTheTimer", 16, Duration::zero(), 10, {{16ms, 10}}},
    {"ShortBurstMidPeriodWaitsTheRest", 16, 5ms, 10, {{16ms, 10}}},
    {"LongBurstFullPacketsThenTheTailAfterTheLatency",
     16,
     Duration::zero(),
     150,
     {{2440us, 62}, {4920us, 62}, {20920us, 26}}},
    {"AtOneMillisecondTheBurstTrickles",
     1,
     Duration::zero(),
     150,
     {{1ms, 26}, {2ms, 25}, {3ms, 25}, {4ms, 25}, {5ms, 25}, {6ms, 24}}},
    {"TimerExpiringWhileTheFirstPacketFills", 16, 15ms, 150, {{16ms, 26}, {18480us, 62}, {20960us, 62}}},
    {"TheTimerKeepsItsPhaseWhileIdle", 16, 1000ms + 3ms, 4, {{1008ms, 4}}},
    {"ExactlyOnePacket", 16, Duration::zero(), 62, {{2440us, 62}}},
};

INSTANTIATE_TEST_SUITE_P(Bursts, AdapterTiming, testing::ValuesIn(kHoldCases),
                         [](const testing::TestParamInfo<HoldCase>& p) { return std::string(p.param.name); });

TEST(AdapterLine, BurstsQueueBehindEachOtherAtTheLineRateAndClearDropsThem) {
    AdapterLine line(AdapterConfig{}, t0);
    line.push(counting(10), t0);
    line.push(counting(10, 10), t0); // the line is still busy with the first ten
    EXPECT_EQ(line.lastArrival(), t0 + 19 * AdapterConfig::kLineByteTime);
    EXPECT_EQ(line.take(t0 + 16ms), counting(20));
    EXPECT_EQ(line.longestHold(), 16ms);

    line.push(counting(30), t0 + 20ms);
    EXPECT_EQ(line.held(), 30U);
    line.clear();
    EXPECT_EQ(line.held(), 0U);
    EXPECT_TRUE(line.take(t0 + 100ms).empty());
    EXPECT_EQ(line.bytesPassed(), 20);
}

// ---- options ----

TEST(AdapterOptions, ValuesLandWhereTheyBelong) {
    const auto parse = [](std::vector<std::string_view> args) { return parseOptions(args); };
    Options o = parse({"ring", "--adapter-latency", "16", "--bms-answer-ms=12"}).options;
    EXPECT_EQ(o.adapterLatencyMs, 16);
    EXPECT_EQ(o.bmsAnswerMs, 12);
    EXPECT_TRUE(o.adapterToTool());
    EXPECT_FALSE(o.adapterFromTool());
    o = parse({"bms", "--adapter-side", "both", "--adapter-latency", "1"}).options;
    EXPECT_TRUE(o.adapterToTool());
    EXPECT_TRUE(o.adapterFromTool());
    o = parse({"--adapter-latency", "255", "--adapter-side", "from-tool"}).options;
    EXPECT_FALSE(o.adapterToTool());
    EXPECT_TRUE(o.adapterFromTool());
    o = parse({}).options;
    EXPECT_FALSE(o.adapterToTool() || o.adapterFromTool()) << "no adapter unless asked for";
    EXPECT_EQ(o.bmsAnswerMs, 900);
    EXPECT_EQ(std::chrono::milliseconds(o.bmsAnswerMs), BmsConfig{}.answerTimeout);
    EXPECT_NE(helpText().find("--adapter-latency MS"), std::string::npos);
    EXPECT_NE(helpText().find("--bms-answer-ms MS"), std::string::npos);
}

// ---- the ring, its BMS impatient ----

BankConfig quietBank() {
    BankConfig c;
    c.noise = false;
    return c;
}

struct LateEcho {
    const char* name;
    Duration firstPart; // when the tool repeats all but the last 26 bytes
    Duration tail;      // when it repeats those
    bool tailArrives;
    const char* verdict;
};

class RingWithImpatientBms : public testing::TestWithParam<LateEcho> {};

TEST_P(RingWithImpatientBms, TheTimeOutWaitsForTheEchoVerdict) {
    const LateEcho& c = GetParam();
    BmsConfig bms;
    bms.answerTimeout = 12ms;
    RingRole ring(quietBank(), bms, FaultConfig{}, t0);
    ring.peerChanged(true, t0);
    ring.tick(t0 + 1s);
    const Bytes info = ring.takeOutput();
    ASSERT_EQ(info.size(), 150U);
    const Bytes head(info.begin(), info.end() - 26);
    const Bytes tail(info.end() - 26, info.end());

    ring.received(head, t0 + 1s + c.firstPart);
    ASSERT_EQ(ring.nextDeadline(), t0 + 1s + 12ms) << "the BMS's own deadline";
    ring.tick(t0 + 1s + 12ms);
    EXPECT_TRUE(ring.takeLines().empty()) << "the BMS gave up; the echo is not judged yet";
    EXPECT_EQ(ring.bms().timeoutCount(), 1);
    ASSERT_EQ(ring.nextDeadline(), t0 + 1s + RingRole::kEchoWindow);

    std::vector<std::string> lines;
    if (c.tailArrives) {
        ring.received(tail, t0 + 1s + c.tail);
        lines = ring.takeLines();
    } else {
        ring.tick(t0 + 1s + RingRole::kEchoWindow);
        lines = ring.takeLines();
    }
    ASSERT_FALSE(lines.empty());
    const std::string& line = lines[0];
    EXPECT_EQ(line.rfind("info #1 TIMEOUT balancers=3 ", 0), 0U) << line;
    EXPECT_NE(line.find(c.verdict), std::string::npos) << line;
    const std::string summary = ring.summary()[0];
    EXPECT_NE(summary.find(" timeouts=1 "), std::string::npos) << summary;
    EXPECT_NE(summary.find(" stray=0"), std::string::npos)
        << summary << ": late bytes belong to their exchange";
    EXPECT_EQ(summary.find("answer_ms_"), std::string::npos) << "no answer came back whole in time";
}

const LateEcho kLateEchoes[] = {
    {"TailAfterTheBmsGaveUpIsStillAGoodEcho", 5ms, 21ms, true, " echo=150/150 echo_ok"},
    {"TailThatNeverComesIsABadEcho", 5ms, Duration::zero(), false,
     " echo=124/150 echo_BAD differ=26 first_diff_at=124"},
};

INSTANTIATE_TEST_SUITE_P(Echoes, RingWithImpatientBms, testing::ValuesIn(kLateEchoes),
                         [](const testing::TestParamInfo<LateEcho>& p) { return std::string(p.param.name); });

TEST(RingWithImpatientBms, AnAnswerInTimeCountsItsTime) {
    BmsConfig bms;
    bms.answerTimeout = 12ms;
    RingRole ring(quietBank(), bms, FaultConfig{}, t0);
    ring.peerChanged(true, t0);
    ring.tick(t0 + 1s);
    const Bytes info = ring.takeOutput();
    ring.received(Bytes(info.begin(), info.begin() + 100), t0 + 1s + 2ms);
    ring.received(Bytes(info.begin() + 100, info.end()), t0 + 1s + 7500us);
    const auto lines = ring.takeLines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("info #1 ok balancers=4 "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" delay_ms=2.00 answer_ms=7.50 echo=150/150 echo_ok"), std::string::npos)
        << lines[0];
    EXPECT_NE(ring.summary()[0].find(" answer_ms_median=7.50 answer_ms_max=7.50 "), std::string::npos)
        << ring.summary()[0];
}

} // namespace
} // namespace zanst::sim
