#include "sim/options.hpp"
#include "sim/roles.hpp"
#include "sim_test_util.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;

const TimePoint t0{};

BankConfig quietBank() {
    BankConfig c;
    c.noise = false;
    return c;
}

bool anyLineHas(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& l : lines) {
        if (l.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(RingRole, TheToolsEchoIsComparedWithWhatTheBankPassedOn) {
    RingRole ring(quietBank(), BmsConfig{}, FaultConfig{}, t0);
    ring.tick(t0 + 1s);
    EXPECT_TRUE(ring.takeOutput().empty()) << "nothing goes out before the tool opens the port";
    ring.peerChanged(true, t0 + 1s);
    ASSERT_EQ(ring.nextDeadline(), t0 + 2s);

    ring.tick(t0 + 2s);
    const Bytes info = ring.takeOutput();
    ASSERT_EQ(info.size(), 22U + 4U * 32U) << "the info request passed on by four balancers";
    EXPECT_EQ(info[20], 0x01);
    ring.received(info, t0 + 2s + 1ms);
    auto lines = ring.takeLines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("info #1 ok"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("echo=150/150 echo_ok"), std::string::npos) << lines[0];

    ring.tick(t0 + 3s);
    Bytes measurement = ring.takeOutput();
    ASSERT_EQ(measurement.size(), 26U + 4U * 12U);
    measurement[40] ^= 0x04; // the tool alters one byte of a record
    ring.received(measurement, t0 + 3s + 1ms);
    lines = ring.takeLines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("measurement #2 FAIL"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("echo_BAD differ=1 first_diff_at=40"), std::string::npos) << lines[0];

    ring.tick(t0 + 4s);
    Bytes dropped = ring.takeOutput();
    dropped.erase(dropped.begin() + 30); // the tool loses one byte
    ring.received(dropped, t0 + 4s + 1ms);
    ring.tick(t0 + 4s + 900ms);
    lines = ring.takeLines();
    EXPECT_TRUE(anyLineHas(lines, "measurement #3 TIMEOUT")) << lines.size();
    EXPECT_TRUE(anyLineHas(lines, "echo=73/74 echo_BAD")) << (lines.empty() ? "" : lines.back());
    EXPECT_NE(ring.summary()[0].find("bad_echoes=2"), std::string::npos) << ring.summary()[0];
}

TEST(BankRole, AnswersWhatArrivesInPiecesAndFaultsReachTheLine) {
    struct Case {
        FaultConfig faults;
        bool intact;
        bool empty;
    };
    for (const Case& c : {Case{{0.0, 0.0, 1}, true, false}, Case{{1.0, 0.0, 1}, false, true},
                          Case{{0.0, 1.0, 1}, false, false}}) {
        BankRole role(quietBank(), c.faults, t0, false);
        role.peerChanged(true, t0);
        const Bytes request = test::concat({Bytes(10, 0), testutil::measurementRequest(3400, 4)});
        // The request arrives split in two reads.
        role.received(std::span<const std::uint8_t>(request).first(17), t0);
        EXPECT_TRUE(role.takeOutput().empty());
        role.received(std::span<const std::uint8_t>(request).subspan(17), t0 + 1ms);
        const Bytes out = role.takeOutput();
        EXPECT_EQ(out.empty(), c.empty);
        if (c.intact) {
            ASSERT_EQ(out.size(), 26U + 48U);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + 26),
                      Bytes(request.begin() + 10, request.begin() + 36));
            EXPECT_TRUE(anyLineHas(role.takeLines(), "4 filled"));
        } else if (!c.empty) {
            // Every byte altered: none equals what an intact answer would carry.
            ASSERT_EQ(out.size(), 26U + 48U);
            EXPECT_NE(out[0], 0xAA);
        }
    }
}

TEST(BankRole, LosesEachListedFrameOnceAndActsOnItsRepeat) {
    BankRole role(quietBank(), FaultConfig{}, t0, false);
    const std::vector<std::string_view> args{"--swallow-command", "0x20", "--swallow-block", "7"};
    const Options o = parseOptions(args).options;
    role.setLosses({o.swallowCommands, o.swallowBlocks});
    const Bytes boot = testutil::wordFrame(0x20, "BOOT");
    role.received(boot, t0);
    EXPECT_TRUE(role.takeOutput().empty());
    EXPECT_TRUE(anyLineHas(role.takeLines(), "0x20: frame lost on the ring"));
    EXPECT_FALSE(role.bank().balancers().front().bootMode) << "no balancer heard the lost frame";
    role.received(boot, t0 + 1s);
    EXPECT_EQ(role.takeOutput(), boot);
    EXPECT_TRUE(role.bank().balancers().front().bootMode);
}

TEST(BankRole, QuietKeepsServiceCommandsAndDropsPollLines) {
    BankRole role(quietBank(), FaultConfig{}, t0, true);
    role.received(testutil::measurementRequest(3400, 4), t0);
    role.received(testutil::wordFrame(0x10, "TMEN"), t0);
    const auto lines = role.takeLines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("test mode on"), std::string::npos);
}

TEST(BmsRole, PollsOnlyWhileTheToolHoldsThePort) {
    BmsRole role(BmsConfig{}, FaultConfig{}, t0);
    EXPECT_FALSE(role.nextDeadline());
    role.peerChanged(true, t0 + 5s);
    ASSERT_TRUE(role.nextDeadline());
    role.tick(*role.nextDeadline());
    EXPECT_EQ(role.takeOutput().size(), 32U);
    role.peerChanged(false, t0 + 6s);
    EXPECT_FALSE(role.nextDeadline());
}

struct PaceCase {
    long perByteUs;
    long atUs;
    std::size_t due;
};

class Pacer : public testing::TestWithParam<PaceCase> {};

TEST_P(Pacer, ReleasesBytesAtTheLineRate) {
    OutputPacer pacer{std::chrono::microseconds(GetParam().perByteUs)};
    pacer.push(Bytes(10, 1), t0);
    EXPECT_EQ(pacer.due(t0 + std::chrono::microseconds(GetParam().atUs)), GetParam().due);
}

INSTANTIATE_TEST_SUITE_P(Table, Pacer,
                         testing::Values(PaceCase{0, 0, 10}, PaceCase{40, 0, 1}, PaceCase{40, 39, 1},
                                         PaceCase{40, 40, 2}, PaceCase{40, 200, 6}, PaceCase{40, 10000, 10}));

TEST(Pacer, ALateWakeUpCatchesUpWithoutRaisingTheRate) {
    OutputPacer pacer{40us};
    pacer.push(Bytes(100, 1), t0);
    pacer.consumed(pacer.due(t0));
    EXPECT_EQ(pacer.nextTime(), t0 + 40us);
    EXPECT_EQ(pacer.due(t0 + 20us), 0U);
    pacer.consumed(pacer.due(t0 + 400us)); // woke late: bytes 1..10 go together
    EXPECT_EQ(pacer.size(), 89U);
    EXPECT_EQ(pacer.nextTime(), t0 + 440us);
}

TEST(Faults, RatesBetweenNoneAndAll) {
    const Bytes clean(10000, 0x55);
    FaultInjector some(FaultConfig{0.1, 0.1, 7});
    const Bytes out = some.apply(clean);
    EXPECT_NEAR(static_cast<double>(some.dropped()), 1000.0, 150.0);
    EXPECT_NEAR(static_cast<double>(some.corrupted()), 900.0, 150.0);
    EXPECT_EQ(out.size(), clean.size() - static_cast<std::size_t>(some.dropped()));
    EXPECT_EQ(
        static_cast<long>(std::count_if(out.begin(), out.end(), [](std::uint8_t b) { return b != 0x55; })),
        some.corrupted());
}

struct CommandLine {
    std::vector<std::string_view> args;
    const char* error; // nullptr: accepted
};

class CommandLines : public testing::TestWithParam<CommandLine> {};

TEST_P(CommandLines, AcceptedOrRefusedWithAReason) {
    const ParseResult r = parseOptions(GetParam().args);
    if (GetParam().error == nullptr) {
        EXPECT_TRUE(r.error.empty()) << r.error;
    } else {
        EXPECT_NE(r.error.find(GetParam().error), std::string::npos) << r.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLines,
    testing::Values(
        CommandLine{{}, nullptr}, CommandLine{{"ring", "--preset", "0xA612", "--batteries=10"}, nullptr},
        CommandLine{{"bms", "--current", "-12.5", "--slow-byte-us", "40", "--exit-with-parent"}, nullptr},
        CommandLine{{"bms", "--quiet"}, "does not apply to the bms role"},
        CommandLine{{"--preset", "0xA602", "bms"}, "does not apply to the bms role"},
        CommandLine{{"--bogus"}, "unknown option --bogus"},
        CommandLine{{"--link", "--quiet"}, "needs a value"}, CommandLine{{"--current", "1e2"}, "-500 to 500"},
        CommandLine{{"--current", "0x10"}, "-500 to 500"}, CommandLine{{"--drop-rate", "nan"}, "0 to 1"},
        CommandLine{{"--seed", " 7"}, "whole number"},
        CommandLine{{"--silent-after", "2.5", "--drop-rate", "0.01", "--link", "/tmp/x"}, nullptr},
        CommandLine{{"tester"}, "unknown role"}, CommandLine{{"bank", "ring"}, "only one role"},
        CommandLine{{"--preset", "0xA601"}, "not a product id"},
        CommandLine{{"--batteries", "11"}, "1 to 10"}, CommandLine{{"--batteries", "2.5"}, "1 to 10"},
        CommandLine{{"--current", "600"}, "-500 to 500"}, CommandLine{{"--drop-rate", "1.5"}, "0 to 1"},
        CommandLine{{"--silent-after", "-1"}, "0 or more"}, CommandLine{{"--link"}, "needs a value"},
        CommandLine{{"--quiet=1"}, "takes no value"}, CommandLine{{"--speed", "9"}, "unknown option"},
        CommandLine{{"--swallow-command", "0x20", "--swallow-command=33", "--swallow-block", "2"}, nullptr},
        CommandLine{{"bms", "--swallow-command", "0x20"}, "does not apply to the bms role"},
        CommandLine{{"ring", "--swallow-block", "1"}, "does not apply to the ring role"},
        CommandLine{{"--swallow-command", "0x100"}, "from 0 to 255"},
        CommandLine{{"--swallow-command", "0x"}, "from 0 to 255"},
        CommandLine{{"--swallow-block", "256"}, "from 0 to 255"},
        CommandLine{{"bank", "--metrics-silent", "10"}, nullptr},
        CommandLine{{"ring", "--metrics-silent", "1"}, "does not apply to the ring role"},
        CommandLine{{"--metrics-silent", "0"}, "from 1 to 10"},
        CommandLine{{"ring", "--capture", "/tmp/ring.zcap"}, nullptr},
        CommandLine{{"--capture", "--quiet"}, "needs a value"},
        CommandLine{{"--capture="}, "needs a file name"},
        CommandLine{{"ring", "--adapter-latency", "16", "--adapter-side", "both"}, nullptr},
        CommandLine{{"--adapter-side", "to-tool"}, "--adapter-side needs --adapter-latency"},
        CommandLine{{"--adapter-latency", "0"}, "from 1 to 255"},
        CommandLine{{"--adapter-latency", "256"}, "from 1 to 255"},
        CommandLine{{"--adapter-latency", "16", "--adapter-side", "up"}, "choose to-tool, from-tool or both"},
        CommandLine{{"bank", "--bms-answer-ms", "12"}, "does not apply to the bank role"},
        CommandLine{{"bms", "--bms-answer-ms", "901"}, "from 1 to 900"}),
    [](const testing::TestParamInfo<CommandLine>& p) { return "case" + std::to_string(p.index); });

TEST(CommandLines, HelpWinsAnywhereAndHugeSilenceMeansNever) {
    for (const std::vector<std::string_view>& args :
         {std::vector<std::string_view>{"--link", "--help"}, {"--bogus", "-h"}, {"bank", "ring", "--help"}}) {
        const ParseResult r = parseOptions(args);
        EXPECT_TRUE(r.options.help) << args.front();
    }
    const std::vector<std::string_view> huge{"--silent-after", "99999999999999999999"};
    EXPECT_FALSE(parseOptions(huge).options.silentAfter().has_value()) << "never silent, not silent at once";
    const std::vector<std::string_view> some{"--silent-after", "2.5"};
    EXPECT_EQ(parseOptions(some).options.silentAfter(), std::chrono::milliseconds(2500));
}

TEST(CommandLines, ValuesLandWhereTheyBelong) {
    const std::vector<std::string_view> args{
        "ring", "--preset=a60a", "--batteries", "3", "--current", "7.5", "--silent-after",
        "4",    "--no-noise",    "--seed",      "42"};
    const Options o = parseOptions(args).options;
    EXPECT_EQ(o.role, RoleKind::Ring);
    EXPECT_EQ(o.preset.productId, 0xA60A);
    EXPECT_EQ(o.batteries, 3);
    EXPECT_DOUBLE_EQ(o.currentA, 7.5);
    EXPECT_EQ(o.silentAfterS, 4.0);
    EXPECT_FALSE(o.noise);
    EXPECT_EQ(o.seed, 42U);
    EXPECT_NE(helpText().find("--slow-byte-us"), std::string::npos);
}

} // namespace
} // namespace zanst::sim
