// The player against a clock moved by hand: paces, one step at a time, loop, pause, seek, stop.

#include "playback/player.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace zanst::playback {
namespace {

using namespace std::chrono_literals;

class HandClock final : public Clock {
  public:
    PlayClock::time_point now() const override { return now_; }
    void set(PlayClock::time_point t) { now_ = t; }
    void advance(PlayClock::duration d) { now_ += d; }
    PlayClock::time_point start() const { return start_; }

  private:
    PlayClock::time_point start_ = PlayClock::time_point(1000h);
    PlayClock::time_point now_ = start_;
};

// Steps at the given times (ms); the last lasts the usual gap.
Timeline timesOf(const std::vector<std::int64_t>& times) {
    Timeline t;
    t.cellCount = 1;
    for (const std::int64_t ms : times) {
        Step s;
        s.timeMs = ms;
        s.cells = {{3300, 200, 0}};
        t.steps.push_back(s);
    }
    return t;
}

// Ten steps a second apart: 00:00:10 long.
Timeline tenSeconds() {
    std::vector<std::int64_t> times;
    for (int i = 0; i < 10; ++i) {
        times.push_back(1000 * i);
    }
    return timesOf(times);
}

class PlayerTest : public testing::Test {
  protected:
    HandClock clock;
    Timeline timeline = tenSeconds();
    Player player{timeline, clock};
};

// Every step comes at its recorded time divided by the pace, to the nanosecond, and the player
// finishes at the end of the last step.
TEST_F(PlayerTest, StepsComeAtTheirRecordedTimeDividedByThePace) {
    for (const auto& [pace, factor] :
         std::vector<std::pair<Pace, int>>{{Pace::Recorded, 1}, {Pace::Double, 2}, {Pace::Tenfold, 10}}) {
        player.stop();
        player.setPace(pace);
        clock.set(clock.start());
        player.play();
        ASSERT_EQ(player.update(), std::optional<std::size_t>(0)) << factor;
        for (std::size_t k = 1; k < 10; ++k) {
            const auto due = player.nextDue();
            ASSERT_TRUE(due.has_value());
            EXPECT_EQ(*due - clock.start(), std::chrono::milliseconds(1000 * static_cast<int>(k)) / factor);
            clock.set(*due - 1ns);
            EXPECT_EQ(player.update(), std::nullopt) << "not before its time, step " << k;
            clock.set(*due);
            EXPECT_EQ(player.update(), std::optional<std::size_t>(k)) << factor;
            EXPECT_EQ(player.positionMs(), static_cast<std::int64_t>(1000 * k));
        }
        const auto end = player.nextDue();
        ASSERT_TRUE(end.has_value());
        EXPECT_EQ(*end - clock.start(), 10s / factor);
        clock.set(*end);
        EXPECT_EQ(player.update(), std::nullopt) << "the last step stays";
        EXPECT_EQ(player.state(), PlayState::Finished);
        EXPECT_EQ(player.currentStep(), 9u);
        EXPECT_EQ(player.positionMs(), 10000);
        EXPECT_FALSE(player.nextDue().has_value());
    }
}

// A late timer (or none at all for a while) loses no time: the step due then is the one shown.
TEST_F(PlayerTest, LatenessDoesNotAccumulate) {
    player.play();
    player.update();
    clock.advance(3700ms);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(3));
    EXPECT_EQ(*player.nextDue() - clock.start(), 4s);
    clock.advance(5ms); // 3705
    EXPECT_EQ(player.update(), std::nullopt);
    EXPECT_EQ(player.positionMs(), 3705);
}

TEST_F(PlayerTest, LoopStartsAgainAndKeepsItsPlaceAcrossManyPasses) {
    player.setLoop(true);
    player.setPace(Pace::Tenfold);
    player.play();
    player.update();
    clock.advance(2500ms); // 25 s of recording: two and a half passes
    EXPECT_EQ(player.update(), std::optional<std::size_t>(5));
    EXPECT_EQ(player.loops(), 2);
    EXPECT_EQ(player.positionMs(), 5000);
    EXPECT_EQ(player.state(), PlayState::Playing);
    EXPECT_EQ(*player.nextDue() - clock.now(), 100ms);
    clock.advance(500ms); // to the end of the pass, exactly
    EXPECT_EQ(player.update(), std::optional<std::size_t>(0));
    EXPECT_EQ(player.loops(), 3);
}

TEST_F(PlayerTest, PauseHoldsThePositionAndPlayGoesOnFromIt) {
    player.play();
    player.update();
    clock.advance(2500ms);
    player.pause();
    EXPECT_EQ(player.update(), std::optional<std::size_t>(2));
    EXPECT_EQ(player.state(), PlayState::Paused);
    EXPECT_FALSE(player.nextDue().has_value());
    clock.advance(1h);
    EXPECT_EQ(player.update(), std::nullopt);
    EXPECT_EQ(player.positionMs(), 2500);
    player.play();
    EXPECT_EQ(*player.nextDue() - clock.now(), 500ms);
    clock.advance(500ms);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(3));
}

TEST_F(PlayerTest, SeekMovesAtOnceAndAFinishedPlayerPausesThere) {
    player.play();
    player.update();
    clock.advance(1s);
    player.seek(7300);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(7));
    EXPECT_EQ(*player.nextDue() - clock.now(), 700ms);
    player.seek(-50);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(0));
    player.seek(999999);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(9));
    EXPECT_EQ(player.positionMs(), 9999) << "the last millisecond of the recording";
    clock.advance(1ms);
    player.update();
    EXPECT_EQ(player.state(), PlayState::Finished);
    player.seek(4000);
    EXPECT_EQ(player.state(), PlayState::Paused);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(4));
    clock.advance(10s);
    EXPECT_EQ(player.update(), std::nullopt);
}

TEST_F(PlayerTest, OneStepAtATimeMovesOnlyWhenAsked) {
    player.setPace(Pace::Step);
    player.play();
    EXPECT_EQ(player.update(), std::optional<std::size_t>(0));
    EXPECT_FALSE(player.nextDue().has_value());
    clock.advance(1h);
    EXPECT_EQ(player.update(), std::nullopt);
    struct Row {
        int by;
        bool loop;
        std::size_t step;
    };
    const Row rows[] = {{1, false, 1}, {1, false, 2}, {-1, false, 1}, {-5, false, 0},  {-1, true, 9},
                        {1, false, 9}, {1, true, 0},  {23, true, 3},  {100, false, 9}, {-1, false, 8}};
    for (const Row& r : rows) {
        player.setLoop(r.loop);
        player.step(r.by);
        EXPECT_EQ(player.currentStep(), r.step) << r.by;
        EXPECT_EQ(player.positionMs(), timeline.steps[r.step].timeMs);
    }
    EXPECT_EQ(player.state(), PlayState::Playing);
}

TEST_F(PlayerTest, StepWhilePlayingPlaysOnFromTheNewStep) {
    player.play();
    player.update();
    clock.advance(2200ms);
    player.step(2);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(4));
    EXPECT_EQ(*player.nextDue() - clock.now(), 1s);
}

TEST_F(PlayerTest, PaceChangeKeepsThePosition) {
    player.play();
    player.update();
    clock.advance(3500ms);
    player.setPace(Pace::Tenfold);
    EXPECT_EQ(player.positionMs(), 3500);
    clock.advance(50ms);
    EXPECT_EQ(player.update(), std::optional<std::size_t>(4));
    player.setPace(Pace::Step);
    clock.advance(1s);
    EXPECT_EQ(player.positionMs(), 4000);
    player.setPace(Pace::Double);
    clock.advance(250ms);
    EXPECT_EQ(player.positionMs(), 4500);
}

TEST_F(PlayerTest, StopKeepsTheLastStepAndPlayStartsOver) {
    player.play();
    player.update();
    clock.advance(6s);
    player.stop();
    EXPECT_EQ(player.update(), std::optional<std::size_t>(6));
    EXPECT_EQ(player.state(), PlayState::Stopped);
    clock.advance(10s);
    EXPECT_EQ(player.update(), std::nullopt);
    EXPECT_EQ(player.currentStep(), 6u);
    player.play();
    EXPECT_EQ(player.update(), std::optional<std::size_t>(0));
    // A stopped player moved by hand pauses on the new step.
    player.stop();
    player.step();
    EXPECT_EQ(player.state(), PlayState::Paused);
    EXPECT_EQ(player.currentStep(), 1u);
}

// Uneven recordings: steps come at their own times; the last lasts the usual (median) gap.
TEST(Player, UnevenStepsAndTheLengthOfTheLast) {
    HandClock clock;
    struct Row {
        std::vector<std::int64_t> times;
        std::int64_t length;
    };
    const Row rows[] = {
        {{0}, 1000},
        {{0, 400, 1500}, 2600},
        {{0, 1000, 2000, 2100, 3100}, 4100},
    };
    for (const Row& r : rows) {
        const Timeline t = timesOf(r.times);
        EXPECT_EQ(t.lengthMs(), r.length);
        Player p(t, clock);
        clock.set(clock.start());
        p.play();
        p.update();
        for (std::size_t k = 1; k < r.times.size(); ++k) {
            EXPECT_EQ(*p.nextDue() - clock.start(), std::chrono::milliseconds(r.times[k]));
            clock.set(*p.nextDue());
            EXPECT_EQ(p.update(), std::optional<std::size_t>(k));
        }
        EXPECT_EQ(*p.nextDue() - clock.start(), std::chrono::milliseconds(r.length));
        EXPECT_EQ(t.stepAt(r.length - 1), r.times.size() - 1);
        EXPECT_EQ(t.stepAt(-5), 0u);
    }
}

TEST(Player, AnEmptyTimelineDoesNothing) {
    HandClock clock;
    const Timeline empty;
    Player p(empty, clock);
    p.play();
    p.step();
    p.seek(100);
    EXPECT_EQ(p.update(), std::nullopt);
    EXPECT_FALSE(p.nextDue().has_value());
    EXPECT_EQ(p.lengthMs(), 0);
}

TEST(PlaybackClock, TextsOfTimesBothWays) {
    struct Row {
        const char* text;
        std::optional<std::int64_t> ms;
    };
    const Row rows[] = {
        {"00:03:10", 190000},
        {"3:10", 190000},
        {"190", 190000},
        {"1:02:03.5", 3723500},
        {"0:00:00.007", 7},
        {"100:00:00", 360000000},
        {"3:70", std::nullopt},
        {"1:2:3", std::nullopt},
        {"", std::nullopt},
        {"1:02:03:04", std::nullopt},
        {"00:03:10.", std::nullopt},
        {"-1", std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parseClock(r.text), r.ms) << r.text;
    }
    EXPECT_EQ(clockText(190000), "00:03:10");
    EXPECT_EQ(clockText(3723500), "01:02:03.500");
    EXPECT_EQ(clockText(-5), "00:00:00");
}

} // namespace
} // namespace zanst::playback
