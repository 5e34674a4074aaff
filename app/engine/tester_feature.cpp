#include "engine/tester_feature.hpp"

namespace zanst::app {

TesterFeature::TesterFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), poll_(state, port), timerBMS_(this) {
    timerBMS_.setInterval(1000);
    // Coarse timers drift by up to 5 % of the period (475 ms and 950 ms ticks were seen): the
    // balancers and the recordings expect the period itself.
    timerBMS_.setTimerType(Qt::PreciseTimer);
    connect(&timerBMS_, &QTimer::timeout, this, &TesterFeature::timerBMS_Tick);
}

void TesterFeature::startPolling(int periodMs) {
    timerBMS_.start(periodMs);
}

void TesterFeature::stopPolling() {
    timerBMS_.stop();
}

void TesterFeature::setSetpointCorrection(int correction) {
    if (correction >= tester::kMinSetpointCorrection && correction <= tester::kMaxSetpointCorrection) {
        poll_.settings.setpointCorrection = correction;
    }
}

void TesterFeature::setSystemVoltage(int volts) {
    if (volts == 12 || volts == 24 || volts == 48) {
        poll_.settings.systemVoltage = volts;
    }
}

void TesterFeature::timerBMS_Tick() {
    const tester::TickReport report = poll_.timerBMS_Tick();
    if (report.polled || report.allInTestMode) {
        emit ticked(report);
    }
}

} // namespace zanst::app
