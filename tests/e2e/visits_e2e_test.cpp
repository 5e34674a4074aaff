// A whole service visit through the window (offscreen) against zanst-sim's bank: the port
// opened, the bank polled, a balancer calibrated, the firmware of every balancer updated, the
// metrics fetched, the port closed; then the service report of that visit, whose PDF names every
// battery's serial, the firmware before and after and the calibration values, as the log holds
// them. ZANST_VISITS_E2E_KEEP=DIR keeps the report's PDF there, to look at.

#include "servicelog/service_log.hpp"
#include "shell/main_window.hpp"
#include "shell/wiring.hpp"
#include "support/hex_text.hpp"
#include "support/qt_wait.hpp"
#include "support/sim_process.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/updater_group.hpp"
#include "tabs/visit_panel.hpp"
#include "ui/calibration_grid.hpp"
#include "visits/visit_session.hpp"
#include "windows/report_dialog.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using servicelog::ActionKind;
using servicelog::LogState;

constexpr std::uint32_t kOldVersion = 0x000104FF; // v01.04, as the simulator's balancers start
constexpr std::uint32_t kNewVersion = 0x000203FF; // v02.03

QString lastLine(QListWidget* list) {
    return list->count() > 0 ? list->item(list->count() - 1)->text() : QString();
}

bool anyLine(QListWidget* list, const QString& start) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().startsWith(start)) {
            return true;
        }
    }
    return false;
}

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(VisitsE2E, AVisitAgainstTheSimulatorEndsWithAReportOfWhatWasFoundAndDone) {
    TempDir dir;
    const std::string link = dir / "port";
    SimProcess sim(ZANST_SIM_PATH, {"bank", "--batteries", "2", "--no-noise", "--link", link});
    ASSERT_TRUE(sim.waitForLine(" ready ", 15s)) << sim.transcript();
    const QString logFile = QString::fromStdString(dir / "visits.sqlite");
    const QString hexPath = QString::fromStdString(dir / "balancer.hex");
    {
        std::ofstream hex(hexPath.toStdString());
        hex << hexFile(0x7000, imageBytes(5008, kNewVersion));
    }

    app::diag_form window{app::ServiceMode::On};
    app::VisitSession* session = app::visitSessionOf(window);
    ASSERT_NE(session, nullptr);
    session->openLog(logFile);
    ASSERT_TRUE(waitUntil([&] { return session->logState() == LogState::Ready; }))
        << session->logMessage().toStdString();
    auto* panel = window.connectionTab()->findChild<app::VisitPanel*>();
    ASSERT_NE(panel, nullptr);
    panel->site->setText(QStringLiteral("Simulated depot"));
    panel->technician->setText(QStringLiteral("E2E"));
    emit panel->technician->editingFinished();

    // Open the port and poll the bank.
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(link));
    window.show();
    QComboBox* ports = window.connectionTab()->comboBox1;
    const int index = ports->findText(QString::fromStdString(link));
    ASSERT_GE(index, 0);
    ports->setCurrentIndex(index);
    emit ports->activated(index);
    ASSERT_TRUE(waitUntil([&] { return !session->currentVisit().isEmpty(); }, 15s));
    window.tabs()->setCurrentWidget(window.batteryTesterTab());
    app::VisitRecorder& rec = session->recorder();
    ASSERT_TRUE(waitUntil([&] { return rec.snapshotsTaken() == 1; }, 20s)) << "no start snapshot";

    // Calibrate the first balancer's voltage in test mode.
    app::CalibrationTab* calibration = window.calibrationTab();
    window.tabs()->setCurrentWidget(calibration);
    calibration->calibrationGridView->setCurrentIndex(calibration->model()->index(0, 0));
    ASSERT_TRUE(waitUntil([&] { return calibration->cmdCalVoltage->isEnabled(); }, 20s))
        << "test mode never confirmed";
    calibration->txtVoltageMeas->setText(QStringLiteral("3.350"));
    const int actionsBefore = rec.actionsRecorded();
    QTest::mouseClick(calibration->cmdCalVoltage, Qt::LeftButton);
    ASSERT_TRUE(sim.waitForLine("0x11: balancer 1 voltage to 3350 mV: done", 15s)) << sim.transcript();
    ASSERT_TRUE(waitUntil([&] { return rec.actionsRecorded() > actionsBefore; }, 20s))
        << "calibration not recorded";

    // Update the firmware of every balancer from "Battery tester".
    window.tabs()->setCurrentWidget(window.batteryTesterTab());
    app::UpdaterGroup* updater = window.batteryTesterTab()->updaterGroup;
    updater->forceUpdate->setChecked(true);
    updater->takeFiles({hexPath});
    ASSERT_TRUE(waitUntil(
        [&] { return anyLine(updater->listBox1, QStringLiteral("Firmware updated to v02.03")); }, 60s))
        << lastLine(updater->listBox1).toStdString() << "\n"
        << sim.transcript();
    const int actionsAfterCalibration = rec.actionsRecorded();
    ASSERT_TRUE(waitUntil([&] { return rec.actionsRecorded() > actionsAfterCalibration; }, 70s))
        << "the balancers never came back from their boot loaders";

    // Fetch the metrics.
    app::MetricsTab* metricsTab = window.metricsTab();
    window.tabs()->setCurrentWidget(metricsTab);
    QTest::mouseClick(metricsTab->getAllMetrics, Qt::LeftButton);
    ASSERT_TRUE(
        waitUntil([&] { return anyLine(metricsTab->console, QStringLiteral("Metrics fetch done")); }, 60s))
        << lastLine(metricsTab->console).toStdString();

    // Close the port: the visit ends with its end snapshot.
    window.tabs()->setCurrentWidget(window.connectionTab());
    const QString id = session->currentVisit();
    QTest::mouseClick(window.connectionTab()->cmdDisconnect, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return session->currentVisit().isEmpty(); }, 15s));

    servicelog::ServiceLog log;
    servicelog::Location where;
    where.path = logFile;
    ASSERT_TRUE(log.open(where));
    const auto visit = log.visit(id);
    ASSERT_TRUE(visit);
    EXPECT_EQ(visit->site, "Simulated depot");
    EXPECT_EQ(visit->adapter, "pseudo-terminal");
    EXPECT_EQ(visit->endReason, servicelog::EndReason::Closed);
    ASSERT_GE(visit->snapshots.size(), 2U);
    EXPECT_EQ(visit->snapshots.front().kind, servicelog::SnapshotKind::Start);
    EXPECT_EQ(visit->snapshots.back().kind, servicelog::SnapshotKind::End);
    // Closed from "Metrics", which does not poll: the end snapshot has the cells' last measurement.
    for (const auto& b : visit->snapshots.back().bank.balancers) {
        EXPECT_TRUE(b.millivolts.has_value()) << "balancer " << b.id;
    }
    EXPECT_EQ(visit->balancers.size(), 8U);
    std::set<QString> serials;
    for (const auto& b : visit->balancers) {
        serials.insert(b.serial);
        EXPECT_EQ(b.fwVersion, kNewVersion) << "balancer " << b.balancer;
    }
    EXPECT_EQ(serials.size(), 2U);
    std::optional<servicelog::CalibrationRecord> calibrated;
    std::optional<servicelog::FirmwareRecord> updated;
    int metricsRecords = 0;
    for (const servicelog::ActionRecord& a : visit->actions) {
        if (a.kind == ActionKind::Calibration) {
            calibrated = a.calibration;
        } else if (a.kind == ActionKind::Firmware) {
            updated = a.firmware;
        } else if (a.kind == ActionKind::Metrics) {
            ++metricsRecords;
            EXPECT_TRUE(serials.count(a.metrics->serial) == 1) << a.metrics->serial.toStdString();
            EXPECT_TRUE(QFile::exists(a.metrics->file));
        }
    }
    ASSERT_TRUE(calibrated);
    EXPECT_EQ(calibrated->balancer, 1);
    EXPECT_EQ(calibrated->input, 3350);
    ASSERT_TRUE(calibrated->before && calibrated->after);
    EXPECT_NE(calibrated->before->vGain, calibrated->after->vGain);
    EXPECT_EQ(calibrated->outcome, servicelog::Outcome::Succeeded);
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->imageVersion, kNewVersion);
    EXPECT_TRUE(updated->forced);
    ASSERT_EQ(updated->balancers.size(), 8U);
    for (const auto& b : updated->balancers) {
        EXPECT_EQ(b.fromVersion, kOldVersion);
        EXPECT_EQ(b.toVersion.value_or(0), kNewVersion);
        EXPECT_EQ(b.outcome, servicelog::Outcome::Succeeded) << "balancer " << b.balancer;
    }
    EXPECT_EQ(metricsRecords, 2) << "one record per battery";

    // The report of the visit just ended.
    QTest::mouseClick(panel->report, Qt::LeftButton);
    auto* dialog = window.findChild<app::ReportDialog*>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(waitUntil([&] { return dialog->hasVisit(); }));
    EXPECT_EQ(dialog->visitId(), id);
    const QString pdf = QString::fromStdString(dir / "report.pdf");
    dialog->choosePath = [&](QWidget*, const QString&, app::ReportDialog::Format) { return pdf; };
    QTest::mouseClick(dialog->writePdf, Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(pdf)) << dialog->status->text().toStdString();
    if (const QByteArray keep = qgetenv("ZANST_VISITS_E2E_KEEP"); !keep.isEmpty()) {
        const QString copy = QDir(QString::fromLocal8Bit(keep)).filePath(QStringLiteral("visit-report.pdf"));
        QFile::remove(copy);
        QFile::copy(pdf, copy);
    }
    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    for (const QString& serial : serials) {
        EXPECT_TRUE(text.contains(serial)) << serial.toStdString();
    }
    EXPECT_TRUE(text.contains(QStringLiteral("v01.04"))) << "the firmware before";
    EXPECT_TRUE(text.contains(QStringLiteral("v02.03"))) << "the firmware after";
    const auto gains = [](const servicelog::CalibrationValues& v) {
        return QStringLiteral("%1 / %2 / %3").arg(v.vGain).arg(v.iGain).arg(v.iOffset);
    };
    EXPECT_TRUE(text.contains(gains(*calibrated->before))) << gains(*calibrated->before).toStdString();
    EXPECT_TRUE(text.contains(gains(*calibrated->after))) << gains(*calibrated->after).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Simulated depot")));
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+[123]\\n"))))
        << info.toStdString();
    qunsetenv("ZANST_EXTRA_PORTS");
}

} // namespace
} // namespace zanst::test
