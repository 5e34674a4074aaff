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

namespace {
const QString kFetchStoppedLine = QStringLiteral("Metrics fetch stopped: another tab was selected");
}

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
    parts_.metrics.cancel(kFetchStoppedLine);
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
        pending_.emplace_back(
            ModeStep{selected, selections_, parts_.ports.source().isOpen(), clock_.elapsed()});
        scheduleModeStep();
    }
    parts_.ports.resumeReplay(); // a replay held at its mode record goes on in the mode now selected
}

void ModeSwitch::afterModeSteps(std::function<void()> command) {
    if (pending_.empty()) {
        command();
        return;
    }
    pending_.emplace_back(std::move(command));
}

void ModeSwitch::scheduleModeStep() {
    while (!pending_.empty() && std::holds_alternative<std::function<void()>>(pending_.front())) {
        const std::function<void()> command = std::move(std::get<std::function<void()>>(pending_.front()));
        pending_.pop_front();
        command();
    }
    if (pending_.empty() || modeStepTimer_.isActive()) {
        return;
    }
    const qint64 due = std::max(std::get<ModeStep>(pending_.front()).selectedAtMs, lastStepAtMs_) + kSettleMs;
    modeStepTimer_.start(static_cast<int>(std::max<qint64>(0, due - clock_.elapsed())));
}

void ModeSwitch::runModeStep() {
    if (pending_.empty() || !std::holds_alternative<ModeStep>(pending_.front())) {
        return;
    }
    const ModeStep step = std::get<ModeStep>(pending_.front());
    pending_.pop_front();
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
        parts_.tester.startPolling(rules.pollPeriodMs);
        if (entersTestMode) {
            emit calibrationEntered();
        }
    }
    scheduleModeStep();
}

void ModeSwitch::getAllMetrics() {
    afterModeSteps([this, selection = selections_] {
        startMetricsFetch();
        // Given before another tab was selected: as behind a blocking pause, it began and was
        // stopped by that selection.
        if (selection != selections_) {
            parts_.metrics.cancel(kFetchStoppedLine);
        }
    });
}

void ModeSwitch::startMetricsFetch() {
    parts_.tester.stopPolling();
    parts_.metrics.requestAllMetrics();
}

void ModeSwitch::shutdown() {
    modeStepTimer_.stop();
    pending_.clear();
}

} // namespace zanst::app
