// "Recorded bank" on "BMS tester" in the whole window, offscreen: a recording opened as from its
// file dialog, played step by step, paused, looped at ten times the pace and stopped, with the
// sliders following and locked; a recording no model plays refused in red; edits entered and
// refused; the time line placing a click.

#include "engine/bus_engine.hpp"
#include "shell/main_window.hpp"
#include "support/playback_csv.hpp"
#include "support/qt_wait.hpp"
#include "support/sim_process.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/playback_group.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::BmsTesterTab;
using app::PlaybackGroup;
using playback::PlayState;

constexpr int kSteps = 5;

class PlaybackGui : public testing::Test {
  protected:
    void SetUp() override {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir / "data"));
        std::ofstream(dir / "two.csv", std::ios::binary) << csvRecording({4, 4}, kSteps);
        std::ofstream(dir / "twelve.csv", std::ios::binary) << csvRecording({12}, 2);
        window = std::make_unique<app::diag_form>();
        tab = window->findChild<BmsTesterTab*>();
        ASSERT_NE(tab, nullptr);
        group = tab->playbackGroup;
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->tabs()->setCurrentWidget(tab);
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }

    const app::PlaybackReport& report() const { return group->lastReport(); }
    // As the file dialog's choice arrives.
    void open(const std::string& name) { emit group->recordingChosen(QString::fromStdString(dir / name)); }
    bool reached(int step) {
        return waitUntil([&] { return report().step == step && report().holdsBank(); });
    }
    void choosePace(const QString& caption) {
        const int index = group->cbPace->findText(caption);
        ASSERT_GE(index, 0);
        group->cbPace->setCurrentIndex(index);
        emit group->cbPace->activated(index);
        ASSERT_TRUE(waitUntil([&] { return group->cbPace->itemData(index).toInt() == int(report().pace); }));
    }
    // Battery 1 as the tab shows it: cell 1's voltage text and slider, cell 3's voltage text.
    void expectShown(int step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(tab->tbCellVoltage[0]->text(), QString::number(csvMillivolts(step, 1)));
        EXPECT_EQ(tab->mVTrackbarCell[0]->value(), csvMillivolts(step, 1));
        EXPECT_EQ(tab->tbCellVoltage[2]->text(), QString::number(csvMillivolts(step, 3)));
        EXPECT_EQ(tab->TempTrackbarCell[0]->value(), csvTenths(step));
        EXPECT_EQ(tab->tbSentBMSInfoBattInParallel->text(), QStringLiteral("2"));
    }
    void expectShownVoltage(int mv) { EXPECT_EQ(tab->tbCellVoltage[0]->text(), QString::number(mv)); }
    void expectLocked(bool locked) {
        for (QWidget* w : std::initializer_list<QWidget*>{tab->mVTrackbarCell[0], tab->TempTrackbarCell[7],
                                                          tab->CurrentTrackbar, tab->cbBatteryPresets,
                                                          tab->btnResetCells, tab->CbEditAll}) {
            EXPECT_EQ(w->isEnabled(), !locked) << w->objectName().toStdString();
        }
        for (QLineEdit* box : {tab->tbCellVoltage[0], tab->tbTemp[3], tab->tbBatCurrent}) {
            EXPECT_EQ(box->isReadOnly(), locked) << box->objectName().toStdString();
            EXPECT_EQ(box->focusPolicy() == Qt::NoFocus, locked) << box->objectName().toStdString();
        }
    }

    TempDir dir;
    std::unique_ptr<app::diag_form> window;
    BmsTesterTab* tab = nullptr;
    PlaybackGroup* group = nullptr;
};

TEST_F(PlaybackGui, StepPauseLoopAndStopWithTheSlidersFollowing) {
    open("two.csv");
    ASSERT_TRUE(waitUntil([&] { return !report().file.isEmpty(); })) << group->lbStatus->text().toStdString();
    EXPECT_EQ(group->lbStatus->toolTip().section('\n', 0, 0), report().summary);
    EXPECT_TRUE(group->lbStatus->text().startsWith(
        QStringLiteral("two.csv, 00:00:05 in 5 steps: 2 x Zanthe Battery 12,8V/100Ah (0xA602)")))
        << group->lbStatus->text().toStdString();
    EXPECT_TRUE(group->btnPlay->isEnabled());
    EXPECT_FALSE(group->btnPause->isEnabled());
    EXPECT_FALSE(group->btnStop->isEnabled());
    expectLocked(false);

    // One step at a time.
    choosePace(QStringLiteral("Step by step"));
    group->btnPlay->click();
    ASSERT_TRUE(reached(0));
    expectShown(0);
    expectLocked(true);
    group->btnStepForward->click();
    ASSERT_TRUE(reached(1));
    expectShown(1);
    EXPECT_EQ(group->lbPosition->text(), QStringLiteral("00:00:01 / 00:00:05 (2/5)"));
    group->btnStepBack->click();
    ASSERT_TRUE(reached(0));
    group->btnStepForward->click();
    group->btnStepForward->click();
    ASSERT_TRUE(reached(2));
    expectShown(2);

    // At the recorded pace, then paused: nothing moves while it stands, the sliders stay locked.
    choosePace(QStringLiteral("1x"));
    ASSERT_TRUE(waitUntil([&] { return group->btnPause->isEnabled(); }));
    group->btnPause->click();
    ASSERT_TRUE(waitUntil([&] { return report().state == PlayState::Paused; }));
    const int pausedAt = report().step;
    const qint64 pausedMs = report().positionMs;
    pump(1300ms);
    EXPECT_EQ(report().state, PlayState::Paused);
    EXPECT_EQ(report().step, pausedAt);
    EXPECT_EQ(group->timeLine->positionMs(), pausedMs);
    expectShown(pausedAt);
    expectLocked(true);
    EXPECT_TRUE(group->lbDetail->text().startsWith(
        QStringLiteral("Paused; answers captured beside the recording: two_answers_")))
        << group->lbDetail->text().toStdString();

    // Ten times the pace in a loop: the five seconds come round again and again.
    group->CbLoop->click();
    choosePace(QStringLiteral("10x"));
    group->btnPlay->click();
    ASSERT_TRUE(waitUntil([&] { return report().loops >= 2 && report().state == PlayState::Playing; }, 5s));
    EXPECT_TRUE(group->lbPosition->text().contains(QStringLiteral(", loop ")))
        << group->lbPosition->text().toStdString();
    expectLocked(true);

    // Stopped: the sliders are free and keep the step it ended on.
    group->btnStop->click();
    ASSERT_TRUE(waitUntil([&] { return report().state == PlayState::Stopped; }));
    pump(100ms);
    expectLocked(false);
    expectShown(report().step);
    EXPECT_FALSE(group->btnStop->isEnabled());
    EXPECT_TRUE(group->lbDetail->text().startsWith(QStringLiteral("Stopped; answers were captured beside")))
        << group->lbDetail->text().toStdString();
    EXPECT_TRUE(QFileInfo::exists(report().capturePath)) << report().capturePath.toStdString();
}

TEST_F(PlaybackGui, ARecordingNoModelPlaysIsRefusedInRedAndTheOneLoadedStays) {
    open("two.csv");
    ASSERT_TRUE(waitUntil([&] { return !report().file.isEmpty(); }));
    open("twelve.csv");
    ASSERT_TRUE(waitUntil([&] { return group->lbStatus->text().startsWith(QStringLiteral("Cannot play")); }));
    EXPECT_EQ(
        group->lbStatus->toolTip(),
        QStringLiteral("Cannot play twelve.csv: The recorded battery has 12 cells; the emulator's models "
                       "have 4, 8 or 16"));
    EXPECT_TRUE(group->lbStatus->styleSheet().contains(QStringLiteral("red")));
    EXPECT_TRUE(group->lbDetail->text().startsWith(QStringLiteral("Still loaded: two.csv")));
    EXPECT_TRUE(report().file.endsWith(QStringLiteral("two.csv")));
    EXPECT_TRUE(group->btnPlayBank->isEnabled());

    open("missing.zcap");
    ASSERT_TRUE(
        waitUntil([&] { return group->lbStatus->text().startsWith(QStringLiteral("Cannot play missing")); }));
    EXPECT_TRUE(group->lbStatus->toolTip().contains(QStringLiteral("Cannot open")));
}

TEST_F(PlaybackGui, EditsAreEnteredRefusedAndDrawnOnTheTimeLine) {
    open("two.csv");
    ASSERT_TRUE(waitUntil([&] { return !report().file.isEmpty(); }));
    app::PlaybackEditsDialog* edits = group->editsDialog;
    group->btnEdits->click();
    ASSERT_TRUE(edits->isVisible());
    const auto enter = [&](const QString& text) {
        edits->tbEdit->setText(text);
        edits->btnAddEdit->click();
    };
    enter(QStringLiteral("cell 9 pinned at 3000 mV from 00:00:01"));
    ASSERT_TRUE(waitUntil([&] { return edits->lbEditError->isVisible(); }));
    EXPECT_EQ(edits->lbEditError->text(), QStringLiteral("The recording has no cell 9 (it has 8)"));
    EXPECT_EQ(edits->tbEdit->text(), QStringLiteral("cell 9 pinned at 3000 mV from 00:00:01"))
        << "kept to be fixed";

    enter(QStringLiteral("cell 1 pinned at 3000 mV from 00:00:02 until 00:00:04"));
    ASSERT_TRUE(waitUntil([&] { return edits->lstEdits->count() == 1; }));
    EXPECT_EQ(edits->lstEdits->item(0)->text(),
              QStringLiteral("cell 1 pinned at 3000 mV from 00:00:02 until 00:00:04"));
    EXPECT_TRUE(edits->tbEdit->text().isEmpty());
    EXPECT_FALSE(edits->lbEditError->isVisible());
    ASSERT_EQ(group->timeLine->edits().size(), 1u);
    EXPECT_EQ(group->timeLine->editsAt(2500), QStringList{edits->lstEdits->item(0)->text()});
    EXPECT_TRUE(group->timeLine->editsAt(4000).isEmpty()) << "an edit ends before its end";

    // The edit acts at the recorded time of the step shown.
    choosePace(QStringLiteral("Step by step"));
    group->btnPlay->click();
    ASSERT_TRUE(reached(0));
    expectShownVoltage(csvMillivolts(0, 1));
    for (int step = 1; step <= 4; ++step) {
        group->btnStepForward->click();
        ASSERT_TRUE(reached(step));
        expectShownVoltage(step == 2 || step == 3 ? 3000 : csvMillivolts(step, 1));
    }
    edits->lstEdits->setCurrentRow(0);
    edits->btnRemoveEdit->click();
    ASSERT_TRUE(waitUntil([&] { return edits->lstEdits->count() == 0; }));
    EXPECT_TRUE(group->timeLine->edits().empty());
}

TEST(PlaybackTimeLine, AClickSeeksToTheTimeUnderItWithinTheRecording) {
    app::PlaybackTimeLine line;
    line.resize(1004, line.sizeHint().height()); // a groove from x = 4 to x = 999
    line.setLength(99'600);
    struct Row {
        int x;
        qint64 ms;
    };
    const Row rows[] = {{4, 0},        {0, 0},        {5, 100},      {504, 50'050},
                        {998, 99'499}, {999, 99'600}, {5000, 99'600}};
    for (const Row& r : rows) {
        EXPECT_EQ(line.positionAt(r.x), r.ms) << r.x;
    }
    qint64 sought = -1;
    QObject::connect(&line, &app::PlaybackTimeLine::seekRequested, [&](qint64 ms) { sought = ms; });
    QTest::mouseClick(&line, Qt::LeftButton, {}, QPoint(504, 5));
    EXPECT_EQ(sought, 50'050);
    line.setPosition(50'000);
    QTest::keyClick(&line, Qt::Key_Right);
    EXPECT_EQ(sought, 60'000);
    QTest::keyClick(&line, Qt::Key_End);
    EXPECT_EQ(sought, 99'599);
    line.setLength(0);
    sought = -1;
    QTest::mouseClick(&line, Qt::LeftButton, {}, QPoint(504, 5));
    EXPECT_EQ(sought, -1) << "nothing to seek in";
}

} // namespace
} // namespace zanst::test
