// The service tools offscreen: service mode, the calibration tab's inputs and buttons, the
// updater's log and drop target, the window's wiring down to the bytes on the port, and the
// program's command line.

#include "shell/main_window.hpp"
#include "support/hex_text.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/gain_group.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "tabs/updater_group.hpp"
#include "ui/calibration_grid.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::CalibrationTab;
using app::diag_form;
using app::ServiceMode;

// Where a widget sits below its tab page: the child indices on the way down.
std::vector<int> pathBelow(const QWidget* page, const QWidget* w) {
    std::vector<int> path;
    for (const QObject* o = w; o != page && o->parent() != nullptr; o = o->parent()) {
        path.insert(path.begin(), static_cast<int>(o->parent()->children().indexOf(const_cast<QObject*>(o))));
    }
    return path;
}

// The controls code has hidden on each of the seven pages (not those merely never shown).
std::set<std::pair<int, std::vector<int>>> hiddenControls(diag_form& window) {
    const std::vector<QWidget*> pages{
        window.connectionTab(), window.actionsTab(), window.calibrationTab(), window.batteryTesterTab(),
        window.bmsTesterTab(),  window.snifferTab(), window.metricsTab()};
    std::set<std::pair<int, std::vector<int>>> hidden;
    for (int p = 0; p < static_cast<int>(pages.size()); ++p) {
        for (QWidget* w : pages[static_cast<std::size_t>(p)]->findChildren<QWidget*>()) {
            if (w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->isHidden()) {
                hidden.insert({p, pathBelow(pages[static_cast<std::size_t>(p)], w)});
            }
        }
    }
    return hidden;
}

QStringList captions(const QTabWidget* tabs) {
    QStringList out;
    for (int i = 0; i < tabs->count(); ++i) {
        out << tabs->tabText(i);
    }
    return out;
}

TEST(ServiceMode, ShowsAllSevenTabsAndHidesNothingTheHidingStepWouldHide) {
    diag_form service(ServiceMode::On);
    diag_form normal(ServiceMode::Off);
    service.show();
    normal.show();
    EXPECT_EQ(captions(service.tabs()), (QStringList{"Connection", "Actions", "Calibration", "Battery tester",
                                                     "BMS tester", "Data Sniffer", "Metrics"}));
    EXPECT_EQ(captions(normal.tabs()),
              (QStringList{"Connection", "Battery tester", "BMS tester", "Data Sniffer"}));

    const auto hiddenInService = hiddenControls(service);
    const auto hiddenNormally = hiddenControls(normal);
    for (const auto& h : hiddenInService) {
        EXPECT_TRUE(hiddenNormally.count(h) == 1) << "page " << h.first << ": hidden only in service mode";
    }
    EXPECT_GT(hiddenNormally.size(), hiddenInService.size() + 20);
    app::BatteryTesterTab* tester = service.batteryTesterTab();
    for (QWidget* w : std::initializer_list<QWidget*>{
             tester->updaterGroup, tester->gainGroup, tester->updaterGroup->listBox1,
             tester->updaterGroup->forceUpdate, tester->updaterGroup->openHexFile, tester->bankValues,
             tester->tbSetting, tester->StopSendingMeasurementRequest}) {
        EXPECT_FALSE(w->isHidden()) << w->objectName().toStdString();
    }
}

// The calibration tab on its own, with two balancers known: the first measures current.
class CalibrationTabTest : public testing::Test {
  protected:
    void SetUp() override {
        bank::BankSnapshot snapshot;
        snapshot.balancers.resize(2);
        snapshot.balancers[0].infoFlags = 0x01;
        snapshot.balancers[0].statusFlags = 0x80;
        snapshot.balancers[1].statusFlags = 0x80;
        tab.showSnapshot(snapshot);
        tab.showTestMode(true);
        tab.show();
    }
    void selectRow(int row) {
        tab.calibrationGridView->setCurrentIndex(row < 0 ? QModelIndex() : tab.model()->index(row, 0));
    }
    static bool red(const QWidget* w) { return w->styleSheet().contains(QStringLiteral("red")); }

    CalibrationTab tab;
    QSignalSpy calibrations{&tab, &CalibrationTab::calibrateRequested};
    QSignalSpy parameters{&tab, &CalibrationTab::parametersRequested};
};

struct CalibrateCase {
    QLineEdit* CalibrationTab::*box;
    QPushButton* CalibrationTab::*button;
    const char* typed;
    const char* shown;
    bool red;
    int sent; // -1: nothing
};

TEST_F(CalibrationTabTest, CalibrateInputsAreRefusedInRedOrSent) {
    const CalibrateCase cases[] = {
        {&CalibrationTab::txtVoltageMeas, &CalibrationTab::cmdCalVoltage, "", "measured voltage", true, -1},
        {&CalibrationTab::txtVoltageMeas, &CalibrationTab::cmdCalVoltage, "3.3.3", "3.3.3", true, -1},
        {&CalibrationTab::txtVoltageMeas, &CalibrationTab::cmdCalVoltage, "66", "66", true, -1},
        {&CalibrationTab::txtVoltageMeas, &CalibrationTab::cmdCalVoltage, "3.3V", "3.3V", true, -1},
        {&CalibrationTab::txtVoltageMeas, &CalibrationTab::cmdCalVoltage, "3,2999", "3,2999", false, 3299},
        {&CalibrationTab::txtCurrentHighMeas, &CalibrationTab::cmdCalHighCurrent, "", "measured current",
         true, -1},
        {&CalibrationTab::txtCurrentHighMeas, &CalibrationTab::cmdCalHighCurrent, "12.", "12.", true, -1},
        {&CalibrationTab::txtCurrentHighMeas, &CalibrationTab::cmdCalHighCurrent, "-1", "-1", true, -1},
        {&CalibrationTab::txtCurrentHighMeas, &CalibrationTab::cmdCalHighCurrent, "25.57", "25.57", false,
         255},
    };
    for (const CalibrateCase& c : cases) {
        SCOPED_TRACE(std::string("typed '") + c.typed + "'");
        calibrations.clear();
        QLineEdit* box = tab.*(c.box);
        box->setText(QString::fromUtf8(c.typed));
        (tab.*(c.button))->click();
        EXPECT_EQ(box->text().toStdString(), c.shown);
        EXPECT_EQ(red(box), c.red);
        if (c.sent < 0) {
            EXPECT_EQ(calibrations.count(), 0);
        } else {
            ASSERT_EQ(calibrations.count(), 1);
            EXPECT_EQ(calibrations[0][0].toInt(), 0);
            EXPECT_EQ(calibrations[0][2].value<quint16>(), c.sent);
        }
    }
}

struct ParametersCase {
    const char* serial;
    const char* capacity;
    const char* productId;
    const char* serialShown;
    const char* capacityShown;
    const char* productIdShown;
    const char* redBoxes; // s, c, p
    bool sent;
};

TEST_F(CalibrationTabTest, BatteryParametersAreRefusedInRedOrSent) {
    const ParametersCase cases[] = {
        {"ABC", "100", "A0C8", "invalid format", "100", "A0C8", "s", false},
        {"SÉR12345678", "100", "A0C8", "invalid format", "100", "A0C8", "s", false},
        {"SER12345678", "", "A0C8", "SER12345678", "", "A0C8", "c", false},
        {"SER12345678", "1e3", "A0C8", "SER12345678", "1e3", "A0C8", "c", false},
        {"SER12345678", "2000", "A0C", "SER12345678", "1000", "invalid length", "p", false},
        {"SER12345678", "150", "XYZW", "SER12345678", "150", "invalid", "p", false},
        {"SER12345678", "2000", "a0c8", "SER12345678", "1000", "a0c8", "", true},
    };
    for (const ParametersCase& c : cases) {
        SCOPED_TRACE(std::string(c.serial) + " / " + c.capacity + " / " + c.productId);
        parameters.clear();
        for (QLineEdit* box : {tab.tbSerial, tab.tbCapacity, tab.tbProdID}) {
            box->setStyleSheet(QString());
        }
        tab.tbSerial->setText(QString::fromUtf8(c.serial));
        tab.tbCapacity->setText(QString::fromUtf8(c.capacity));
        tab.tbProdID->setText(QString::fromUtf8(c.productId));
        tab.buttonSetParams->click();
        // A prompt shows whole, even where it is longer than what can be typed into the box.
        EXPECT_EQ(tab.tbSerial->text().toStdString(), c.serialShown);
        EXPECT_EQ(tab.tbCapacity->text().toStdString(), c.capacityShown);
        EXPECT_EQ(tab.tbProdID->text().toStdString(), c.productIdShown);
        const std::string redBoxes = c.redBoxes;
        EXPECT_EQ(red(tab.tbSerial), redBoxes.find('s') != std::string::npos);
        EXPECT_EQ(red(tab.tbCapacity), redBoxes.find('c') != std::string::npos);
        EXPECT_EQ(red(tab.tbProdID), redBoxes.find('p') != std::string::npos);
        ASSERT_EQ(parameters.count(), c.sent ? 1 : 0);
        if (c.sent) {
            const auto p = parameters[0][0].value<service::BatteryParameters>();
            EXPECT_EQ(p.serial, "SER12345678");
            EXPECT_EQ(p.capacity, 1000);
            EXPECT_EQ(p.productId, 0xA0C8);
        }
    }
    // Typing is limited again once the prompt is edited down.
    tab.tbSerial->setText(QString());
    EXPECT_EQ(tab.tbSerial->text(), QString());
    tab.buttonSetParams->click();
    EXPECT_EQ(tab.tbSerial->text(), QStringLiteral("invalid format"));
    tab.tbSerial->selectAll();
    QTest::keyClicks(tab.tbSerial, QStringLiteral("ABCDEFGHIJKLMNOP"));
    EXPECT_EQ(tab.tbSerial->text(), QStringLiteral("ABCDEFGHIJK"));
}

TEST_F(CalibrationTabTest, ButtonsFollowTestModeAndTheSelectedBalancer) {
    struct State {
        bool testMode;
        int row;
        bool voltage, offsetAndGain, save, parameters;
    };
    const State states[] = {
        {true, 0, true, true, true, true},      // in test mode, a balancer with a current sensor
        {true, 1, true, false, true, true},     // no current sensor
        {true, 255, false, false, false, true}, // its address would wrap to 0
        {true, -1, false, false, false, true},  // no current row
        {false, 0, false, false, true, false},
    };
    for (const State& s : states) {
        SCOPED_TRACE("test mode " + std::to_string(s.testMode) + ", row " + std::to_string(s.row));
        tab.showTestMode(s.testMode);
        selectRow(s.row);
        EXPECT_EQ(tab.selectedCellId(), s.row);
        EXPECT_EQ(tab.cmdCalVoltage->isEnabled(), s.voltage);
        EXPECT_EQ(tab.cmdCalOffset->isEnabled(), s.offsetAndGain);
        EXPECT_EQ(tab.cmdCalHighCurrent->isEnabled(), s.offsetAndGain);
        EXPECT_EQ(tab.cmdSaveCal->isEnabled(), s.save);
        EXPECT_EQ(tab.buttonSetParams->isEnabled(), s.parameters);
        const QString label = s.testMode ? "Test mode: enabled" : "Test mode: disabled";
        EXPECT_EQ(tab.label3->text(), label);
        EXPECT_EQ(tab.label3->accessibleName(), label);
        EXPECT_TRUE(tab.label3->styleSheet().contains(s.testMode ? "black" : "red"));
    }
    tab.showTestModeUnconfirmed();
    EXPECT_FALSE(tab.cmdCalVoltage->isEnabled());
    EXPECT_FALSE(tab.buttonSetParams->isEnabled());
}

// The bus falls silent: the tick empties the tables. The label and every button must then say the
// same thing: no balancer is in test mode, nothing can be calibrated, set or saved.
TEST_F(CalibrationTabTest, ASilentBusLeavesNothingEnabledUnderAnEnabledLabel) {
    selectRow(0);
    ASSERT_TRUE(tab.cmdCalVoltage->isEnabled());
    tab.showSnapshot(bank::BankSnapshot{});
    EXPECT_EQ(tab.label3->text(), "Test mode: disabled");
    EXPECT_TRUE(red(tab.label3));
    for (const QPushButton* button :
         {tab.cmdCalVoltage, tab.cmdCalOffset, tab.cmdCalHighCurrent, tab.cmdSaveCal, tab.buttonSetParams}) {
        EXPECT_FALSE(button->isEnabled()) << button->text().toStdString();
    }
    // A row past the balancers known holds none: no button for one balancer acts on it.
    bank::BankSnapshot two;
    two.balancers.resize(2);
    two.balancers[0].statusFlags = 0x80;
    two.balancers[1].statusFlags = 0x80;
    tab.showSnapshot(two);
    tab.showTestMode(true);
    selectRow(5);
    EXPECT_FALSE(tab.cmdCalVoltage->isEnabled());
    EXPECT_FALSE(tab.cmdSaveCal->isEnabled());
    EXPECT_TRUE(tab.buttonSetParams->isEnabled());
}

TEST(CalibrationTable, ElevenColumnsAndAVoltageKeptWhileTheBalancerHasNoMeasurement) {
    app::CalibrationTableModel model;
    EXPECT_EQ(model.rowCount(), 256);
    EXPECT_EQ(model.columnCount(), 11);
    bank::BankSnapshot snapshot;
    snapshot.balancers.resize(3);
    snapshot.balancers[0].millivolts = 3301;
    model.setSnapshot(snapshot);
    const QString shown = model.text(0, 1);
    EXPECT_TRUE(shown == "3.301" || shown == "3,301") << shown.toStdString();
    snapshot.balancers[0].millivolts.reset();
    model.setSnapshot(snapshot);
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(), shown) << "kept";
    // Fewer balancers: the rows they leave are empty.
    snapshot.balancers.resize(1);
    model.setSnapshot(snapshot);
    EXPECT_EQ(model.text(2, 0), QString());
    EXPECT_EQ(model.text(0, 0), QStringLiteral("0"));
}

TEST(UpdaterLog, NewLinesReplacedLinesAndTheLastLineInView) {
    app::UpdaterLog log;
    log.updaterLog("Start BootLoaders", true);
    log.updaterLog("Start Update...", true);
    log.updaterLog("Start Update...50%", false);
    ASSERT_EQ(log.count(), 2);
    EXPECT_EQ(log.item(1)->text(), QStringLiteral("Start Update...50%"));
    EXPECT_EQ(log.item(1)->data(Qt::AccessibleTextRole).toString(), QStringLiteral("Start Update...50%"));
    EXPECT_EQ(log.currentRow(), 1);
}

class UpdaterGroupTest : public testing::Test {
  protected:
    QString write(const QString& name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    static QMimeData* files(const QStringList& paths) {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const auto& p : paths) {
            urls << QUrl::fromLocalFile(p);
        }
        mime->setUrls(urls);
        return mime;
    }

    QTemporaryDir dir;
    app::UpdaterGroup group;
    QSignalSpy read{&group, &app::UpdaterGroup::firmwareRead};
};

TEST_F(UpdaterGroupTest, DraggedFilesAreCopiedAndEveryDroppedFileIsReadInTurn) {
    const QString good =
        write("fw.hex", QByteArray::fromStdString(hexFile(0x7000, imageBytes(4096, 0x000105FF))));
    const QString upper = write("fw.HEX", "");
    group.show();
    QWidget* target = group.listBox1->viewport();
    const QPoint at = target->rect().center();

    std::unique_ptr<QMimeData> text(new QMimeData);
    text->setText("not a file");
    QDragEnterEvent refusedDrag(at, Qt::CopyAction | Qt::MoveAction, text.get(), Qt::LeftButton,
                                Qt::NoModifier);
    QCoreApplication::sendEvent(target, &refusedDrag);
    EXPECT_FALSE(refusedDrag.isAccepted());

    std::unique_ptr<QMimeData> mime(files({good, upper}));
    QDragEnterEvent drag(at, Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drag);
    EXPECT_TRUE(drag.isAccepted());
    EXPECT_EQ(drag.dropAction(), Qt::CopyAction);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    ASSERT_EQ(read.count(), 2);
    const auto first = read[0][0].value<service::HexReadResult>();
    ASSERT_TRUE(first.image.has_value());
    EXPECT_EQ(first.log.back(), "Version: v01.05");
    const auto second = read[1][0].value<service::HexReadResult>();
    EXPECT_EQ(second.log, std::vector<std::string>{"Invalid update file"});
}

TEST_F(UpdaterGroupTest, AFileThatCannotBeReadOrIsTooLargeIsRefusedInTheLog) {
    const QString missing = dir.filePath("missing.hex");
    const QString large = write("large.hex", QByteArray(app::kMaxFirmwareFileBytes + 1, ':'));
    for (const auto& [path, reason] : {std::pair{missing, std::string("Cannot read the file: ")},
                                       std::pair{large, std::string("File too large: ")}}) {
        const service::HexReadResult r = app::readFirmwareFile(path);
        EXPECT_FALSE(r.image.has_value());
        ASSERT_EQ(r.log.size(), 5U);
        EXPECT_EQ(r.log[2], "File:" + path.toStdString());
        EXPECT_EQ(r.log[3].substr(0, reason.size()), reason) << r.log[3];
        EXPECT_EQ(r.log[4], "Invalid update file");
    }
}

// The window with a pseudo-terminal as its port: the buttons' bytes reach the line.
class ServiceWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(pty.slavePath()));
        window.show();
        QComboBox* combo = window.connectionTab()->comboBox1;
        const int index = combo->findText(QString::fromStdString(pty.slavePath()));
        ASSERT_GE(index, 0);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        ASSERT_TRUE(waitUntil(
            [&] { return window.windowTitle().endsWith(QString::fromStdString(pty.slavePath())); }));
    }
    void TearDown() override { qunsetenv("ZANST_EXTRA_PORTS"); }

    Pty pty;
    diag_form window{ServiceMode::On};
};

TEST_F(ServiceWindowTest, GarbageWritesTheWakeUpBytesAndTwentyThousandBytes) {
    window.actionsTab()->garbage->click();
    const bus::Bytes out = pty.read(10 + 20000, 5000ms);
    ASSERT_EQ(out.size(), 20010U);
    EXPECT_EQ(bus::Bytes(out.begin(), out.begin() + 10), bus::Bytes(10, 0));
    EXPECT_EQ(out[10], 0xAA);
    EXPECT_EQ(out[11], 0x20);
    EXPECT_EQ(out[13], 0x10);
    EXPECT_EQ(out[10 + 21], 0xCC);
    EXPECT_TRUE(pty.readFor(300ms).empty()) << "nothing more";
}

TEST_F(ServiceWindowTest, AChosenFileStartsTheUpdateAndItsLogComesBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("fw.hex");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString(hexFile(0x7000, imageBytes(2048, 0x000105FF))));
    f.close();
    app::UpdaterGroup* updater = window.batteryTesterTab()->updaterGroup;
    updater->takeFiles({path});
    // The start of the boot loaders goes out at the first update tick: wake-up bytes, then 0x20.
    const bus::Bytes out = pty.read(10 + 22, 3000ms);
    ASSERT_EQ(out.size(), 32U);
    EXPECT_EQ(out[10], 0xAA);
    EXPECT_EQ(out[11], 0x20);
    app::UpdaterLog* log = updater->listBox1;
    ASSERT_TRUE(waitUntil([&] { return log->count() == 6; }));
    EXPECT_EQ(log->item(3)->text(), QStringLiteral("Image size: 2048 bytes"));
    EXPECT_EQ(log->item(5)->text(), QStringLiteral("Start BootLoaders"));
    EXPECT_EQ(log->currentRow(), 5);
}

TEST_F(ServiceWindowTest, GainButtonsActOnTheTesterTablesCurrentRowOnly) {
    app::BatteryTesterTab* tester = window.batteryTesterTab();
    app::GainGroup* gain = tester->gainGroup;
    EXPECT_FALSE(gain->zeroCurrent->isEnabled()) << "no current row yet";
    tester->batteryTesterGridView->setCurrentIndex(tester->batteryTesterGridView->model()->index(255, 1));
    EXPECT_FALSE(gain->incGain->isEnabled());
    tester->batteryTesterGridView->setCurrentIndex(tester->batteryTesterGridView->model()->index(0, 1));
    ASSERT_TRUE(gain->incGain->isEnabled());
    gain->incGain->click();
    const bus::Bytes out = pty.read(10 + 26, 3000ms);
    ASSERT_EQ(out.size(), 36U);
    EXPECT_EQ(out[11], 0x30);
    EXPECT_EQ(out[10 + 8], 5);  // increase
    EXPECT_EQ(out[10 + 10], 2); // step
}

struct ToolRun {
    int exitCode;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display at all: --help and --version must not need one, and nothing else may start.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZANST_APP_PATH), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST(CommandLine, HelpVersionAndRefusalsWithoutADisplay) {
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith("Usage: zanst [options]")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--service")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--version"));

    const ToolRun version = runTool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.trimmed(), "zanst " ZANST_VERSION " (" + diag_form::buildDate() + ")");

    for (const QStringList& args :
         {QStringList{"--bogus"}, QStringList{"--service", "extra"}, QStringList{"-x"}}) {
        const ToolRun refused = runTool(args);
        EXPECT_EQ(refused.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(refused.err.contains("Usage: zanst [options]")) << refused.err.toStdString();
        EXPECT_TRUE(refused.out.isEmpty()) << "no start-up lines: " << refused.out.toStdString();
    }
    EXPECT_TRUE(runTool({"--bogus"}).err.startsWith("zanst: Unknown option 'bogus'."));
}

} // namespace
} // namespace zanst::test
