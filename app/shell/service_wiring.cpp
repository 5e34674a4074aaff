#include "shell/service_wiring.hpp"

#include "engine/post.hpp"
#include "shell/main_window.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/gain_group.hpp"
#include "tabs/updater_group.hpp"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QTabWidget>
#include <QTableView>

namespace zanst::app {

void connectServiceTools(diag_form& window) {
    BusEngine* bus = window.engine();
    ServiceFeature* service = bus->service();
    CalibrationTab* calibration = window.calibrationTab();
    BatteryTesterTab* tester = window.batteryTesterTab();
    UpdaterGroup* updater = tester->updaterGroup;
    GainGroup* gain = tester->gainGroup;

    // Calibration: the table follows every refresh, the buttons every test-mode check.
    QObject::connect(bus->tester(), &TesterFeature::snapshotTaken, calibration,
                     &CalibrationTab::showSnapshot);
    QObject::connect(bus->sniffer(), &SnifferFeature::snapshotTaken, calibration,
                     &CalibrationTab::showSnapshot);
    QObject::connect(bus->tester(), &TesterFeature::testModeChecked, calibration,
                     &CalibrationTab::showTestMode);
    QObject::connect(bus, &BusEngine::calibrationEntered, calibration,
                     &CalibrationTab::showTestModeUnconfirmed);
    // Leaving the tab leaves test mode: nothing stays enabled for the next visit's first moments.
    QObject::connect(window.tabs(), &QTabWidget::currentChanged, calibration,
                     [calibration, &window](int index) {
                         if (window.tabs()->widget(index) != calibration) {
                             calibration->showTestModeUnconfirmed();
                         }
                     });
    QObject::connect(calibration, &CalibrationTab::calibrateRequested, calibration,
                     [service](int row, service::CalibrationKind kind, quint16 value) {
                         post(service, [=](ServiceFeature& s) { s.calibrate(row, kind, value); });
                     });
    QObject::connect(calibration, &CalibrationTab::saveCalibrationRequested, calibration, [service](int row) {
        post(service, [row](ServiceFeature& s) { s.saveCalibration(row); });
    });
    QObject::connect(calibration, &CalibrationTab::parametersRequested, calibration,
                     [service](const service::BatteryParameters& parameters) {
                         post(service,
                              [parameters](ServiceFeature& s) { s.setBatteryParameters(parameters); });
                     });
    const auto runAction = [service](service::ServiceAction action) {
        post(service, [action](ServiceFeature& s) { s.runAction(action); });
    };
    QObject::connect(calibration, &CalibrationTab::actionRequested, calibration, runAction);
    QObject::connect(window.actionsTab(), &ActionsTab::actionRequested, window.actionsTab(), runAction);

    // Gain: the battery of the tester table's current row.
    QObject::connect(
        tester->batteryTesterGridView->selectionModel(), &QItemSelectionModel::currentChanged, gain,
        [gain](const QModelIndex& current) { gain->setTargetRow(current.isValid() ? current.row() : -1); });
    QObject::connect(gain, &GainGroup::adjustRequested, gain,
                     [service](int row, service::GainOperation operation) {
                         post(service, [=](ServiceFeature& s) { s.adjustCurrent(row, operation); });
                     });

    // Updater: files are read here, the update runs on the engine's thread, its log comes back.
    QObject::connect(updater, &UpdaterGroup::firmwareRead, updater,
                     [service](const service::HexReadResult& r) {
                         post(service, [r](ServiceFeature& s) { s.fileRead(r); });
                     });
    QObject::connect(updater->forceUpdate, &QCheckBox::toggled, updater, [service](bool force) {
        post(service, [force](ServiceFeature& s) { s.setForceUpdate(force); });
    });
    QObject::connect(service, &ServiceFeature::updaterLogged, updater->listBox1, &UpdaterLog::updaterLog);
}

} // namespace zanst::app
