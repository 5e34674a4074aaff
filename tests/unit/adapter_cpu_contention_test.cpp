// When the echo thread may go real-time: the idle share of the processors' time between samples.

#include "adapter/cpu_contention.hpp"
#include "adapter/thread_priority.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zanst::adapter {
namespace {

TEST(CpuTimes, TheFirstLineOfProcStat) {
    struct Case {
        const char* text;
        bool valid;
        std::uint64_t idle;
        std::uint64_t total;
    };
    const Case cases[] = {
        // user nice system idle iowait irq softirq steal guest guest_nice: guests are in user already
        {"cpu  100 5 50 800 20 3 2 1 40 0\ncpu0 50 2 25 400 10 1 1 0 20 0\n", true, 820, 981},
        {"cpu  100 5 50 800\n", true, 800, 955}, // an old kernel: four states
        {"cpu  18446744073709551615 0 0 0 0 0 0 0\n", true, 0, 18446744073709551615ULL},
        {"cpu0 100 5 50 800 20 3 2 1\n", false, 0, 0}, // a single processor's line
        {"intr 12345 0 0\n", false, 0, 0},
        {"cpu  100 5 x 800\n", false, 0, 0},
        {"cpu  100 5 50\n", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        const std::optional<CpuTimes> t = parseCpuTimes(c.text);
        ASSERT_EQ(t.has_value(), c.valid) << c.text;
        if (t) {
            EXPECT_EQ(t->idle, c.idle) << c.text;
            EXPECT_EQ(t->total, c.total) << c.text;
        }
    }
}

TEST(CpuTimes, ReadFromAFileAndFromThisMachine) {
    const auto path = std::filesystem::temp_directory_path() / "zanst-proc-stat-test";
    std::ofstream(path) << "cpu  7 0 3 90 0 0 0 0 0 0\n";
    const std::optional<CpuTimes> t = readCpuTimes(path.c_str());
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->idle, 90U);
    EXPECT_EQ(t->total, 100U);
    std::filesystem::remove(path);
    EXPECT_FALSE(readCpuTimes(path.c_str()).has_value());

    const std::optional<CpuTimes> here = readCpuTimes();
    ASSERT_TRUE(here.has_value()) << "Linux has /proc/stat";
    EXPECT_GT(here->total, here->idle);
}

// Samples 100 ticks apart with the given idle share each, in percent; the verdict after each.
std::vector<bool> verdicts(const std::vector<int>& idlePercent) {
    ContentionWatch w;
    CpuTimes t{1000, 5000};
    std::vector<bool> out{w.sample(t)};
    for (const int idle : idlePercent) {
        t.idle += static_cast<std::uint64_t>(idle);
        t.total += 100;
        out.push_back(w.sample(t));
    }
    return out;
}

TEST(ContentionWatch, RealTimeAtOnceWhenNoProcessorIsIdleCalmOnlyAfterTwoIdleIntervals) {
    struct Case {
        const char* what;
        std::vector<int> idle;
        std::vector<bool> expected; // the first entry is the start sample's
    };
    const Case cases[] = {
        {"an idle machine stays calm", {60, 95, 40, 12}, {false, false, false, false, false}},
        {"busy at the first interval", {3}, {false, true}},
        {"between the bounds changes nothing", {50, 15, 20, 15}, {false, false, false, false, false}},
        {"one idle interval is not enough to leave",
         {0, 5, 60, 2, 60, 60},
         {false, true, true, true, true, true, false}},
        {"an interval between the bounds starts the count again",
         {0, 60, 20, 60, 60},
         {false, true, true, true, true, false}},
        {"the bound itself is not busy", {10, 9}, {false, false, true}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(verdicts(c.idle), c.expected) << c.what;
    }
}

TEST(ContentionWatch, CountersThatGoBackStartOverAndKeepTheVerdict) {
    ContentionWatch w;
    w.sample({100, 1000});
    ASSERT_TRUE(w.sample({101, 1100})) << "1 % idle";
    EXPECT_TRUE(w.sample({50, 500})) << "a smaller counter is only a new start";
    EXPECT_TRUE(w.sample({50, 500})) << "no time passed: nothing to judge, no division by zero";
    EXPECT_TRUE(w.sample({90, 600})) << "40 % idle once";
    EXPECT_FALSE(w.sample({130, 700})) << "40 % idle twice";
    w.restart();
    EXPECT_FALSE(w.sample({130, 10'000})) << "after a restart the first sample only sets the start";
}

int niceOf(long tid) {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

TEST(ThreadPriority, RaisesOnlyItsOwnThreadAndRestoresItThere) {
    const long here = ::gettid();
    const int niceHere = niceOf(here);
    ThreadPriority p;
    long raisedTid = 0;
    int raisedNice = 0;
    int restoredNice = 0;
    std::thread worker([&] {
        raisedTid = ::gettid();
        const int before = niceOf(raisedTid);
        p.raise();
        raisedNice = niceOf(raisedTid);
        p.restore();
        restoredNice = niceOf(raisedTid);
        EXPECT_EQ(restoredNice, before);
    });
    worker.join();
    EXPECT_EQ(niceOf(here), niceHere) << "the other threads keep theirs";
    if (p.ceiling() == PriorityCeiling::Default && raisedNice == restoredNice) {
        GTEST_SKIP() << "this system permits no raised priority";
    }
    EXPECT_LT(raisedNice, restoredNice);
    EXPECT_EQ(p.ceiling(), PriorityCeiling::Default) << "restored";

    // Restored from another thread (the raised one ended): only forgotten, this thread untouched.
    std::thread second([&] { p.raise(); });
    second.join();
    EXPECT_TRUE(p.raised());
    p.restore();
    EXPECT_FALSE(p.raised());
    EXPECT_EQ(niceOf(here), niceHere);
    EXPECT_FALSE(p.realTimeNow());
}

} // namespace
} // namespace zanst::adapter
