// The "Battery tester" and "Data Sniffer" tabs offscreen: grids, hidden tools, inputs and recording.

#include "files/app_data.hpp"
#include "shell/main_window.hpp"
#include "support/qt_wait.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/gain_group.hpp"
#include "tabs/sniffer_tab.hpp"
#include "tabs/updater_group.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/cell_grid.hpp"
#include "ui/recorder_panel.hpp"
#include "ui/tab_overlay.hpp"
#include "ui/widgets.hpp"
#include "windows/plot_window.hpp"

#include <QAccessible>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::CellTableModel;
using app::RecorderPanel;
using bank::Column;

QString readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("<missing>");
    }
    return QString::fromLatin1(file.readAll());
}

bank::CellTable twoBalancers() {
    bank::CellTable table;
    for (int id = 1; id <= 2; ++id) {
        bank::CellRow row;
        row.cellId = id;
        row.volts = id == 1 ? 3.301f : 3.3f;
        row.celsius = 25.5;
        row.text[static_cast<std::size_t>(col(Column::CellId))] = std::to_string(id);
        row.text[static_cast<std::size_t>(col(Column::Voltage))] = id == 1 ? "3.301" : "3.300";
        row.text[static_cast<std::size_t>(col(Column::Current))] = "L: 0.12";
        row.text[static_cast<std::size_t>(col(Column::Temp))] = "25.5";
        row.level = id == 1 ? bank::VoltageLevel::Normal : bank::VoltageLevel::Alarm;
        row.background = id == 1 ? bank::RowBackground::White : bank::RowBackground::Gainsboro;
        table.rows.push_back(row);
    }
    return table;
}

// Two batteries of three cells, 3.301 V upwards, 25.5 degC.
bank::BankSnapshot twoBatteries() {
    bank::BankSnapshot snapshot;
    for (int i = 0; i < 6; ++i) {
        bank::BalancerReading r;
        r.id = i + 1;
        r.cellId = i + 1;
        r.millivolts = 3301 + i;
        r.tenthsCelsius = 255;
        r.serial = i < 3 ? "HQ2200A6021" : "HQ2200A6022";
        r.battery = i < 3 ? 0 : 1;
        snapshot.balancers.push_back(r);
    }
    return snapshot;
}

TEST(RecordingFolder, AppDataFirstThenTheUsersDataFolder) {
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/tmp/zanst-xdg-home");
    qputenv("APPDATA", "/tmp/zanst-appdata");
    EXPECT_EQ(app::recordingsFolder(), "/tmp/zanst-appdata/Kestrova Energy/Zanthe Service Tool/Recordings");
    qunsetenv("APPDATA");
    EXPECT_EQ(app::recordingsFolder(), "/tmp/zanst-xdg-home/Kestrova Energy/Zanthe Service Tool/Recordings");
    qputenv("XDG_DATA_HOME", dataHome);
}

class TesterTabs : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        qunsetenv("APPDATA");
        window = std::make_unique<app::diag_form>();
    }
    void TearDown() override {
        window.reset();
        qputenv("XDG_DATA_HOME", dataHome);
    }
    QByteArray dataHome;

    QString recordings() const {
        return data.path() + QStringLiteral("/Kestrova Energy/Zanthe Service Tool/Recordings");
    }
    app::BatteryTesterTab* testerTab() const { return window->batteryTesterTab(); }
    app::SnifferTab* snifferTab() const { return window->snifferTab(); }
    QWidget* overlay() const { return window->findChild<app::TabOverlay*>(); }
    bool engineRecording() {
        bool recording = false;
        window->engineHost().runBlocking([&] { recording = window->engine()->modes()->vetoed(); });
        return recording;
    }

    QTemporaryDir data;
    std::unique_ptr<app::diag_form> window;
};

TEST_F(TesterTabs, RiskyToolsAreHiddenWhenShown) {
    EXPECT_FALSE(testerTab()->tbSetting->isHidden()) << "built visible, hidden at start-up";
    window->show();
    app::BatteryTesterTab* t = testerTab();
    for (QWidget* w : std::initializer_list<QWidget*>{
             t->updaterGroup, t->gainGroup, t->updaterGroup->listBox1, t->updaterGroup->forceUpdate,
             t->gainGroup->zeroCurrent, t->gainGroup->incGain, t->gainGroup->defaultGain,
             t->gainGroup->decGain, t->sysVoltage, t->textBatV, t->tbTotalCurrent, t->textBalSetP,
             t->tbSetting, t->StopSendingMeasurementRequest, t->recorder()->balancingBox,
             t->recorder()->statusBox, snifferTab()->recorder()->balancingBox,
             snifferTab()->recorder()->statusBox, snifferTab()->bmsField(sniffer::BmsField::Status)}) {
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString() << " "
                                   << w->accessibleName().toStdString();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             t->batteryTesterGridView, t->recorder()->startButton, t->recorder()->preset,
             t->recorder()->interval, snifferTab()->BattDataMonitorGridView,
             snifferTab()->bmsField(sniffer::BmsField::Serial),
             snifferTab()->bmsField(sniffer::BmsField::BalancerSetpoint)}) {
        EXPECT_FALSE(w->isHidden()) << w->objectName().toStdString();
    }
}

TEST_F(TesterTabs, GridsHave256RowsFixedColumnsAndOnlyTheSelectColumnEditable) {
    window->show();
    for (QTableView* grid : {testerTab()->batteryTesterGridView, snifferTab()->BattDataMonitorGridView}) {
        auto* model = qobject_cast<CellTableModel*>(grid->model());
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->rowCount(), 256);
        EXPECT_EQ(model->columnCount(), 12);
        QStringList captions;
        for (int c = 0; c < 12; ++c) {
            captions << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        }
        EXPECT_EQ(captions, (QStringList{"Select", "Cell ID", "Voltage", "Current", "Temp", "Serial",
                                         "Firmware", "ProdID", "BootLoader", "", "", ""}));
        const int widths[] = {70, 60, 80, 80, 60, 100, 100, 60, 260};
        for (int c = 0; c < 9; ++c) {
            EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;
        }
        EXPECT_FALSE(grid->isSortingEnabled());
        EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        EXPECT_TRUE(model->flags(model->index(5, 0)).testFlag(Qt::ItemIsUserCheckable));
        for (int c = 1; c < 12; ++c) {
            EXPECT_FALSE(model->flags(model->index(5, c)).testFlag(Qt::ItemIsEditable)) << c;
            EXPECT_FALSE(model->flags(model->index(5, c)).testFlag(Qt::ItemIsUserCheckable)) << c;
        }
        EXPECT_TRUE(model->isSelected(0) && model->isSelected(255)) << "\":Select all\" is set at start";
        EXPECT_FALSE(grid->accessibleName().isEmpty());
    }
}

TEST_F(TesterTabs, RowsShowTheirColoursAndTheSelectBoxTogglesByKeyboard) {
    window->show();
    window->tabs()->setCurrentWidget(testerTab());
    CellTableModel* model = testerTab()->model();
    model->setTable(twoBalancers());
    EXPECT_EQ(model->data(model->index(1, col(Column::Voltage)), Qt::DisplayRole).toString(), "3.300");
    EXPECT_EQ(model->data(model->index(1, col(Column::Voltage)), Qt::ForegroundRole).value<QBrush>().color(),
              QColor(Qt::red));
    const QFont alarm = model->data(model->index(1, col(Column::Voltage)), Qt::FontRole).value<QFont>();
    const QFont normal = model->data(model->index(0, col(Column::Voltage)), Qt::FontRole).value<QFont>();
    EXPECT_TRUE(alarm.bold());
    EXPECT_FALSE(normal.bold()) << "regular unless warning or alarm";
    EXPECT_EQ(normal.family(), "System");
    EXPECT_EQ(normal.pointSize(), 8);
    EXPECT_EQ(model->data(model->index(1, 3), Qt::BackgroundRole).value<QBrush>().color(),
              QColor(0xDC, 0xDC, 0xDC));
    EXPECT_EQ(model->data(model->index(0, 3), Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));
    EXPECT_EQ(model->data(model->index(2, col(Column::CellId)), Qt::DisplayRole).toString(), "");

    QTableView* grid = testerTab()->batteryTesterGridView;
    grid->setFocus();
    grid->setCurrentIndex(model->index(1, 0));
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_FALSE(model->isSelected(1));
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_TRUE(model->isSelected(1));

    // Fewer balancers: the rows past them are empty and white again.
    bank::CellTable one = twoBalancers();
    one.rows.resize(1);
    model->setTable(one);
    EXPECT_EQ(model->data(model->index(1, col(Column::Voltage)), Qt::DisplayRole).toString(), "");
    EXPECT_EQ(model->data(model->index(1, 3), Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));
}

TEST_F(TesterTabs, NumberFilesAreCreatedAtFirstShow) {
    window->show();
    EXPECT_EQ(readFile(recordings() + "/recordingBatteryTesterIDMetadata.txt"), "0");
    EXPECT_EQ(readFile(recordings() + "/recordingBattDataMonitorIDMetadata.txt"), "0");
    EXPECT_TRUE(testerTab()->recorder()->timer->isActive());
    EXPECT_TRUE(snifferTab()->recorder()->timer->isActive());
}

TEST_F(TesterTabs, RecordingLocksTheTabStripAndWritesTheFile) {
    window->show();
    window->tabs()->setCurrentWidget(testerTab());
    RecorderPanel* panel = testerTab()->recorder();
    testerTab()->model()->setTable(twoBalancers());
    EXPECT_EQ(panel->startButton->text(), "Start Recording");
    EXPECT_EQ(panel->stateLabel->text(), "Inactive");
    EXPECT_EQ(panel->pathLabel->text(), "-");

    QTest::mouseClick(panel->startButton, Qt::LeftButton);
    const QString path = recordings() + "/Recording_1.txt";
    EXPECT_EQ(panel->startButton->text(), "Stop Recording");
    EXPECT_EQ(panel->stateLabel->text(), "Active");
    EXPECT_EQ(panel->pathLabel->text(), "Started Saving to " + path);
    // Screen readers hear the values, not only the captions.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(panel->stateLabel)->text(QAccessible::Name),
              "Recording: Active");
    EXPECT_TRUE(
        QAccessible::queryAccessibleInterface(panel->pathLabel)->text(QAccessible::Name).endsWith(path));
    EXPECT_TRUE(window->recordingLock().recording());
    EXPECT_EQ(QString::fromStdString(panel->recorder()->activeFile().string()), path);
    EXPECT_TRUE(overlay()->isVisible());
    EXPECT_FALSE(panel->preset->isEnabled());
    EXPECT_FALSE(panel->interval->isEnabled());
    EXPECT_FALSE(panel->selectAll->isEnabled());
    EXPECT_FALSE(panel->columnBoxes[0]->isEnabled());
    EXPECT_FALSE(testerTab()->model()->selectEditable());
    EXPECT_EQ(readFile(recordings() + "/recordingBatteryTesterIDMetadata.txt"), "1");
    EXPECT_TRUE(waitUntil([&] { return engineRecording(); }));

    // The strip is locked, by mouse, by keyboard and for the engine.
    window->tabs()->setCurrentIndex(0);
    EXPECT_EQ(window->tabs()->currentWidget(), testerTab());
    QTest::keyClick(window->tabs(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(window->tabs()->currentWidget(), testerTab());

    // One line per interval.
    ASSERT_TRUE(waitUntil([&] { return readFile(path).count('\n') >= 1; }, 2500ms));
    EXPECT_EQ(readFile(path).section('\n', 0, 0), " 1 3.301 L: 0.12 25.5 2 3.3 L: 0.12 25.5");

    QTest::mouseClick(panel->startButton, Qt::LeftButton);
    EXPECT_EQ(panel->startButton->text(), "Start Recording");
    EXPECT_EQ(panel->stateLabel->text(), "Inactive");
    EXPECT_EQ(panel->pathLabel->text(), "Saved to " + path);
    EXPECT_FALSE(window->recordingLock().recording());
    EXPECT_FALSE(panel->isRecording());
    EXPECT_FALSE(overlay()->isVisible());
    EXPECT_TRUE(panel->preset->isEnabled());
    EXPECT_TRUE(testerTab()->model()->selectEditable());
    const QString content = readFile(path);
    EXPECT_TRUE(content.endsWith(" 1 3.301 L: 0.12 25.5 2 3.3 L: 0.12 25.5\n")) << "a last line at stop";
    EXPECT_TRUE(waitUntil([&] { return !engineRecording(); }));

    window->tabs()->setCurrentIndex(0);
    EXPECT_EQ(window->tabs()->currentIndex(), 0);
    pump(1200ms);
    EXPECT_EQ(readFile(path), content) << "nothing written after the stop";
}

TEST_F(TesterTabs, KeyboardReachesTheTabsAndTheRecordButtonAndQuits) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTabWidget* strip = window->tabs();
    const int count = strip->count();
    ASSERT_EQ(count, 4);
    // Ctrl+digit picks the tabs the strip shows; past its end nothing changes.
    for (int i : {3, 1, 2, 0}) {
        QTest::keyClick(window.get(), static_cast<Qt::Key>(Qt::Key_1 + i), Qt::ControlModifier);
        EXPECT_EQ(strip->currentIndex(), i);
    }
    QTest::keyClick(window.get(), Qt::Key_7, Qt::ControlModifier);
    EXPECT_EQ(strip->currentIndex(), 0);

    // Ctrl+Tab and Ctrl+Shift+Tab leave a focused drop-down as it was and move along the strip.
    struct Row {
        QWidget* page;
        QComboBox* combo;
    };
    const Row rows[] = {
        {window->connectionTab(), window->connectionTab()->comboBox1},
        {testerTab(), testerTab()->recorder()->preset},
        {window->bmsTesterTab(), window->bmsTesterTab()->cbBatteryPresets},
        {window->bmsTesterTab(), window->bmsTesterTab()->cbFwVersion},
        {snifferTab(), snifferTab()->recorder()->preset},
    };
    for (const Row& r : rows) {
        for (const bool back : {false, true}) {
            strip->setCurrentWidget(r.page);
            const int from = strip->currentIndex();
            r.combo->setFocus();
            ASSERT_TRUE(waitUntil([&] { return r.combo->hasFocus(); }))
                << r.combo->objectName().toStdString();
            const int selected = r.combo->currentIndex();
            QTest::keyClick(r.combo, back ? Qt::Key_Backtab : Qt::Key_Tab,
                            back ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
            EXPECT_EQ(strip->currentIndex(), (from + (back ? count - 1 : 1)) % count)
                << r.combo->objectName().toStdString() << (back ? " back" : "");
            EXPECT_EQ(r.combo->currentIndex(), selected) << r.combo->objectName().toStdString();
        }
    }

    // Ctrl+R starts and stops the recording of the tab shown; meanwhile the strip stays put.
    strip->setCurrentWidget(testerTab());
    testerTab()->model()->setTable(twoBalancers());
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(testerTab()->recorder()->isRecording());
    QTest::keyClick(window.get(), Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(strip->currentWidget(), testerTab());
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(testerTab()->recorder()->isRecording());
    strip->setCurrentWidget(window->connectionTab());
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(testerTab()->recorder()->isRecording()) << "no recorder on this tab";

    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(TesterTabs, RemovedFolderStopsTheRecordingWithTheReason) {
    window->show();
    window->tabs()->setCurrentWidget(snifferTab());
    RecorderPanel* panel = snifferTab()->recorder();
    QTest::mouseClick(panel->startButton, Qt::LeftButton);
    ASSERT_TRUE(window->recordingLock().recordingBattDataMonitor());
    EXPECT_EQ(QString::fromStdString(panel->recorder()->activeFile().string()),
              recordings() + "/BattDataMonitorRecording_1.txt");
    ASSERT_TRUE(QDir(recordings()).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return !window->recordingLock().recordingBattDataMonitor(); }, 2500ms));
    EXPECT_TRUE(panel->pathLabel->text().startsWith("Recording stopped: "))
        << panel->pathLabel->text().toStdString();
    EXPECT_TRUE(panel->pathLabel->text().contains("BattDataMonitorRecording_1.txt"));
    EXPECT_TRUE(panel->pathLabel->styleSheet().contains("red"));
    EXPECT_EQ(panel->startButton->text(), "Start Recording");
    EXPECT_FALSE(overlay()->isVisible());
    window->tabs()->setCurrentIndex(0);
    EXPECT_EQ(window->tabs()->currentIndex(), 0) << "the strip is free again";

    // A new start recreates the folder and carries on numbering.
    window->tabs()->setCurrentWidget(snifferTab());
    QTest::mouseClick(panel->startButton, Qt::LeftButton);
    EXPECT_TRUE(window->recordingLock().recordingBattDataMonitor());
    EXPECT_TRUE(QFile::exists(recordings() + "/BattDataMonitorRecording_2.txt"));
    EXPECT_EQ(readFile(recordings() + "/recordingBattDataMonitorIDMetadata.txt"), "2");
    QTest::mouseClick(panel->startButton, Qt::LeftButton);
}

TEST_F(TesterTabs, IntervalPresetsAndSelectAll) {
    window->show();
    RecorderPanel* panel = testerTab()->recorder();
    const std::pair<int, int> intervals[] = {{2500, 2000}, {3500, 4000}, {1499, 1000}, {59500, 60000}};
    for (const auto& [typed, kept] : intervals) {
        panel->interval->setValue(typed);
        EXPECT_EQ(panel->interval->value(), kept) << typed;
        EXPECT_EQ(panel->timer->interval(), kept) << typed;
    }
    EXPECT_EQ(panel->preset->currentText(), "Changing values only");
    EXPECT_EQ(panel->checkedColumns(),
              recording::presetColumns(recording::RecordingPreset::ChangingValuesOnly));
    panel->preset->setCurrentIndex(1);
    EXPECT_EQ(panel->checkedColumns(), recording::presetColumns(recording::RecordingPreset::All));
    panel->columnBoxes[5]->setChecked(false); // one by one after a preset
    EXPECT_FALSE(panel->checkedColumns()[5]);
    panel->preset->setCurrentIndex(2);
    EXPECT_EQ(panel->checkedColumns(), recording::ColumnSet{});

    panel->selectAll->setChecked(false);
    EXPECT_FALSE(testerTab()->model()->isSelected(0));
    EXPECT_FALSE(testerTab()->model()->isSelected(255));
    EXPECT_TRUE(snifferTab()->model()->isSelected(0)) << "each tab has its own selection";
    panel->selectAll->setChecked(true);
    EXPECT_TRUE(testerTab()->model()->isSelected(128));
}

TEST_F(TesterTabs, InvalidSetpointCorrectionIsRedAndTheLastValidOneStays) {
    window->show();
    QLineEdit* box = testerTab()->tbSetting;
    EXPECT_EQ(box->text(), "5");
    EXPECT_EQ(box->accessibleName(), "Setpoint correction");
    const auto engineCorrection = [&] {
        int value = 0;
        window->engineHost().runBlocking(
            [&] { value = window->engine()->tester()->poll().settings.setpointCorrection; });
        return value;
    };
    struct Row {
        const char* text;
        bool valid;
        int inUse;
    };
    const Row rows[] = {{"12", true, 12}, {"abc", false, 12}, {"0", false, 12}, {"1001", false, 12},
                        {"", false, 12},  {"7.8", true, 7},   {"-3", false, 7}};
    for (const Row& r : rows) {
        box->setText(QString::fromLatin1(r.text));
        EXPECT_EQ(box->styleSheet().contains("red"), !r.valid) << r.text;
        EXPECT_EQ(testerTab()->setpointCorrection(), r.inUse) << r.text;
        EXPECT_TRUE(waitUntil([&] { return engineCorrection() == r.inUse; })) << r.text;
    }
}

TEST_F(TesterTabs, SnifferFieldsFollowTheEngine) {
    window->show();
    app::SnifferFeature* sniffer = window->engine()->sniffer();
    emit sniffer->reported(
        {{{sniffer::BmsField::SystemVbat, "51.2"}, {sniffer::BmsField::Pid, "00A3"}}, {}, {}});
    EXPECT_EQ(snifferTab()->bmsField(sniffer::BmsField::SystemVbat)->text(), "51.2");
    EXPECT_EQ(snifferTab()->bmsField(sniffer::BmsField::Pid)->text(), "00A3");
    EXPECT_TRUE(snifferTab()->bmsField(sniffer::BmsField::Pid)->isReadOnly());
    EXPECT_EQ(snifferTab()->bmsField(sniffer::BmsField::SystemVbat)->accessibleName(), "System Vbat");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(snifferTab()->bmsField(sniffer::BmsField::SystemVbat))
                  ->text(QAccessible::Value),
              "51.2");
    for (QLabel* label : snifferTab()->findChildren<QLabel*>()) {
        EXPECT_NE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), "BMS info")
            << "a label is never named after its group";
    }
    emit sniffer->infoCleared();
    EXPECT_TRUE(snifferTab()->bmsField(sniffer::BmsField::SystemVbat)->text().isEmpty());
    EXPECT_TRUE(snifferTab()->bmsField(sniffer::BmsField::Pid)->text().isEmpty());
}

// Old values never look live: once the watchdog of the mode runs out the sniffer's fields and
// rows turn grey with their age, and the status bar says how long the bus has been quiet.
TEST_F(TesterTabs, StaleValuesTurnGreyWithTheirAge) {
    window->show();
    app::SnifferFeature* sniffer = window->engine()->sniffer();
    emit sniffer->reported({{{sniffer::BmsField::Pid, "00A3"}}, {}, {}});
    snifferTab()->model()->setTable(twoBalancers());
    QLineEdit* pid = snifferTab()->bmsField(sniffer::BmsField::Pid);
    const QColor live = pid->palette().color(QPalette::Text);

    app::HealthReport report;
    report.mode = bus::Mode::Sniffer;
    report.framesReceived = 40;
    report.msSinceValid = 200;
    emit window->engine()->healthReported(report);
    EXPECT_FALSE(snifferTab()->model()->stale());
    EXPECT_EQ(pid->palette().color(QPalette::Text), live);

    report.msSinceValid = 12400; // the sniffer's watchdog is 3 s
    emit window->engine()->healthReported(report);
    EXPECT_TRUE(snifferTab()->model()->stale());
    EXPECT_EQ(pid->palette().color(QPalette::Text), QColor(Qt::gray));
    EXPECT_EQ(snifferTab()
                  ->model()
                  ->data(snifferTab()->model()->index(0, 2), Qt::ForegroundRole)
                  .value<QBrush>()
                  .color(),
              QColor(Qt::gray));
    EXPECT_EQ(window->statusBar()->ageLabel->text(), "No valid answer for 12 s");
    auto* note = snifferTab()->findChild<app::StaleNote*>();
    ASSERT_NE(note, nullptr);
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().contains("12 s"));

    report.msSinceValid = 100; // traffic again
    report.noAnswerAfter = 6;
    emit window->engine()->healthReported(report);
    EXPECT_FALSE(snifferTab()->model()->stale());
    EXPECT_TRUE(note->isHidden());
    EXPECT_EQ(window->statusBar()->ringLabel->text(), "no answer after balancer 6");
}

TEST_F(TesterTabs, RecordingTimersArePrecise) {
    for (const app::RecorderPanel* panel : {testerTab()->recorder(), snifferTab()->recorder()}) {
        EXPECT_EQ(panel->timer->timerType(), Qt::PreciseTimer) << panel->timer->objectName().toStdString();
    }
}

} // namespace
} // namespace zanst::test

namespace zanst::test {
namespace {

QStringList cellLines(const app::PlotWindow* plots) {
    QStringList names;
    for (QAbstractSeries* series : plots->chart()->series()) {
        if (qobject_cast<QLineSeries*>(series) != nullptr && series->name().startsWith("Cell ")) {
            names << series->name();
        }
    }
    names.sort(); // chart order is the order the lines were added in
    return names;
}

} // namespace

TEST_F(TesterTabs, PlotsDrawOneLinePerSelectedCellOfTheScope) {
    window->show();
    window->tabs()->setCurrentWidget(testerTab());
    const bank::BankSnapshot snapshot = twoBatteries();
    testerTab()->showSnapshot(snapshot);
    app::CellTableModel* model = testerTab()->model();
    for (const int row : {0, 2, 3}) {
        ASSERT_TRUE(model->setData(model->index(row, 0), Qt::Unchecked, Qt::CheckStateRole));
    }
    app::PlotWindow* plots = window->plotWindow();
    plots->addSnapshot(snapshot);
    QTest::mouseClick(window->plotsButton(), Qt::LeftButton);
    ASSERT_TRUE(plots->isVisible());

    EXPECT_EQ(cellLines(plots), QStringList({"Cell 2", "Cell 5", "Cell 6"}));
    EXPECT_EQ(plots->cellSeriesCount(), 3);
    EXPECT_EQ(plots->scope->count(), 3) << "all cells and one entry per battery";
    plots->scope->setCurrentIndex(2);
    EXPECT_EQ(cellLines(plots), QStringList({"Cell 5", "Cell 6"}));

    // A tick in the table reaches the plot at its next redraw.
    ASSERT_TRUE(model->setData(model->index(3, 0), Qt::Checked, Qt::CheckStateRole));
    plots->refresh();
    EXPECT_EQ(cellLines(plots), QStringList({"Cell 4", "Cell 5", "Cell 6"}));
    plots->quantity->setCurrentIndex(static_cast<int>(app::PlotWindow::Quantity::Bank));
    EXPECT_TRUE(cellLines(plots).isEmpty()) << "the bank view has no cell lines";
}

TEST_F(TesterTabs, CsvBesideTheTextRecordingCarriesTheNumbersWithTimeStamps) {
    window->show();
    window->tabs()->setCurrentWidget(testerTab());
    RecorderPanel* panel = testerTab()->recorder();
    testerTab()->showSnapshot(twoBatteries());
    panel->csvBox->setChecked(true);
    QTest::mouseClick(panel->startButton, Qt::LeftButton);
    const QString txt = recordings() + "/Recording_1.txt";
    const QString csv = recordings() + "/Recording_1.csv";
    EXPECT_EQ(panel->pathLabel->text(), "Started Saving to " + txt + " and " + csv);
    EXPECT_FALSE(panel->csvBox->isEnabled());
    QTest::mouseClick(panel->startButton, Qt::LeftButton);
    EXPECT_EQ(panel->pathLabel->text(), "Saved to " + txt + " and " + csv);

    const QStringList lines = readFile(csv).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7) << readFile(csv).toStdString();
    EXPECT_EQ(lines[0], "time,cell,voltage [V],current [A],current range,temperature [degC]");
    const QRegularExpression row(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,1,3\.301,,,25\.5$)");
    EXPECT_TRUE(row.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(lines[6].endsWith(",6,3.306,,,25.5"));
    EXPECT_TRUE(readFile(txt).startsWith(" 1 3.301 - 25.5 2 3.302")) << "the text recording is unchanged";
}

} // namespace zanst::test
