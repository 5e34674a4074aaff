// The emulated bank: presets, serials, the 0x31 announcement, entries and the editing rules.

#include "emulator/bank_editor.hpp"
#include "emulator/entries.hpp"
#include "emulator/presets.hpp"
#include "emulator/responder.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"

#include "bus/identity.hpp"

#include <gtest/gtest.h>

#include <set>

namespace zanst::emulator {
namespace {

using bus::Bytes;

TEST(Presets, ModelListMatchesTheTableRowByRow) {
    struct Row {
        const char* caption;
        int key;
        int pid;
        int cells;
        int capacity;
        const char* cellType;
    };
    const Row rows[] = {
        {"Zanthe Battery 12,8V/100Ah (0xA602)", 0, 0xA602, 4, 100, "Vision L36130200LFP-100Ah1C"},
        {"Zanthe Battery 12,8V/105Ah (0xA60E)", 2, 0xA60E, 4, 105, "EVE LF105 - 105Ah1C"},
        {"Zanthe Battery 12,8V/150Ah (0xA603)", 3, 0xA603, 4, 150, "Vision IFP48173166-150Ah1C"},
        {"Zanthe Battery 12,8V/200Ah (0xA605)", 4, 0xA605, 4, 200, "Vision L36130200LFP-100Ah1C"},
        {"Zanthe Battery 12,8V/210Ah (0xA60F)", 6, 0xA60F, 4, 210, "EVE LF105 - 105Ah1C"},
        {"Zanthe Battery 12,8V/300Ah (0xA60B)", 7, 0xA60B, 4, 300, "Vision IFP48173166-150Ah1C"},
        {"Zanthe Battery 25,6V/100Ah (0xA607)", 8, 0xA607, 8, 100, "Vision L36130200LFP-100Ah1C"},
        {"Zanthe Battery 25,6V/105Ah (0xA610)", 10, 0xA610, 8, 105, "EVE LF105 - 105Ah1C"},
        {"Zanthe Battery 25,6V/200Ah (0xA60C)", 11, 0xA60C, 8, 200, "Vision L36130200LFP-100Ah1C"},
        {"Zanthe Battery 25,6V/210Ah (0xA611)", 13, 0xA611, 8, 210, "EVE LF105 - 105Ah1C"},
        {"Zanthe Battery 25,6V/300Ah (0xA60A)", 14, 0xA60A, 8, 300, "Vision IFP48173166-150Ah1C"},
        {"Zanthe Battery 51,2V/100Ah (0xA60D)", 15, 0xA60D, 16, 100, "Vision L36130200LFP-100Ah1C"},
        {"Zanthe Battery 51,2V/105Ah (0xA612)", 17, 0xA612, 16, 105, "EVE LF105 - 105Ah1C"},
    };
    static_assert(std::size(rows) == kPresetCount);
    for (int i = 0; i < 13; ++i) {
        const Row& r = rows[i];
        EXPECT_EQ(batteryPresetCaptions[static_cast<std::size_t>(i)], r.caption);
        const auto view = presetView(i);
        ASSERT_TRUE(view.has_value()) << i;
        EXPECT_EQ(view->info.key, r.key) << i;
        EXPECT_EQ(view->info.productId, r.pid) << i;
        EXPECT_EQ(view->info.cellsInSeries, r.cells) << i;
        EXPECT_EQ(view->info.capacityAh, r.capacity) << i;
        EXPECT_EQ(view->cellType, r.cellType) << i;
        EXPECT_EQ(view->capacityText, "Capacity: " + std::to_string(r.capacity) + " Ah") << i;
        EXPECT_EQ(view->totalCellsShown, r.cells) << i;
        EXPECT_EQ(view->blocksShown, r.cells / 4) << i;
        EXPECT_EQ(batteryInfoArray[static_cast<std::size_t>(view->selectedPreset)].key, r.key);
    }
}

TEST(Presets, KeysWithoutARowAndPositionsOutsideTheListChangeNothing) {
    std::set<int> keys;
    for (const auto& row : batteryInfoArray) {
        keys.insert(row.key);
    }
    for (int missing : {1, 5, 9, 12, 16}) {
        EXPECT_EQ(keys.count(missing), 0u);
        EXPECT_TRUE(cellTypeForKey(missing).empty());
    }
    EXPECT_EQ(keys.size(), kPresetCount);
    for (int index : {-1, 13, 1000}) {
        EXPECT_FALSE(presetView(index).has_value());
        EXPECT_FALSE(bankPresetForListIndex(index).valid());
    }
}

TEST(Presets, BatserialAndTheBatteryDigits) {
    const BankPreset p = bankPresetForListIndex(10);
    EXPECT_STREQ(p.batserial.data(), "HQ2200A60A1");
    EXPECT_STREQ(updateBattSerial(0xA602).data(), "HQ2200A6021");
    EXPECT_STREQ(updateBattSerial(0x00AB).data(), "HQ220000AB1");
    const char digits[] = "123456789:";
    for (int b = 0; b < 10; ++b) {
        EXPECT_EQ(batteryDigit(b), digits[b]);
        EXPECT_EQ(batterySerial(p.batserial, b), std::string("HQ2200A60A") + digits[b]);
    }
}

TEST(Presets, PresetChangedFrameIsTheFixed0x31Announcement) {
    test::FakePort port;
    bus::BusState state;
    BmsResponder responder{state, port};
    bool& frameReceiving = state.frameReceiving;
    frameReceiving = true;
    ASSERT_TRUE(responder.transmitPresetChanged());
    Bytes expected(10, 0);
    Bytes frame{0xAA, 0x31, 0x01, 0x10, 0xA3, 0xE4, 0x00, 0x00};
    for (char c : bus::identity::kMasterSerial) {
        frame.push_back(static_cast<std::uint8_t>(c));
    }
    frame.push_back(0x00); // byte 19
    frame.push_back(0x00); // followingFrames
    frame.push_back(test::crc8(frame, frame.size()));
    expected.insert(expected.end(), frame.begin(), frame.end());
    ASSERT_EQ(frame.size(), 22u);
    EXPECT_EQ(port.all(), expected);
    EXPECT_FALSE(frameReceiving);

    port.writes.clear();
    port.open = false;
    frameReceiving = true;
    EXPECT_FALSE(responder.transmitPresetChanged());
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(frameReceiving); // nothing sent, nothing changed
}

TEST(Entries, IsIntegerAndTheClampRule) {
    struct Row {
        const char* text;
        bool whole;
        std::int64_t value;
    };
    const Row rows[] = {
        {"0", true, 0},
        {"-0", true, 0},
        {"2500", true, 2500},
        {"-50", true, -50},
        {"007", true, 7},
        {"", false, 0},
        {"-", false, 0},
        {"3.3", false, 0},
        {"+5", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"--5", false, 0},
        {"1e3", false, 0},
        {"12a", false, 0},
        {"\xd9\xa3", false, 0},
        {"99999999999", true, 99999999999},
        {"-99999999999", true, -99999999999},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(isInteger(r.text), r.whole) << r.text;
        const auto v = parseWholeNumber(r.text);
        EXPECT_EQ(v.has_value(), r.whole) << r.text;
        if (v) {
            EXPECT_EQ(*v, r.value) << r.text;
        }
    }
    // Saturates instead of overflowing.
    EXPECT_GT(*parseWholeNumber("123456789012345678901234567890"), 4000);
    EXPECT_LT(*parseWholeNumber("-123456789012345678901234567890"), -500);

    struct Clamp {
        std::int64_t v;
        int expected;
    };
    for (const Clamp c :
         {Clamp{2500, 2500}, Clamp{4200, 4000}, Clamp{4000, 4000}, Clamp{1000, 1800}, Clamp{1800, 1800},
          Clamp{1801, 1801}, Clamp{99999999999, 4000}, Clamp{-99999999999, 1800}}) {
        EXPECT_EQ(clampToSlider(c.v, 1800, 4000), c.expected) << c.v;
    }
}

TEST(SentBmsInfo, BankVoltageAndAverageTemperatureCountTheShownCellsOnly) {
    BankSettings s;
    s.voltageMv[2] = 3310;
    s.voltageMv[3] = 3290;
    s.tempTenths[3] = 205;
    s.voltageMv[4] = 4000; // beyond four cells: not counted
    s.tempTenths[4] = 800;
    s.currentA = -123;
    const SentBmsInfo four = updateSentBmsInfo(s, 4);
    EXPECT_EQ(four.bankVoltage, "13.2");
    EXPECT_EQ(four.avgTemp, "20.125");
    EXPECT_EQ(four.current, "-123");
    const SentBmsInfo eight = updateSentBmsInfo(s, 8);
    EXPECT_EQ(eight.bankVoltage, "27.1");
    EXPECT_EQ(eight.avgTemp, "27.5625");
    EXPECT_EQ(updateSentBmsInfo(BankSettings{}, 16).bankVoltage, "52.8");
    EXPECT_EQ(SentBmsInfo{}, updateSentBmsInfo(BankSettings{}, 4)); // the start texts match the defaults
}

class EditorTest : public testing::Test {
  protected:
    BankEditor editor;

    void enter(Field f, int cell, const std::string& text) { editor.keyPressed(f, cell, text, true); }
};

TEST_F(EditorTest, EnterInACellFieldMovesItsSliderToTheClampedEntry) {
    struct Row {
        Field field;
        const char* text;
        int slider; // expected; the start value when the entry is ignored
    };
    const Row rows[] = {
        {Field::Voltage, "2500", 2500},
        {Field::Voltage, "4200", 4000},
        {Field::Voltage, "1000", 1800},
        {Field::Voltage, "-", 3300},
        {Field::Voltage, "3.3", 3300},
        {Field::Voltage, "", 3300},
        {Field::Voltage, "99999999999", 4000},
        {Field::Temperature, "25", 250},
        {Field::Temperature, "95", 800},
        {Field::Temperature, "-50", -400},
        {Field::Temperature, "-4", -40},
        {Field::Temperature, "abc", 200},
        {Field::Temperature, "-99999999999", -400},
        {Field::Current, "600", 500},
        {Field::Current, "-20", -20},
        {Field::Current, "-501", -500},
    };
    for (const auto& r : rows) {
        BankEditor fresh;
        fresh.keyPressed(r.field, 2, r.text, true);
        EXPECT_EQ(fresh.slider(r.field, 2), r.slider) << r.text;
        EXPECT_EQ(fresh.text(r.field, 2), r.text) << "the field keeps what was typed";
        if (r.field != Field::Current) {
            EXPECT_EQ(fresh.slider(r.field, 3), r.field == Field::Voltage ? 3300 : 200) << "other cells stay";
        }
    }
}

TEST_F(EditorTest, CurrentEntryShowsInSentBmsInfo) {
    enter(Field::Current, 0, "600");
    EXPECT_EQ(editor.settings().currentA, 500);
    EXPECT_EQ(editor.sentBmsInfo().current, "500");
}

TEST_F(EditorTest, KeysOtherThanEnterOnlyRefreshTheSentBox) {
    editor.sliderMoved(Field::Voltage, 0, 2000); // sent box now 12.1
    editor.keyPressed(Field::Voltage, 1, "25", false);
    EXPECT_EQ(editor.slider(Field::Voltage, 1), 3300);
    EXPECT_EQ(editor.text(Field::Voltage, 1), "25");
    EXPECT_EQ(editor.sentBmsInfo().bankVoltage, "11.9");
}

TEST_F(EditorTest, EditAllCellsAppliesToEveryCellShownOrHiddenButNeverTheCurrent) {
    editor.setEditAllCells(true);
    editor.sliderMoved(Field::Voltage, 6, 3450);
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(editor.slider(Field::Voltage, c), 3450) << c;
        EXPECT_EQ(editor.text(Field::Voltage, c), "3450") << c;
    }
    editor.sliderMoved(Field::Current, 0, 42);
    EXPECT_EQ(editor.slider(Field::Voltage, 0), 3450);
    enter(Field::Temperature, 9, "95");
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(editor.slider(Field::Temperature, c), 800) << c;
        EXPECT_EQ(editor.text(Field::Temperature, c), "80") << c;
    }
    EXPECT_EQ(editor.settings().currentA, 42);
    EXPECT_EQ(editor.sentBmsInfo().avgTemp, "80");

    // Without it, the typed text stays as typed while the slider stops at its end.
    editor.setEditAllCells(false);
    enter(Field::Voltage, 0, "5000");
    EXPECT_EQ(editor.slider(Field::Voltage, 0), 4000);
    EXPECT_EQ(editor.text(Field::Voltage, 0), "5000");
    EXPECT_EQ(editor.slider(Field::Voltage, 1), 3450);
}

TEST_F(EditorTest, TemperatureTextsAfterASliderMoveAndAfterARefresh) {
    editor.sliderMoved(Field::Temperature, 0, -15);
    EXPECT_EQ(editor.text(Field::Temperature, 0), "-1");
    editor.sliderMoved(Field::Temperature, 1, 205);
    EXPECT_EQ(editor.text(Field::Temperature, 1), "20");
    editor.refreshFromSliders();
    EXPECT_EQ(editor.text(Field::Temperature, 0), "-1.5");
    EXPECT_EQ(editor.text(Field::Temperature, 1), "20.5");
    EXPECT_EQ(editor.text(Field::Temperature, 2), "20");
}

TEST_F(EditorTest, FocusFlagsKeepTheRefreshOutOfFieldsBeingEdited) {
    editor.focusEntered(Field::Voltage, 4);
    editor.keyPressed(Field::Voltage, 4, "31", false);
    editor.focusEntered(Field::Current, 0);
    editor.keyPressed(Field::Current, 0, "-", false);
    editor.sliderMoved(Field::Voltage, 5, 2222);
    editor.keyPressed(Field::Voltage, 5, "nonsense", false); // not focused: the refresh rewrites it
    editor.refreshFromSliders();
    EXPECT_TRUE(editor.selected(Field::Voltage, 4));
    EXPECT_EQ(editor.text(Field::Voltage, 4), "31");
    EXPECT_EQ(editor.text(Field::Current, 0), "-");
    EXPECT_EQ(editor.text(Field::Voltage, 5), "2222");

    // Leaving with a whole number applies it to that cell only and clears the flag.
    editor.setEditAllCells(true);
    editor.focusLeft(Field::Voltage, 4, "3100");
    EXPECT_FALSE(editor.selected(Field::Voltage, 4));
    EXPECT_EQ(editor.slider(Field::Voltage, 4), 3100);
    EXPECT_EQ(editor.slider(Field::Voltage, 3), 3300);
    EXPECT_EQ(editor.text(Field::Voltage, 4), "3100");

    // Leaving with anything else keeps the flag, so the refresh still leaves the text alone.
    editor.focusLeft(Field::Current, 0, "-");
    EXPECT_TRUE(editor.selected(Field::Current, 0));
    editor.refreshFromSliders();
    EXPECT_EQ(editor.text(Field::Current, 0), "-");
}

TEST_F(EditorTest, LeavingATemperatureFieldScalesTheEntryAndLeavesTheSentBoxAlone) {
    const SentBmsInfo before = editor.sentBmsInfo();
    editor.focusEntered(Field::Temperature, 0);
    editor.focusLeft(Field::Temperature, 0, "25");
    EXPECT_EQ(editor.slider(Field::Temperature, 0), 250);
    EXPECT_EQ(editor.sentBmsInfo(), before);
}

TEST_F(EditorTest, ResetCellsRestoresEveryCellAndTheCurrent) {
    editor.setEditAllCells(true);
    editor.sliderMoved(Field::Voltage, 0, 2000);
    editor.sliderMoved(Field::Temperature, 0, -300);
    editor.setEditAllCells(false);
    editor.sliderMoved(Field::Current, 0, -250);
    editor.resetCells();
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(editor.slider(Field::Voltage, c), 3300);
        EXPECT_EQ(editor.text(Field::Voltage, c), "3300");
        EXPECT_EQ(editor.slider(Field::Temperature, c), 200);
        EXPECT_EQ(editor.text(Field::Temperature, c), "20");
    }
    EXPECT_EQ(editor.settings().currentA, 0);
    EXPECT_EQ(editor.text(Field::Current, 0), "0");
    EXPECT_EQ(editor.sentBmsInfo(), SentBmsInfo{});
}

TEST_F(EditorTest, PresetChangeDecidesTheCellsCountedAtTheNextRefresh) {
    editor.sliderMoved(Field::Voltage, 7, 4000);
    EXPECT_EQ(editor.sentBmsInfo().bankVoltage, "13.2");
    editor.presetApplied(8);
    EXPECT_EQ(editor.sentBmsInfo().bankVoltage, "13.2"); // unchanged until the next refresh
    editor.updateSentBmsInfo();
    EXPECT_EQ(editor.sentBmsInfo().bankVoltage, "27.1");
}

TEST_F(EditorTest, BatteriesInParallelEntry) {
    struct Row {
        const char* typed;
        const char* numBat;
        const char* batInParallel;
    };
    const Row rows[] = {{"15", "10", "10"}, {"10", "10", "10"}, {"3", "3", "3"},
                        {"0", "0", "0"},    {"-2", "-2", "-2"}, {"abc", "abc", "1"}};
    for (const auto& r : rows) {
        BankEditor fresh;
        fresh.numBatTyped(r.typed);
        fresh.numBatEntered(r.typed);
        EXPECT_EQ(fresh.numBatText(), r.numBat) << r.typed;
        EXPECT_EQ(fresh.batInParallelText(), r.batInParallel) << r.typed;
    }
    // The responder's read caps the count the same way; typing alone changes neither box.
    editor.numBatTyped("12");
    EXPECT_EQ(editor.batInParallelText(), "1");
    editor.batteriesInParallelRead();
    EXPECT_EQ(editor.numBatText(), "10");
    EXPECT_EQ(editor.batInParallelText(), "10");
}

} // namespace
} // namespace zanst::emulator
