// The "BMS tester" tab offscreen: start-up state, typing into the cell fields, choosing a model,
// and a scripted BMS talking to the whole window through a pseudo-terminal.

#include "bus/frames.hpp"
#include "emulator/presets.hpp"
#include "engine/emulator_feature.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"
#include "support/records.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/cell_panel.hpp"
#include "tabs/connection_tab.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::BmsTesterTab;
using app::diag_form;
using bus::Bytes;

class BmsTesterGui : public testing::Test {
  protected:
    void SetUp() override {
        tab = window.findChild<BmsTesterTab*>();
        ASSERT_NE(tab, nullptr);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void selectMode() {
        window.tabs()->setCurrentWidget(tab);
        ASSERT_EQ(window.tabs()->currentWidget(), tab);
    }

    // Types into a field as a user would: focus, replace the text, optionally Enter.
    void type(QLineEdit* box, const QString& text, bool enter = true) {
        box->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(waitUntil([&] { return box->hasFocus(); }));
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
        if (enter) {
            QTest::keyClick(box, Qt::Key_Return);
        }
    }

    // The settings the responder answers with, read on the engine's thread.
    emulator::BankSettings engineSettings() {
        emulator::BankSettings s;
        window.engineHost().runBlocking([&] { s = window.engine()->emulator()->responder().settings(); });
        return s;
    }
    emulator::BankPreset enginePreset() {
        emulator::BankPreset p;
        window.engineHost().runBlocking([&] { p = window.engine()->emulator()->responder().preset(); });
        return p;
    }

    static bool isRed(const QLineEdit* box) {
        return box->palette().color(QPalette::Text) == QColor(Qt::red);
    }

    diag_form window;
    BmsTesterTab* tab = nullptr;
};

TEST_F(BmsTesterGui, StartUpShowsPresetZeroAndHidesTheRiskyControls) {
    for (int cell = 0; cell < 16; ++cell) {
        EXPECT_EQ(tab->cellPanels[static_cast<std::size_t>(cell)]->isHidden(), cell >= 4) << cell;
        EXPECT_EQ(tab->cellPanels[static_cast<std::size_t>(cell)]->title(),
                  QStringLiteral("Cell %1").arg(cell + 1));
        EXPECT_EQ(tab->mVTrackbarCell[static_cast<std::size_t>(cell)]->value(), 3300);
        EXPECT_EQ(tab->TempTrackbarCell[static_cast<std::size_t>(cell)]->value(), 200);
        EXPECT_EQ(tab->tbTemp[static_cast<std::size_t>(cell)]->text(), QStringLiteral("20"));
    }
    EXPECT_EQ(tab->SeriesParallelLabel->text(), QStringLiteral("Capacity: 100 Ah"));
    EXPECT_EQ(tab->tbCellType->text(), QStringLiteral("Vision L36130200LFP-100Ah1C"));
    EXPECT_EQ(tab->cbBatteryPresets->currentIndex(), -1);
    EXPECT_EQ(tab->cbBatteryPresets->placeholderText(),
              QStringLiteral("Zanthe Battery 12,8V/100Ah (0xA602)"));
    EXPECT_EQ(tab->cbBatteryPresets->count(), 13);
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             tab->tbCellType, tab->labelCellType, tab->tbNumBat, tab->labelNumBat, tab->labelMax10,
             tab->tbSentBMSInfoBattInParallel, tab->labelBatInParallel}) {
        EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
    }
    EXPECT_EQ(tab->tbSentBankVoltage->text(), QStringLiteral("13.2"));
    EXPECT_EQ(tab->tbSentBankCurrent->text(), QStringLiteral("0"));
    EXPECT_EQ(tab->tbSentBankAvgTemp->text(), QStringLiteral("20"));
    EXPECT_EQ(tab->CurrentTrackbar->minimum(), -500);
    EXPECT_EQ(tab->CurrentTrackbar->maximum(), 500);
    EXPECT_EQ(tab->groupBoxEmulator->title(), QStringLiteral("Battery Cells Emulator"));
    EXPECT_EQ(tab->tbCellVoltage[2]->accessibleName(), QStringLiteral("Cell 3 voltage"));

    // The preset reached the responder whole, without an announcement.
    EXPECT_TRUE(waitUntil([&] { return enginePreset().valid(); }));
    EXPECT_EQ(enginePreset().info.productId, 0xA602);
    EXPECT_STREQ(enginePreset().batserial.data(), "HQ2200A6021");

    // Selecting the tab chooses "v1.02" when no firmware version is chosen.
    EXPECT_EQ(tab->cbFwVersion->currentIndex(), -1);
    selectMode();
    EXPECT_EQ(tab->cbFwVersion->currentText(), QStringLiteral("v1.02"));
    EXPECT_TRUE(waitUntil([&] { return engineSettings().fwVersionIndex == 2; }));
}

TEST_F(BmsTesterGui, TypingIntoACellFieldAndPressingEnterMovesItsSlider) {
    selectMode();
    QLineEdit* box = tab->tbCellVoltage[2];
    QSlider* slider = tab->mVTrackbarCell[2];

    type(box, QStringLiteral("2500"));
    EXPECT_EQ(slider->value(), 2500);
    EXPECT_TRUE(tab->editor().selected(emulator::Field::Voltage, 2)) << "focus sets the edit flag";
    EXPECT_EQ(tab->tbSentBankVoltage->text(), QStringLiteral("12.4"));
    EXPECT_TRUE(waitUntil([&] { return engineSettings().voltageMv[2] == 2500; }));

    type(box, QStringLiteral("4200"));
    EXPECT_EQ(slider->value(), 4000);
    EXPECT_EQ(box->text(), QStringLiteral("4200")) << "the text stays as typed";

    type(box, QStringLiteral("3.3"));
    EXPECT_EQ(slider->value(), 4000);
    EXPECT_TRUE(isRed(box));
    type(box, QStringLiteral("1000"));
    EXPECT_EQ(slider->value(), 1800);
    EXPECT_FALSE(isRed(box));

    // Leaving the field clears its flag; the other cells never moved.
    tab->tbTemp[2]->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(waitUntil([&] { return !tab->editor().selected(emulator::Field::Voltage, 2); }));
    EXPECT_EQ(tab->mVTrackbarCell[1]->value(), 3300);
    EXPECT_TRUE(waitUntil([&] { return engineSettings().voltageMv[2] == 1800; }));
}

TEST_F(BmsTesterGui, TemperatureAndCurrentEntriesAndEditAllCells) {
    selectMode();
    type(tab->tbTemp[0], QStringLiteral("95"));
    EXPECT_EQ(tab->TempTrackbarCell[0]->value(), 800);
    type(tab->tbBatCurrent, QStringLiteral("600"));
    EXPECT_EQ(tab->CurrentTrackbar->value(), 500);
    EXPECT_EQ(tab->tbSentBankCurrent->text(), QStringLiteral("500"));

    QTest::mouseClick(tab->CbEditAll, Qt::LeftButton, {}, QPoint(8, tab->CbEditAll->height() / 2));
    ASSERT_TRUE(tab->CbEditAll->isChecked());
    type(tab->tbTemp[3], QStringLiteral("-50")); // cells 5 to 16 are hidden and follow all the same
    for (int cell = 0; cell < 16; ++cell) {
        EXPECT_EQ(tab->TempTrackbarCell[static_cast<std::size_t>(cell)]->value(), -400) << cell;
        EXPECT_EQ(tab->tbTemp[static_cast<std::size_t>(cell)]->text(), QStringLiteral("-40")) << cell;
    }
    EXPECT_EQ(tab->CurrentTrackbar->value(), 500);

    QTest::mouseClick(tab->btnResetCells, Qt::LeftButton);
    EXPECT_EQ(tab->TempTrackbarCell[15]->value(), 200);
    EXPECT_EQ(tab->CurrentTrackbar->value(), 0);
    EXPECT_EQ(tab->tbSentBankAvgTemp->text(), QStringLiteral("20"));
}

TEST_F(BmsTesterGui, ChoosingAModelShowsItsPanelsAndPublishesIt) {
    selectMode();
    tab->cbBatteryPresets->setCurrentIndex(10);
    for (int cell = 0; cell < 16; ++cell) {
        EXPECT_EQ(tab->cellPanels[static_cast<std::size_t>(cell)]->isHidden(), cell >= 8) << cell;
    }
    EXPECT_EQ(tab->SeriesParallelLabel->text(), QStringLiteral("Capacity: 300 Ah"));
    EXPECT_EQ(tab->tbCellType->text(), QStringLiteral("Vision IFP48173166-150Ah1C"));
    EXPECT_TRUE(waitUntil([&] { return enginePreset().info.productId == 0xA60A; }));
    EXPECT_STREQ(enginePreset().batserial.data(), "HQ2200A60A1");

    // Back to four cells: the hidden cells keep their settings.
    tab->mVTrackbarCell[7]->setValue(2222);
    tab->cbBatteryPresets->setCurrentIndex(0);
    EXPECT_TRUE(tab->cellPanels[7]->isHidden());
    EXPECT_EQ(tab->mVTrackbarCell[7]->value(), 2222);
}

// A preset change leaves "Sent BMS Info" until the next refresh; the release of any key in a
// cell field is one, even a key that changes no text.
TEST_F(BmsTesterGui, AnyKeyInACellFieldRefreshesSentBmsInfo) {
    selectMode();
    tab->cbBatteryPresets->setCurrentIndex(6); // 8 cells
    EXPECT_EQ(tab->tbSentBankVoltage->text(), QStringLiteral("13.2"));
    tab->tbCellVoltage[0]->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitUntil([&] { return tab->tbCellVoltage[0]->hasFocus(); }));
    QTest::keyClick(tab->tbCellVoltage[0], Qt::Key_Left);
    EXPECT_EQ(tab->tbSentBankVoltage->text(), QStringLiteral("26.4"));
}

// A scripted BMS on the far side of a pseudo-terminal, the window choosing the port.
TEST_F(BmsTesterGui, ScriptedBmsFillsReceivedInfoAndTheRefreshSparesTheFieldBeingEdited) {
    Pty pty;
    const QString path = QString::fromStdString(pty.slavePath());
    qputenv("ZANST_EXTRA_PORTS", path.toUtf8());
    window.refreshPortList();
    qunsetenv("ZANST_EXTRA_PORTS");
    QComboBox* ports = window.connectionTab()->comboBox1;
    const int index = ports->findText(path);
    ASSERT_GE(index, 0);
    ports->setCurrentIndex(index);
    emit ports->activated(index);
    ASSERT_TRUE(waitUntil([&] { return window.windowTitle().endsWith(path); }));
    pty.readFor(700ms); // whatever the start-up tab change still had to send
    selectMode();
    tab->cbBatteryPresets->setCurrentIndex(0); // announced on the bus
    Bytes announcement(10, 0);
    const Bytes frame31 = bus::buildIdentityFrame(0x31);
    announcement.insert(announcement.end(), frame31.begin(), frame31.end());
    EXPECT_EQ(pty.read(32, 2000ms), announcement);

    tab->TempTrackbarCell[1]->setValue(-15);
    EXPECT_EQ(tab->tbTemp[1]->text(), QStringLiteral("-1"));
    type(tab->tbCellVoltage[0], QStringLiteral("31"), false); // being edited, no Enter

    Bytes info(16, 0);
    bus::putLe16(info, 0, 0x1A2B);
    bus::putAscii(info, 4, "BMS-SER-007");
    pty.write(frame(0x01, info, 0));
    EXPECT_EQ(pty.read(32 + 4 * 32, 2000ms).size(), 32u + 4 * 32);
    Bytes meas(20, 0);
    bus::putLe16(meas, 2, 52);
    bus::putLe16(meas, 4, 264);
    Bytes request = frame(0x02, meas, 2);
    for (int i = 1; i <= 4; ++i) {
        const Bytes r = measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < 4 ? 2 : 0);
        request.insert(request.end(), r.begin(), r.end());
    }
    pty.write(request);
    const Bytes answer = pty.read(36 + 4 * 12, 2000ms);
    ASSERT_EQ(answer.size(), 36u + 4 * 12);
    EXPECT_EQ(bus::getLe16(answer, 36 + 12 + 8), 0xFE20) << "cell 2 at -1.5 degC";

    EXPECT_TRUE(waitUntil([&] { return tab->tbBmsPid->text() == QStringLiteral("1A2B"); }));
    EXPECT_EQ(tab->tbBmsSerial->text(), QStringLiteral("BMS-SER-007"));
    EXPECT_TRUE(waitUntil([&] { return tab->tbBmsVoltage->text() == QStringLiteral("26.4"); }));
    EXPECT_EQ(tab->tbBmsCurrent->text(), QStringLiteral("5.2"));
    EXPECT_TRUE(waitUntil([&] { return tab->tbTemp[1]->text() == QStringLiteral("-1.5"); }));
    EXPECT_EQ(tab->tbCellVoltage[0]->text(), QStringLiteral("31")) << "the field being edited is left alone";
    EXPECT_EQ(tab->tbCellVoltage[1]->text(), QStringLiteral("3300"));
}

} // namespace
} // namespace zanst::test
