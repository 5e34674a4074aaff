// The "BMS tester" editor while a recording drives the bank: the sliders at battery 1 within their
// ranges, the texts and "Sent BMS Info" at the values the BMS is sent, kept over the responder's
// refreshes until the user's own change gives the bank back to the sliders.

#include "emulator/bank_editor.hpp"
#include "playback/bank_frame.hpp"

#include <gtest/gtest.h>

namespace zanst::emulator {
namespace {

PlayedBank bankOf(int mv, int tenths, int ma) {
    PlayedBank b;
    b.batteries = 2;
    for (auto& cells : b.voltageMv) {
        cells.fill(mv);
    }
    for (auto& cells : b.tempTenths) {
        cells.fill(tenths);
    }
    b.currentMa = ma;
    return b;
}

TEST(ShownBank, TextsShowWhatTheBmsIsSentAndTheSlidersStayInTheirRanges) {
    struct Row {
        int mv, tenths, ma;
        const char* voltageText;
        const char* tempText;
        const char* currentText;
        int voltageSlider, tempSlider, currentSlider;
        const char* bankVoltage; // four cells shown
    };
    const Row rows[] = {
        {3301, 215, 12499, "3301", "21.5", "12", 3301, 215, 12, "13.204"},
        {1500, -500, -12500, "1500", "-50", "-13", 1800, -400, -13, "6"},
        {5095, 1023, 524287, "5095", "102.3", "524", 4000, 800, 500, "20.38"},
        {3300, 200, 500, "3300", "20", "1", 3300, 200, 1, "13.2"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.voltageText);
        BankEditor editor;
        editor.setFirmwareIndex(1);
        editor.focusEntered(Field::Voltage, 0); // a flag left set when the entries were locked
        const PlayedBank played = bankOf(r.mv, r.tenths, r.ma);
        playback::BankFrame frame;
        frame.cells.assign(8, {r.mv, r.tenths, 0});
        frame.bankMilliamps = r.ma;
        playback::PresetMatch match;
        match.batteries = 2;
        match.cellsPerBattery = 4;
        const BankSettings sliders = playback::sliderSettings(frame, match, BankSettings{});
        editor.showPlayed(sliders, played);

        EXPECT_TRUE(editor.showingPlayed());
        EXPECT_EQ(editor.text(Field::Voltage, 0), r.voltageText);
        EXPECT_EQ(editor.text(Field::Temperature, 3), r.tempText);
        EXPECT_EQ(editor.text(Field::Current, 0), r.currentText);
        EXPECT_EQ(editor.slider(Field::Voltage, 0), r.voltageSlider);
        EXPECT_EQ(editor.slider(Field::Temperature, 3), r.tempSlider);
        EXPECT_EQ(editor.slider(Field::Current, 0), r.currentSlider);
        EXPECT_FALSE(editor.selected(Field::Voltage, 0));
        EXPECT_EQ(editor.sentBmsInfo().bankVoltage, r.bankVoltage);
        EXPECT_EQ(editor.numBatText(), "2");
        EXPECT_EQ(editor.batInParallelText(), "2");
        EXPECT_EQ(editor.settings().fwVersionIndex, 1) << "the firmware choice is the user's";

        // An answer's refresh keeps the played texts; once the bank is the sliders' again they follow.
        editor.refreshFromSliders();
        EXPECT_EQ(editor.text(Field::Voltage, 0), r.voltageText);
        editor.dropPlayed();
        EXPECT_FALSE(editor.showingPlayed());
        editor.refreshFromSliders();
        EXPECT_EQ(editor.text(Field::Voltage, 0), std::to_string(r.voltageSlider));
        EXPECT_EQ(editor.sentBmsInfo().bankVoltage, updateSentBmsInfo(editor.settings(), 4).bankVoltage);
    }
}

} // namespace
} // namespace zanst::emulator
