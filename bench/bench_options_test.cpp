#include "bench_options.hpp"
#include "busy.hpp"
#include "offscreen.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>

namespace {

using zanst::bench::DisplayUse;
using zanst::bench::OptionTable;
using zanst::bench::parseCommandLine;

// Every kind of target and bound, with a required word.
struct Values {
    std::string run;
    double seconds = 10;
    int rounds = 3;
    int offset = 0;
    std::size_t imageBytes = 100000;
    double drop = 0.01;
    std::string grab;
    bool plots = false;

    OptionTable table(bool withRun) {
        OptionTable t{"measures nothing",
                      {
                          {"--seconds", "S", "seconds a round (default 10)", &seconds, 0.0},
                          {"--rounds", "R", "rounds (default 3)", &rounds, 1.0},
                          {"--offset", "N", "any whole number", &offset},
                          {"--image-bytes", "N", "image size", &imageBytes},
                          {"--drop", "P", "chance a byte is lost", &drop, 0.0, 1.0},
                          {"--grab", "DIR", "save pictures in DIR", &grab},
                          {"--plots", "", "open the plots", &plots},
                      }};
        if (withRun) {
            t.operands.push_back({"run", "what to run", {"sniffer", "tester", "faults"}, &run});
        }
        return t;
    }
    bool operator==(const Values&) const = default;
};

struct Outcome {
    std::optional<int> exit;
    std::string out;
    std::string err;
};

Outcome parse(Values& v, bool withRun, std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"/home/me/build/bench/prog"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    const OptionTable table = v.table(withRun);
    const std::optional<int> exit =
        parseCommandLine(table, static_cast<int>(argv.size()), argv.data(), out, err);
    return {exit, out.str(), err.str()};
}

constexpr const char* kUsage =
    "usage: prog [--seconds S] [--rounds R] [--offset N] [--image-bytes N] [--drop P] "
    "[--grab DIR] [--plots]";
constexpr const char* kUsageWithRun =
    "usage: prog sniffer|tester|faults [--seconds S] [--rounds R] [--offset N] "
    "[--image-bytes N] [--drop P] [--grab DIR] [--plots]";

TEST(BenchOptions, AcceptedLinesFillTheTargets) {
    struct Row {
        std::initializer_list<const char*> args;
        bool withRun;
        void (*expect)(Values&);
    };
    const Row rows[] = {
        {{}, false, [](Values&) {}},
        {{"--seconds", "3"}, false, [](Values& v) { v.seconds = 3; }},
        {{"--seconds=2.5", "--rounds", "4"},
         false,
         [](Values& v) {
             v.seconds = 2.5;
             v.rounds = 4;
         }},
        {{"--seconds", "0"}, false, [](Values& v) { v.seconds = 0; }},
        {{"--rounds", "2", "--rounds", "5"}, false, [](Values& v) { v.rounds = 5; }},
        {{"--offset", "-3"}, false, [](Values& v) { v.offset = -3; }},
        {{"--image-bytes", "250000"}, false, [](Values& v) { v.imageBytes = 250000; }},
        {{"--drop", "1"}, false, [](Values& v) { v.drop = 1; }},
        {{"--drop", ".5"}, false, [](Values& v) { v.drop = 0.5; }},
        {{"--grab", "/tmp/shots dir"}, false, [](Values& v) { v.grab = "/tmp/shots dir"; }},
        {{"--grab=a=b"}, false, [](Values& v) { v.grab = "a=b"; }},
        {{"--plots"}, false, [](Values& v) { v.plots = true; }},
        {{"tester", "--seconds", "5"},
         true,
         [](Values& v) {
             v.run = "tester";
             v.seconds = 5;
         }},
        {{"--seconds", "5", "faults", "--plots"},
         true,
         [](Values& v) {
             v.run = "faults";
             v.seconds = 5;
             v.plots = true;
         }},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const char* a : row.args) {
            line += std::string(a) + " ";
        }
        SCOPED_TRACE(line);
        Values got;
        const Outcome o = parse(got, row.withRun, row.args);
        EXPECT_EQ(o.exit, std::nullopt);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "");
        Values want;
        row.expect(want);
        EXPECT_TRUE(got == want);
        EXPECT_EQ(got.seconds, want.seconds);
        EXPECT_EQ(got.rounds, want.rounds);
        EXPECT_EQ(got.grab, want.grab);
    }
}

TEST(BenchOptions, RefusalsSayWhatIsWrongThenTheUsageAndExitTwo) {
    struct Row {
        std::initializer_list<const char*> args;
        bool withRun;
        const char* message;
    };
    const Row rows[] = {
        {{"--duration", "3"}, false, "unknown option '--duration'"},
        {{"-x"}, false, "unknown option '-x'"},
        {{"--seconds5"}, false, "unknown option '--seconds5'"},
        {{"400"}, false, "unexpected argument '400'"},
        {{"--seconds"}, false, "--seconds needs a value: --seconds S"},
        {{"--seconds", "--rounds", "3"}, false, "--seconds needs a value: --seconds S"},
        {{"--grab="}, false, "--grab needs a value: --grab DIR"},
        {{"--seconds", "abc"}, false, "--seconds takes a number, not 'abc'"},
        {{"--seconds", "inf"}, false, "--seconds takes a number, not 'inf'"},
        {{"--seconds", "1e3"}, false, "--seconds takes a number, not '1e3'"},
        {{"--seconds", "1.2.3"}, false, "--seconds takes a number, not '1.2.3'"},
        {{"--seconds", "-1"}, false, "--seconds takes at least 0, not '-1'"},
        {{"--rounds", "3x"}, false, "--rounds takes a whole number, not '3x'"},
        {{"--rounds", "2.5"}, false, "--rounds takes a whole number, not '2.5'"},
        {{"--rounds", " 2"}, false, "--rounds takes a whole number, not ' 2'"},
        {{"--rounds", "0"}, false, "--rounds takes at least 1, not '0'"},
        {{"--rounds", "99999999999"}, false, "--rounds takes a whole number: '99999999999' is out of range"},
        {{"--image-bytes", "-1"}, false, "--image-bytes takes a whole number of 0 or more, not '-1'"},
        {{"--drop", "1.5"}, false, "--drop takes a number from 0 to 1, not '1.5'"},
        {{"--drop", "-0.1"}, false, "--drop takes a number from 0 to 1, not '-0.1'"},
        {{"--plots=1"}, false, "--plots takes no value"},
        {{}, true, "missing the run: choose sniffer, tester or faults"},
        {{"--seconds", "3"}, true, "missing the run: choose sniffer, tester or faults"},
        {{"idle"}, true, "unknown run 'idle': choose sniffer, tester or faults"},
        {{"tester", "sniffer"}, true, "unexpected argument 'sniffer'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        Values got;
        const Outcome o = parse(got, row.withRun, row.args);
        EXPECT_EQ(o.exit, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err,
                  "prog: " + std::string(row.message) + "\n" + (row.withRun ? kUsageWithRun : kUsage) + "\n");
        // A refused value never reaches its target.
        if (!row.withRun) {
            EXPECT_TRUE(got == Values{});
        }
    }
}

TEST(BenchOptions, HelpWinsWhereverItStandsAndListsEveryOption) {
    for (const auto args : {std::initializer_list<const char*>{"--help"},
                            {"-h"},
                            {"--seconds", "abc", "--help"},
                            {"--unknown", "-h"}}) {
        Values v;
        const Outcome o = parse(v, true, args);
        EXPECT_EQ(o.exit, 0);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, std::string(kUsageWithRun) + "\n" +
                             "measures nothing\n"
                             "\n"
                             "  sniffer|tester|faults  what to run\n"
                             "  --seconds S            seconds a round (default 10)\n"
                             "  --rounds R             rounds (default 3)\n"
                             "  --offset N             any whole number\n"
                             "  --image-bytes N        image size\n"
                             "  --drop P               chance a byte is lost\n"
                             "  --grab DIR             save pictures in DIR\n"
                             "  --plots                open the plots\n"
                             "  --help                 this text\n");
    }
}

TEST(BenchOffscreen, OffscreenUnlessThePlatformOrADisplayWasChosen) {
    struct Row {
        const char* platform; // nullptr: not set
        const char* display;
        DisplayUse use;
        const char* expected;
    };
    const Row rows[] = {
        {nullptr, nullptr, DisplayUse::Never, "offscreen"},
        {"", nullptr, DisplayUse::Never, "offscreen"},
        {"xcb", nullptr, DisplayUse::Never, "xcb"},
        {nullptr, ":99", DisplayUse::Never, "offscreen"},
        {nullptr, ":99", DisplayUse::WhenSet, nullptr},
        {nullptr, "", DisplayUse::WhenSet, "offscreen"},
        {nullptr, nullptr, DisplayUse::WhenSet, "offscreen"},
        {"minimal", ":99", DisplayUse::WhenSet, "minimal"},
    };
    const auto put = [](const char* name, const char* value) {
        if (value == nullptr) {
            ::unsetenv(name);
        } else {
            ::setenv(name, value, 1);
        }
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.platform ? row.platform : "(unset)") + " / " +
                     (row.display ? row.display : "(unset)"));
        put("QT_QPA_PLATFORM", row.platform);
        put("DISPLAY", row.display);
        zanst::bench::setUpOffscreen(row.use);
        const char* now = std::getenv("QT_QPA_PLATFORM");
        if (row.expected == nullptr) {
            EXPECT_EQ(now, nullptr);
        } else {
            ASSERT_NE(now, nullptr);
            EXPECT_STREQ(now, row.expected);
        }
    }
}

// The neighbour stands for work that yields to everything; at any other priority it would be a
// competitor, and the figures taken beside it would mean something else.
TEST(BenchLoad, TheNeighbourYieldsToEverythingAndGoesWithTheStop) {
    EXPECT_TRUE(zanst::bench::startNeighbour(0).empty());
    const std::vector<pid_t> pids = zanst::bench::startNeighbour(30);
    ASSERT_EQ(pids.size(), 1U);
    int policy = -1;
    for (int i = 0; i < 100 && policy != SCHED_IDLE; ++i) {
        policy = sched_getscheduler(pids[0]);
        if (policy != SCHED_IDLE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_EQ(policy, SCHED_IDLE);
    zanst::bench::stopBusy(pids);
    errno = 0;
    EXPECT_EQ(::kill(pids[0], 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

} // namespace
