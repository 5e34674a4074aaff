// Answers held against a recording: which step they show, and what differs when none.

#include "playback/answer_match.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

namespace zanst::playback {
namespace {

// Four cells, sensors on cells 1 (low range) and 3 (high range); five steps a second apart.
Timeline recorded() {
    Timeline t;
    t.cellCount = 4;
    t.cellFlags = {0x01, 0x00, 0x03, 0x00};
    for (int s = 0; s < 5; ++s) {
        Step step;
        step.timeMs = 1000 * s;
        for (int c = 0; c < 4; ++c) {
            step.cells.push_back({3300 + 10 * s + c, 200 + s, 0});
        }
        step.bankMilliamps = 12000 + 100 * s;
        t.steps.push_back(step);
    }
    return t;
}

std::vector<bus::Bytes> answerFor(const Step& step, int dMv = 0, int dTenths = 0, int dMa = 0) {
    std::vector<bus::Bytes> records;
    for (std::size_t c = 0; c < step.cells.size(); ++c) {
        const int mv = step.cells[c].millivolts + (c == 2 ? dMv : 0);
        const int tenths = step.cells[c].tenthsCelsius + (c == 2 ? dTenths : 0);
        records.push_back(test::measurementRecord(static_cast<std::uint16_t>(c + 1), 0x40,
                                                  test::measurementWord(mv, step.bankMilliamps + dMa),
                                                  static_cast<std::int16_t>(tenths << 5), c + 1 < 4 ? 2 : 0));
    }
    return records;
}

const std::vector<std::uint8_t> kFlags{0x01, 0x00, 0x03, 0x00};

TEST(PlaybackAnswerMatch, RecordsReadAsTheBatteryTesterReadsThem) {
    const std::vector<bus::Bytes> records{
        test::measurementRecord(1, 0x40, test::measurementWord(3301, 40000),
                                static_cast<std::int16_t>(-55 << 5), 2),
        test::measurementRecord(2, 0x40, test::measurementWord(4000, 0), 0, 2),
        test::measurementRecord(3, 0x40, test::measurementWord(3303, 41000),
                                static_cast<std::int16_t>(805 << 5), 0),
    };
    const AnswerValues v = answerValues(records, kFlags);
    ASSERT_EQ(v.cells.size(), 3u);
    EXPECT_EQ(v.cells[0], (CellValues{3301, -55, 40000}));
    EXPECT_EQ(v.cells[2], (CellValues{3303, 805, 41000}));
    EXPECT_EQ(v.bankMilliamps, 40500) << "low range blended into high range at 40 A";
}

// Answers at the BMS's pace: the same step again (paused), steps skipped (a faster pace), back to
// the start (a loop). Values within the tolerances match; beyond them they do not.
TEST(PlaybackAnswerMatch, FollowsTheRecordingAndNamesWhatDiffers) {
    const Timeline t = recorded();
    AnswerMatcher matcher(t);
    struct Row {
        int step;
        int dMv;
        int dTenths;
        int dMa;
        bool matched;
        std::size_t reported;
        const char* difference;
    };
    const Row rows[] = {
        {0, 0, 0, 0, true, 0, ""},
        {0, 1, 1, 10, true, 0, ""},
        {2, 0, 0, 0, true, 2, ""},
        {2, -1, -1, -10, true, 2, ""},
        {2, 2, 0, 0, false, 2, "cell 3: 3324 mV, recorded 3322 mV"},
        {2, 0, -2, 0, false, 2, "cell 3: 20.0 degC, recorded 20.2 degC"},
        {2, 0, 0, 11, false, 2, "current 12.211 A, recorded 12.200 A"},
        {4, 0, 0, 0, true, 4, ""},
        {1, 0, 0, 0, true, 1, ""}, // from the start again
    };
    for (const Row& r : rows) {
        const MatchResult m = matcher.check(answerValues(
            answerFor(t.steps[static_cast<std::size_t>(r.step)], r.dMv, r.dTenths, r.dMa), kFlags));
        EXPECT_EQ(m.matched, r.matched) << r.step << " " << r.dMv << " " << r.dTenths << " " << r.dMa;
        EXPECT_EQ(m.step, r.reported) << r.step;
        if (!r.matched) {
            ASSERT_EQ(m.differences.size(), 1u);
            EXPECT_EQ(m.differences[0], r.difference);
        }
    }
    EXPECT_EQ(matcher.matches(), 6);
    EXPECT_EQ(matcher.mismatches(), 3);
    EXPECT_EQ(matcher.loops(), 1);
    EXPECT_EQ(matcher.stepsSeen(), 4);

    // Another number of cells matches no step.
    std::vector<bus::Bytes> short3 = answerFor(t.steps[1]);
    short3.pop_back();
    const MatchResult m = matcher.check(answerValues(short3, kFlags));
    EXPECT_FALSE(m.matched);
    ASSERT_EQ(m.differences.size(), 1u);
    EXPECT_EQ(m.differences[0], "3 cells answered, the recording has 4");
}

} // namespace
} // namespace zanst::playback
