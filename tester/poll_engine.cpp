#include "poll_engine.hpp"

#include "requests.hpp"

#include "bus/senders.hpp"

namespace zanst::tester {

bool PollEngine::anyBalancerInBootloader() const {
    const int count = bus::walkableCells(state_.numCells);
    for (int id = 1; id <= count; ++id) {
        if (state_.tables.balInfo[static_cast<std::size_t>(id)].bootMode != 0) {
            return true;
        }
    }
    return false;
}

bool PollEngine::allBalancersInTestMode() const {
    const int count = bus::walkableCells(state_.numCells);
    for (int id = 1; id <= count; ++id) {
        if (!state_.tables.balancer[static_cast<std::size_t>(id)].inTestMode()) {
            return false;
        }
    }
    return true;
}

void PollEngine::sent() {
    awaitingAnswer_ = true;
    framesAtRequest_ = state_.health.framesReceived;
}

TickReport PollEngine::timerBMS_Tick() {
    TickReport report;
    if (awaitingAnswer_ && state_.health.framesReceived == framesAtRequest_) {
        ++state_.health.unansweredPolls;
    }
    awaitingAnswer_ = false;

    if (state_.bTestMode) {
        // Measurement and calibration-data polls take turns.
        bToggleDataCal = !bToggleDataCal;
        if (bToggleDataCal) {
            getCalData = true;
        }
        if (bus::walkableCells(state_.numCells) > 0) {
            report.allInTestMode = allBalancersInTestMode();
        }
    }

    const bus::Mode tab = state_.selectedMode;
    if (tab != bus::Mode::BatteryTester && tab != bus::Mode::Calibration && tab != bus::Mode::Sniffer) {
        return report;
    }
    report.polled = true;

    ++state_.battCommTimeout;
    if (state_.battCommTimeout > kSilentTicks && !state_.bInBootloaderMode) {
        state_.balancersInfo = false;
        state_.tables.clearData();
        state_.frameReceiving = false;
        state_.numCells = 0;
        report.busSilent = true;
    }

    sysv = settings.systemVoltage;
    report.snapshot = bank::takeSnapshot(state_);
    CalcBMSParams(state_, sysv, settings.setpointCorrection, bank);
    report.bank = bank;

    if (!port_.isOpen()) {
        return report;
    }
    state_.bInBootloaderMode = anyBalancerInBootloader();
    if (state_.bUpdaterMode) {
        return report;
    }

    if (!state_.balancersInfo || state_.numCells == 0 || state_.bInBootloaderMode) {
        if (bus::sendHexBmsCmd(port_, state_.frameReceiving, buildInfoRequest())) {
            report.sent = PollRequest::Info;
            sent();
        }
        return report;
    }

    if (getCalData) {
        getCalData = false;
        if (bus::sendHexBmsCmd(port_, state_.frameReceiving, buildCalibrationRequest()) &&
            bus::sendHexBms(port_, calibrationPlaceholders(state_))) {
            report.sent = PollRequest::CalibrationData;
            sent();
        }
        return report;
    }

    if (bus::sendHexBmsCmd(port_, state_.frameReceiving,
                           buildMeasurementRequest(bank.balancerSetpoint, bank.batVoltage)) &&
        bus::sendHexBms(port_, measurementPlaceholders(state_))) {
        report.sent = PollRequest::Measurement;
        sent();
    }
    return report;
}

} // namespace zanst::tester
