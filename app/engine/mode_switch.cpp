#include "engine/mode_switch.hpp"

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/senders.hpp"
#include "engine/capture_feature.hpp"
#include "engine/metrics_feature.hpp"
#include "engine/port_control.hpp"
#include "engine/sniffer_feature.hpp"
#include "engine/tester_feature.hpp"

#include <algorithm>

namespace zanst::app {

ModeSwitch::ModeSwitch(const Parts& parts, QObject* parent)
    : QObject(parent), parts_(parts), modeStepTimer_(this) {
    clock_.start();
    modeStepTimer_.setSingleShot(true);
    modeStepTimer_.setTimerType(Qt::PreciseTimer);
    connect(&modeStepTimer_, &QTimer::timeout, this, &ModeSwitch::runModeStep);
}

void ModeSwitch::selectMode(bus::Mode selected) {
    const bus::ModeRules* rules = bus::rulesOf(selected);
    if (rules == nullptr || vetoed_) {
        return;
    }
    bus::BusState& state = parts_.state;
    ++selections_;
    parts_.metrics.cancel(QStringLiteral("Metrics fetch stopped: another tab was selected"));
    state.selectedMode = selected;
    parts_.capture.modeSelected(selected);
    state.health = bus::BusHealth{}; // each mode counts from its start
    emit modeSelected(selected);
    state.bInBootloaderMode = false;
    state.bBatteryMode = rules->emulates;
    state.bSniffer = rules->sniffs;
    parts_.tester.stopPolling();
    if (rules->emulates || rules->sniffs) {
        state.bTestMode = false;
    }
    if (rules->step == bus::ModeStep::EnterTestMode || rules->clearsTables) {
        state.balancersInfo = false;
    }
    if (rules->clearsTables) {
        state.tables.clearData();
        state.frameReceiving = false;
        state.numCells = 0;
        parts_.sniffer.clearInfo();
    }
    if (rules->step != bus::ModeStep::None) {
        modeSteps_.push_back({selected, selections_, parts_.ports.source().isOpen(), clock_.elapsed()});
        scheduleModeStep();
    }
    parts_.ports.resumeReplay(); // a replay held at its mode record goes on in the mode now selected
}

void ModeSwitch::scheduleModeStep() {
    if (modeSteps_.empty() || modeStepTimer_.isActive()) {
        return;
    }
    const qint64 due = std::max(modeSteps_.front().selectedAtMs, lastStepAtMs_) + kSettleMs;
    modeStepTimer_.start(static_cast<int>(std::max<qint64>(0, due - clock_.elapsed())));
}

void ModeSwitch::runModeStep() {
    if (modeSteps_.empty()) {
        return;
    }
    const ModeStep step = modeSteps_.front();
    modeSteps_.pop_front();
    lastStepAtMs_ = clock_.elapsed();
    const bus::ModeRules& rules = *bus::rulesOf(step.mode);
    const bool entersTestMode = rules.step == bus::ModeStep::EnterTestMode;
    if (step.portWasOpen) {
        const bus::Bytes frame = bus::buildTestModeFrame(entersTestMode ? bus::identity::kWordEnterTest
                                                                        : bus::identity::kWordLeaveTest);
        bus::sendHexBmsCmd(parts_.port, parts_.state.frameReceiving, frame);
    }
    // The mode itself follows only the latest selection: an older step sends its frame and no more.
    if (step.selection == selections_) {
        parts_.state.bTestMode = entersTestMode;
        // "Get All Metrics" pressed meanwhile came after this step, as it would behind a blocking
        // pause, and keeps the poll timer stopped.
        if (step.selection != pollingStoppedIn_) {
            parts_.tester.startPolling(rules.pollPeriodMs);
            if (entersTestMode) {
                emit calibrationEntered();
            }
        }
    }
    scheduleModeStep();
}

void ModeSwitch::getAllMetrics() {
    parts_.tester.stopPolling();
    pollingStoppedIn_ = selections_;
    parts_.metrics.requestAllMetrics();
}

void ModeSwitch::shutdown() {
    modeStepTimer_.stop();
    modeSteps_.clear();
}

} // namespace zanst::app
