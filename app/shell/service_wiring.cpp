#include "engine/bank_feed.hpp"
#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "shell/mode_pages.hpp"
#include "shell/wiring.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/gain_group.hpp"
#include "tabs/updater_group.hpp"

namespace zanst::app {

namespace {

// A command to the balancers goes out after any mode step pending when it was given, as it did
// behind the blocking pause of a tab change.
template <typename Fn> void command(ServiceFeature* service, ModeSwitch* modes, Fn fn) {
    post(modes, [service, fn](ModeSwitch& m) { m.afterModeSteps([service, fn] { fn(*service); }); });
}

} // namespace

void connectServiceTools(BusEngine& engine, const ModePages& pages) {
    ServiceFeature* service = engine.service();
    ModeSwitch* modes = engine.modes();
    auto* calibration = pages.get<CalibrationTab>(bus::Mode::Calibration);
    auto* tester = pages.get<BatteryTesterTab>(bus::Mode::BatteryTester);
    auto* actions = pages.get<ActionsTab>(bus::Mode::Actions);
    UpdaterGroup* updater = tester->updaterGroup;
    GainGroup* gain = tester->gainGroup;

    // Calibration: the buttons follow every test-mode check (connectBank), and turn off again when
    // the tab's mode step asks for test mode anew.
    QObject::connect(engine.modes(), &ModeSwitch::calibrationEntered, calibration,
                     &CalibrationTab::showTestModeUnconfirmed);
    QObject::connect(calibration, &CalibrationTab::calibrateRequested, calibration,
                     [service, modes](int row, service::CalibrationKind kind, quint16 value) {
                         command(service, modes, [=](ServiceFeature& s) { s.calibrate(row, kind, value); });
                     });
    QObject::connect(calibration, &CalibrationTab::saveCalibrationRequested, calibration,
                     [service, modes](int row) {
                         command(service, modes, [row](ServiceFeature& s) { s.saveCalibration(row); });
                     });
    QObject::connect(calibration, &CalibrationTab::parametersRequested, calibration,
                     [service, modes](const service::BatteryParameters& parameters) {
                         command(service, modes,
                                 [parameters](ServiceFeature& s) { s.setBatteryParameters(parameters); });
                     });
    const auto runAction = [service, modes](service::ServiceAction action) {
        command(service, modes, [action](ServiceFeature& s) { s.runAction(action); });
    };
    QObject::connect(calibration, &CalibrationTab::actionRequested, calibration, runAction);
    QObject::connect(actions, &ActionsTab::actionRequested, actions, runAction);

    QObject::connect(gain, &GainGroup::adjustRequested, gain,
                     [service, modes](int row, service::GainOperation operation) {
                         command(service, modes, [=](ServiceFeature& s) { s.adjustCurrent(row, operation); });
                     });

    // Updater: files are read on the window's thread, the update runs on the engine's, its log
    // comes back.
    QObject::connect(updater, &UpdaterGroup::firmwareRead, updater,
                     [service, modes](const service::HexReadResult& r) {
                         command(service, modes, [r](ServiceFeature& s) { s.fileRead(r); });
                     });
    QObject::connect(updater, &UpdaterGroup::forceUpdateChanged, updater, [service](bool force) {
        post(service, [force](ServiceFeature& s) { s.setForceUpdate(force); });
    });
    QObject::connect(service, &ServiceFeature::updaterReported, updater, &UpdaterGroup::showUpdaterReport);
}

} // namespace zanst::app
