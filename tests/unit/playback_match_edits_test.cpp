// Which model plays a recorded bank (or why none can), and the edits on top of a recording:
// their text form both ways and what they do to the values.

#include "playback/bank_frame.hpp"
#include "playback/edits.hpp"
#include "playback/preset_match.hpp"

#include <gtest/gtest.h>

namespace zanst::playback {
namespace {

// A timeline of `batteries` batteries of the given cell counts, one step per second.
Timeline bankOf(std::vector<int> cellsPerBattery, std::optional<std::uint16_t> pid = std::nullopt,
                std::optional<std::uint16_t> capacity = std::nullopt, int steps = 10) {
    Timeline t;
    t.productId = pid;
    t.capacity = capacity;
    t.structureKnown = true;
    for (std::size_t b = 0; b < cellsPerBattery.size(); ++b) {
        t.batteries.push_back({"SER" + std::to_string(b + 1), t.cellCount, cellsPerBattery[b]});
        t.cellCount += cellsPerBattery[b];
    }
    t.cellFlags.assign(static_cast<std::size_t>(t.cellCount), 0);
    for (int s = 0; s < steps; ++s) {
        Step step;
        step.timeMs = 1000 * s;
        for (int i = 0; i < t.cellCount; ++i) {
            step.cells.push_back({3300 + i, 200 + i, 0});
        }
        step.bankMilliamps = 1500;
        t.steps.push_back(step);
    }
    return t;
}

TEST(PlaybackPresetMatch, PicksTheModelOrSaysWhyNot) {
    struct Row {
        const char* what;
        Timeline timeline;
        int listIndex; // -1: refused
        const char* reason;
    };
    const Row rows[] = {
        {"recorded product id", bankOf({4}, 0xA602, 100), 0, "the recorded product id"},
        {"product id of another size", bankOf({8, 8}, 0xA60C), 8, "2 in parallel: the recorded product id"},
        {"16 cells, unknown product", bankOf({16}, 0x1234), 11, "0x1234 is no model with 16 cells"},
        {"product id with other cells, by capacity", bankOf({8}, 0xA602, 200), 8,
         "the model with 8 cells and the recorded 200 Ah"},
        {"no product id", bankOf({4, 4, 4}), 0,
         "the first model with 4 cells; the recording names no product id"},
        {"ten batteries", bankOf(std::vector<int>(10, 4), 0xA60B), 5, "10 in parallel"},
        {"12 cells", bankOf({12}), -1, "has 12 cells; the emulator's models have 4, 8 or 16"},
        {"unequal batteries", bankOf({4, 8}), -1, "battery 2 (SER2) has 8 cells and battery 1 (SER1) has 4"},
        {"eleven batteries", bankOf(std::vector<int>(11, 4)), -1,
         "11 batteries; the emulated bank has at most 10"},
        {"no balancer", bankOf({}), -1, "holds no balancer"},
    };
    for (const Row& r : rows) {
        const PresetMatch m = matchPreset(r.timeline);
        EXPECT_EQ(m.ok, r.listIndex >= 0) << r.what;
        EXPECT_EQ(m.listIndex, r.listIndex) << r.what;
        EXPECT_NE(m.reason.find(r.reason), std::string::npos) << r.what << ": " << m.reason;
        if (m.ok) {
            EXPECT_EQ(m.info.cellsInSeries, r.timeline.batteries.front().cells) << r.what;
            EXPECT_EQ(m.batteries, static_cast<int>(r.timeline.batteries.size())) << r.what;
            EXPECT_EQ(
                m.reason.rfind(emulator::batteryPresetCaptions[static_cast<std::size_t>(m.listIndex)], 0), 0u)
                << "the reason names the model: " << m.reason;
        }
    }
}

TEST(PlaybackPresetMatch, WithoutBalancerInfoTheGuessIsNamedInTheRefusal) {
    Timeline t = bankOf({6});
    t.structureKnown = false;
    const PresetMatch m = matchPreset(t);
    EXPECT_FALSE(m.ok);
    EXPECT_NE(m.reason.find("without balancer info the 6 balancers count as one battery"), std::string::npos)
        << m.reason;
}

// Every text form: what it means, and how it is printed (which reads back as the same edit).
TEST(PlaybackEdits, TextFormsParseAndPrint) {
    struct Row {
        const char* text;
        Edit edit;
        const char* printed;
    };
    const Row rows[] = {
        {"cell 5 drifts 2 mV a second lower from 00:03:10",
         {EditKind::Drift, Quantity::Voltage, 5, -2000, 190000, std::nullopt},
         "cell 5 drifts 2 mV a second lower from 00:03:10"},
        {"cell 3 pinned at 45 \xC2\xB0"
         "C from 1:00 until 2:30",
         {EditKind::Pin, Quantity::Temperature, 3, 450, 60000, 150000},
         "cell 3 pinned at 45.0 \xC2\xB0"
         "C from 00:01:00 until 00:02:30"},
        {"current pinned at -120.5 A from 00:05:00",
         {EditKind::Pin, Quantity::Current, 0, -120500, 300000, std::nullopt},
         "current pinned at -120.5 A from 00:05:00"},
        {"cell 12 offset -15 mV",
         {EditKind::Offset, Quantity::Voltage, 12, -15, 0, std::nullopt},
         "cell 12 offset -15 mV from 00:00:00"},
        {"cell 1 offset by +2.5 degC from 0:00:10.25",
         {EditKind::Offset, Quantity::Temperature, 1, 25, 10250, std::nullopt},
         "cell 1 offset +2.5 \xC2\xB0"
         "C from 00:00:10.250"},
        {"bank current drifts 0.5 A per second higher from 0:30",
         {EditKind::Drift, Quantity::Current, 0, 500000, 30000, std::nullopt},
         "current drifts 0.5 A a second higher from 00:00:30"},
        {"CELL 2 PINNED AT 3400mV",
         {EditKind::Pin, Quantity::Voltage, 2, 3400, 0, std::nullopt},
         "cell 2 pinned at 3400 mV from 00:00:00"},
        {"  cell 4   drifts 0.25 \xC2\xB0"
         "C /s higher until 90 ",
         {EditKind::Drift, Quantity::Temperature, 4, 2500, 0, 90000},
         "cell 4 drifts 0.25 \xC2\xB0"
         "C a second higher from 00:00:00 until 00:01:30"},
        {"cell 255 offset +0 mV from 100:00:00",
         {EditKind::Offset, Quantity::Voltage, 255, 0, 360000000, std::nullopt},
         "cell 255 offset +0 mV from 100:00:00"},
    };
    for (const Row& r : rows) {
        const EditParse p = parseEdit(r.text);
        ASSERT_TRUE(p.edit.has_value()) << r.text << ": " << p.error;
        EXPECT_EQ(*p.edit, r.edit) << r.text;
        EXPECT_EQ(editText(*p.edit), r.printed) << r.text;
        const EditParse again = parseEdit(editText(*p.edit));
        ASSERT_TRUE(again.edit.has_value()) << again.error;
        EXPECT_EQ(*again.edit, r.edit) << "printed form reads back: " << r.printed;
    }
}

TEST(PlaybackEdits, TextsThatAreNoEditSayWhatIsMissing) {
    struct Row {
        const char* text;
        const char* error;
    };
    const Row rows[] = {
        {"", "begins with \"cell N\" or \"current\""},
        {"cell 0 offset +1 mV", "cell number from 1 to 255"},
        {"cell 5 lower by 2 mV", "\"pinned at\", \"offset\" or \"drifts\" follows the cell"},
        {"cell 5 pinned 3400 mV", "\"pinned at\" and a value"},
        {"cell 5 pinned at 3400 A", "a cell's value is in mV or"},
        {"current offset +2 mV", "the current's value is in A"},
        {"cell 5 pinned at 3400.5 mV", "\"3400.5\" is not a number with no decimals"},
        {"cell 5 pinned at 45.05 \xC2\xB0"
         "C",
         "at most 1 decimal"},
        {"cell 5 pinned at 900 mV", "a pinned value lies within 1000 to 5095 mV"},
        {"cell 5 pinned at 110.0 degC", "within -102.4 to 102.3"},
        {"current pinned at 600 A", "within -524.287 to 524.287 A"},
        {"cell 5 offset +5000 mV", "at most the width of the range 1000 to 5095 mV"},
        {"cell 5 drifts -2 mV a second lower", "has no sign"},
        {"cell 5 drifts 2 mV a second", "\"lower\" or \"higher\""},
        {"cell 5 drifts 2 mV lower", "given \"a second\""},
        {"cell 5 drifts 2000 mV a second lower", "a drift is at most 1000 mV a second"},
        {"cell 5 offset +2 mV from 3:70", "\"from\" needs a time"},
        {"cell 5 offset +2 mV from 00:02:00 until 00:01:00", "\"until\" comes after \"from\""},
        {"cell 5 offset +2 mV from 00:02:00 please", "\"please\" is not understood"},
    };
    for (const Row& r : rows) {
        const EditParse p = parseEdit(r.text);
        EXPECT_FALSE(p.edit.has_value()) << r.text;
        EXPECT_NE(p.error.find(r.error), std::string::npos) << r.text << ": " << p.error;
        EXPECT_EQ(p.error.rfind("Cannot read \"" + std::string(r.text) + "\"", 0), 0u) << p.error;
    }
}

Edit edit(const char* text) {
    const EditParse p = parseEdit(text);
    EXPECT_TRUE(p.edit.has_value()) << p.error;
    return p.edit.value_or(Edit{});
}

// What the edits make of cell 1 (3300 mV, 20.0 degC) and a 1.5 A bank current at a given time.
TEST(PlaybackEdits, ApplyInOrderFromTheirTimeAndStayWithinTheFields) {
    struct Row {
        std::vector<const char*> edits;
        std::int64_t atMs;
        CellValues cell;
        std::int32_t bankMa;
    };
    const Row rows[] = {
        {{"cell 1 drifts 2 mV a second lower from 00:00:10"}, 9999, {3300, 200, 0}, 1500},
        {{"cell 1 drifts 2 mV a second lower from 00:00:10"}, 10000, {3300, 200, 0}, 1500},
        {{"cell 1 drifts 2 mV a second lower from 00:00:10"}, 13500, {3293, 200, 0}, 1500},
        {{"cell 1 drifts 0.5 mV a second higher"}, 1000, {3301, 200, 0}, 1500}, // 0.5 rounds away from zero
        {{"cell 1 drifts 2 mV a second lower from 0:10 until 0:20"}, 20000, {3300, 200, 0}, 1500},
        {{"cell 1 drifts 100 mV a second lower"}, 60000, {1000, 200, 0}, 1500},
        {{"cell 1 pinned at 3600 mV", "cell 1 offset -20 mV"}, 0, {3580, 200, 0}, 1500},
        {{"cell 1 offset -20 mV", "cell 1 pinned at 3600 mV"}, 0, {3600, 200, 0}, 1500},
        {{"cell 1 pinned at 45.5 degC from 0:05"}, 5000, {3300, 455, 0}, 1500},
        {{"cell 1 offset +100.0 degC"}, 0, {3300, 1023, 0}, 1500},
        {{"current drifts 1.5 A a second lower"}, 2000, {3300, 200, 0}, -1500},
        {{"current pinned at 524.287 A", "current offset +1 A"}, 0, {3300, 200, 0}, 524287},
        {{"cell 2 pinned at 4000 mV"}, 0, {3300, 200, 0}, 1500},
        {{"cell 9 pinned at 4000 mV"}, 0, {3300, 200, 0}, 1500}, // no such cell: nothing happens
    };
    for (const Row& r : rows) {
        std::vector<Edit> edits;
        for (const char* text : r.edits) {
            edits.push_back(edit(text));
        }
        std::vector<CellValues> cells{{3300, 200, 0}, {3300, 200, 0}};
        std::int32_t bank = 1500;
        applyEdits(edits, r.atMs, cells, bank);
        EXPECT_EQ(cells[0], r.cell) << r.edits.front() << " at " << r.atMs;
        EXPECT_EQ(bank, r.bankMa) << r.edits.front() << " at " << r.atMs;
    }
}

TEST(PlaybackEdits, ChecksAgainstTheRecording) {
    const Timeline t = bankOf({4}); // 10 steps, 00:00:10 long
    EXPECT_EQ(checkEdit(edit("cell 4 offset +1 mV from 00:00:09"), t), "");
    EXPECT_EQ(checkEdit(edit("current offset +1 A"), t), "");
    EXPECT_EQ(checkEdit(edit("cell 5 offset +1 mV"), t), "The recording has no cell 5 (it has 4)");
    EXPECT_EQ(checkEdit(edit("cell 1 offset +1 mV from 00:00:10"), t),
              "The edit begins at 00:00:10, after the end of the recording (00:00:10)");
}

// A step as the emulated bank plays it: every battery its own cells, the sliders battery 1's.
TEST(PlaybackBankFrame, BatteriesGoToThePlayedBankAndBatteryOneToTheSliders) {
    Timeline t = bankOf({4, 4});
    t.steps[3].cells[0].millivolts = 1500;   // below the slider's range
    t.steps[3].cells[5].tenthsCelsius = -55; // battery 2, cell 2
    t.steps[3].bankMilliamps = -12500;
    const PresetMatch match = matchPreset(t);
    ASSERT_TRUE(match.ok);
    const std::vector<Edit> edits{edit("cell 6 offset +10 mV from 00:00:03"),
                                  edit("cell 2 pinned at 3999 mV")};
    const BankFrame frame = frameAt(t, 3, edits);
    EXPECT_EQ(frame.timeMs, 3000);

    const emulator::PlayedBank played = playedBank(frame, match);
    EXPECT_EQ(played.batteries, 2);
    EXPECT_EQ(played.voltageMv[0][0], 1500) << "the recorded value, not the slider's limit";
    EXPECT_EQ(played.voltageMv[0][1], 3999);
    EXPECT_EQ(played.voltageMv[1][1], 3305 + 10);
    EXPECT_EQ(played.tempTenths[1][1], -55);
    EXPECT_EQ(played.voltageMv[2][0], 0) << "no third battery";
    EXPECT_EQ(played.currentMa, -12500);

    const emulator::BankSettings sliders = sliderSettings(frame, match, emulator::BankSettings{});
    EXPECT_EQ(sliders.voltageMv[0], 1800);
    EXPECT_EQ(sliders.voltageMv[1], 3999);
    EXPECT_EQ(sliders.voltageMv[3], 3303);
    EXPECT_EQ(sliders.voltageMv[4], 3300) << "beyond battery 1 the sliders keep their values";
    EXPECT_EQ(sliders.tempTenths[2], 202);
    EXPECT_EQ(sliders.currentA, -13) << "halves round away from zero";
    EXPECT_EQ(sliders.numBatText, "2");

    for (const auto& [ma, amps] : std::vector<std::pair<std::int32_t, int>>{
             {12499, 12}, {12500, 13}, {-499, 0}, {524287, 500}, {-524287, -500}}) {
        BankFrame f = frame;
        f.bankMilliamps = ma;
        EXPECT_EQ(sliderSettings(f, match, emulator::BankSettings{}).currentA, amps) << ma;
    }
    EXPECT_EQ(frameAt(t, 99, edits).step, t.steps.size() - 1) << "a step past the end is the last";
}

} // namespace
} // namespace zanst::playback
