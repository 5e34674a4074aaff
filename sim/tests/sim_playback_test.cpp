// The simulator and recordings: a bank that plays one (--from), a BMS that holds every answer
// against one (--expect), and the pair of them, the bank's answers fed to the BMS's check.

#include "playback/capture_reader.hpp"
#include "sim/options.hpp"
#include "sim/roles.hpp"
#include "sim_test_util.hpp"
#include "unit/playback_sample.hpp"

#include "bus/records.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;

const TimePoint t0{};

// Two batteries of four cells, `steps` steps a second apart, as a sniffer captured them.
playback::Timeline sampleRecording(int steps) {
    test::SampleBank bank;
    bank.steps = steps;
    playback::ReadResult r = playback::readCaptureTimeline(test::snifferCapture(bank).read());
    EXPECT_TRUE(r.ok()) << r.error;
    return r.ok() ? *r.timeline : playback::Timeline{};
}

Bytes infoRequest() {
    return test::frame(0x01, Bytes(16, 0), 0);
}

TEST(RecordedBank, TheRecordedBalancersAnswerWithTheirStepAtTheRecordedPace) {
    const playback::Timeline t = sampleRecording(3); // 00:00:03 long
    RecordedBank bank(t);
    const Answer info = bank.respond(testutil::parse(infoRequest()), t0);
    const Message infoAnswer = testutil::parse(info.bytes);
    ASSERT_EQ(infoAnswer.records.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const Bytes& r = infoAnswer.records[i];
        EXPECT_EQ(r[1], test::SampleBank::flags(static_cast<int>(i))) << i;
        EXPECT_EQ(std::string(r.begin() + 4, r.begin() + 15), i < 4 ? "HQ2200A6021" : "HQ2200A6022");
        EXPECT_EQ(bus::getLe16(r, 16), 0xA602);
        EXPECT_TRUE(bus::crcValid(r));
    }

    // The first measurement request starts the recording; later ones get the step of their time.
    struct Row {
        std::chrono::milliseconds at;
        int step;
        bool again;
    };
    const Row rows[] = {{0ms, 0, false},    {999ms, 0, false}, {1000ms, 1, false},
                        {2500ms, 2, false}, {3000ms, 0, true}, {7100ms, 1, true}};
    for (const Row& row : rows) {
        // Five placeholders: the three balancers missing from them append their own records.
        const Answer a =
            bank.respond(testutil::parse(testutil::measurementRequest(3400, 5)), t0 + 5s + row.at);
        const Message m = testutil::parse(a.bytes);
        ASSERT_EQ(m.records.size(), 8u) << a.line;
        for (std::size_t i = 0; i < 8; ++i) {
            const Bytes& r = m.records[i];
            const int cell = static_cast<int>(i);
            EXPECT_EQ(bus::recordId(r), i + 1);
            EXPECT_EQ(bus::getLe32(r, 4),
                      static_cast<std::uint32_t>(test::measurementWord(test::SampleBank::mv(row.step, cell),
                                                                       test::SampleBank::ma(row.step))))
                << "step " << row.step << " cell " << i;
            EXPECT_EQ(bus::temperatureTenths(static_cast<std::int16_t>(bus::getLe16(r, 8))),
                      test::SampleBank::tenths(row.step, cell));
            EXPECT_EQ(r[10], i + 1 < 8 ? 2 : 0);
            EXPECT_TRUE(bus::crcValid(r));
        }
        EXPECT_NE(a.line.find("recorded step " + std::to_string(row.step + 1) + " of 3"), std::string::npos)
            << a.line;
        EXPECT_EQ(a.line.find("starts again") != std::string::npos, row.again) << a.line;
    }
    EXPECT_EQ(bank.passes(), 2);

    Bytes damaged = testutil::measurementRequest(3400, 8);
    damaged[6] ^= 0x01; // the frame's CRC no longer matches: nobody acts on it
    EXPECT_EQ(bank.respond(testutil::parse(damaged), t0).bytes, damaged);
}

TEST(RecordedBank, MadeUpSerialsWhereTheRecordingHasNone) {
    playback::Timeline t = sampleRecording(1);
    for (playback::Battery& b : t.batteries) {
        b.serial.clear();
    }
    const RecordedBank bank(t);
    EXPECT_EQ(bank.serial(0), "RECA602B001");
    EXPECT_EQ(bank.serial(7), "RECA602B002");
}

// The bank and the BMS of the simulator back to back, with time made up: every answer the
// bank plays from the recording is found in it by the BMS.
class PlaybackPair : public testing::Test {
  protected:
    std::vector<std::string> run(BankRole& bank, BmsRole& bms, std::chrono::milliseconds span) {
        bank.peerChanged(true, t0);
        bms.peerChanged(true, t0);
        std::vector<std::string> lines;
        for (auto at = t0; at <= t0 + span; at += 10ms) {
            if (const auto due = bms.nextDeadline(); due && at >= *due) {
                bms.tick(at);
            }
            const Bytes request = bms.takeOutput();
            if (!request.empty()) {
                bms.drained(at);
                bank.received(request, at);
            }
            const Bytes answer = bank.takeOutput();
            if (!answer.empty()) {
                bms.received(answer, at + 1ms);
            }
            for (auto& l : bms.takeLines()) {
                lines.push_back(std::move(l));
            }
        }
        return lines;
    }
    static long count(const std::vector<std::string>& lines, const std::string& text) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    BmsConfig bmsConfig() const {
        BmsConfig c;
        c.expectSequence = false; // recorded balancers keep no answer counter
        return c;
    }
};

TEST_F(PlaybackPair, EveryAnswerOfTheRecordedBankIsFoundInTheRecording) {
    const playback::Timeline t = sampleRecording(5);
    BankRole bank(BankConfig{}, FaultConfig{}, t0, false);
    bank.playRecording(t);
    BmsRole bms(bmsConfig(), FaultConfig{}, t0);
    bms.expectRecording(t);
    const auto lines = run(bank, bms, 9500ms); // info at 1 s, measurements at 2 .. 9 s
    EXPECT_EQ(count(lines, "info #1 ok balancers=8"), 1);
    EXPECT_EQ(count(lines, "measurement #"), 8);
    EXPECT_EQ(count(lines, "expect #"), 8);
    EXPECT_EQ(count(lines, " match step "), 8);
    EXPECT_EQ(count(lines, "expect #2 match step 1 at 00:00:00"), 1);
    EXPECT_EQ(count(lines, "expect #7 match step 1 at 00:00:00"), 1) << "from the start again";
    const auto summary = bms.summary();
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(summary[1], "expect summary matched=8 mismatched=0 unchecked=0 steps=5/5 loops=1");
}

TEST_F(PlaybackPair, ADifferenceFromTheRecordingIsNamed) {
    const playback::Timeline played = sampleRecording(5);
    playback::Timeline expected = played;
    expected.steps[2].cells[2].millivolts += 5; // the BMS expects cell 3 5 mV higher at step 3
    BankRole bank(BankConfig{}, FaultConfig{}, t0, false);
    bank.playRecording(played);
    BmsRole bms(bmsConfig(), FaultConfig{}, t0);
    bms.expectRecording(expected);
    const auto lines = run(bank, bms, 6500ms); // measurements at 2 .. 6 s: steps 1 to 5
    const int mv = test::SampleBank::mv(2, 2);
    EXPECT_EQ(count(lines, "expect #4 MISMATCH near step 3 at 00:00:02 errors=\"cell 3: " +
                               std::to_string(mv) + " mV, recorded " + std::to_string(mv + 5) + " mV\""),
              1);
    EXPECT_EQ(count(lines, " match step "), 4) << "the answers before and after it still match";
    EXPECT_EQ(bms.summary()[1], "expect summary matched=4 mismatched=1 unchecked=0 steps=4/5 loops=0");
}

// A capture of the simulated bank as zanst-sim bank --capture writes it (its answers received,
// the master's requests sent) reads as the bank the BMS saw, and played back it answers the same.
TEST_F(PlaybackPair, ACaptureOfTheSimulatedBankPlaysBackAsItWas) {
    BankConfig model;
    model.batteries = 2;
    model.currentA = 12.5;
    BankRole live(model, FaultConfig{}, t0, false);
    BmsRole bms(bmsConfig(), FaultConfig{}, t0);
    live.peerChanged(true, t0);
    bms.peerChanged(true, t0);
    test::CaptureMaker capture;
    capture.mode(0, bus::Mode::BatteryTester);
    for (auto at = t0; at <= t0 + 6500ms; at += 10ms) {
        if (const auto due = bms.nextDeadline(); due && at >= *due) {
            bms.tick(at);
        }
        const auto us = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(at - t0).count());
        if (const Bytes request = bms.takeOutput(); !request.empty()) {
            capture.sent(us, request);
            bms.drained(at);
            live.received(request, at);
        }
        if (const Bytes answer = live.takeOutput(); !answer.empty()) {
            capture.received(us, answer);
            bms.received(answer, at);
        }
        (void)bms.takeLines();
    }
    const playback::ReadResult read = playback::readCaptureTimeline(capture.read());
    ASSERT_TRUE(read.ok()) << read.error;
    const playback::Timeline& t = *read.timeline;
    ASSERT_EQ(t.batteries.size(), 2u);
    EXPECT_EQ(t.batteries[1].serial, Bank::serialFor(static_cast<std::uint16_t>(model.preset.productId), 1));
    ASSERT_EQ(t.steps.size(), 5u) << "measurements at 2 .. 6 s";
    EXPECT_NEAR(t.steps[4].bankMilliamps, 12500, 150) << "the sensors' reading of 12.5 A";

    BankRole played(BankConfig{}, FaultConfig{}, t0, false);
    played.playRecording(t);
    BmsRole expecting(bmsConfig(), FaultConfig{}, t0);
    expecting.expectRecording(t);
    run(played, expecting, 6500ms);
    EXPECT_EQ(expecting.summary()[1], "expect summary matched=5 mismatched=0 unchecked=0 steps=5/5 loops=0");
}

TEST(PlaybackOptions, FromAndExpectApplyWhereTheyMeanSomething) {
    struct Row {
        std::vector<std::string_view> args;
        const char* error; // empty: accepted
    };
    const Row rows[] = {
        {{"bank", "--from", "site.zcap"}, ""},
        {{"ring", "--from=site.csv", "--quiet"}, "--quiet does not apply to the ring role"},
        {{"ring", "--from", "site.csv"}, ""},
        {{"bms", "--expect", "site.zcap", "--current", "-20"}, ""},
        {{"bms", "--from", "site.zcap"}, "--from does not apply to the bms role"},
        {{"bank", "--expect", "site.zcap"}, "--expect does not apply to the bank role"},
        {{"bank", "--from", "site.zcap", "--preset", "0xA612"}, "--preset does not apply with --from"},
        {{"--batteries", "2", "bank", "--from", "site.zcap"}, "--batteries does not apply with --from"},
        {{"ring", "--current", "5", "--from", "site.zcap"}, "--current does not apply with --from"},
        {{"bank", "--from"}, "--from needs a value"},
        {{"bank", "--from="}, "--from '': needs a recording"},
    };
    for (const Row& r : rows) {
        const ParseResult p = parseOptions(r.args);
        if (std::string(r.error).empty()) {
            EXPECT_EQ(p.error, "") << r.args[0];
        } else {
            EXPECT_NE(p.error.find(r.error), std::string::npos) << p.error;
        }
    }
    const ParseResult both = parseOptions(std::vector<std::string_view>{"bms", "--expect", "a.csv"});
    EXPECT_EQ(both.options.expect, "a.csv");
    EXPECT_TRUE(both.options.from.empty());
}

} // namespace
} // namespace zanst::sim
