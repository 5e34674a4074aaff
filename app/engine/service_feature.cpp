#include "engine/service_feature.hpp"

#include "bus/senders.hpp"

#include <iostream>

namespace zanst::app {

ServiceFeature::ServiceFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), state_(state), port_(port), updater_(state, port), timerUpdater_(this),
      fwtimer_(this) {
    timerUpdater_.setInterval(service::FirmwareUpdater::kUpdateTickMs);
    timerUpdater_.setTimerType(Qt::PreciseTimer);
    // The block sender looks every 10 ms whether the last block is back; a coarse timer would
    // stretch each look and leave the line idle.
    fwtimer_.setInterval(service::FirmwareUpdater::kBlockTickMs);
    fwtimer_.setTimerType(Qt::PreciseTimer);
    connect(&timerUpdater_, &QTimer::timeout, this, &ServiceFeature::updaterTick);
    connect(&fwtimer_, &QTimer::timeout, this, &ServiceFeature::timerFw_Tick);
}

void ServiceFeature::shutdown() {
    timerUpdater_.stop();
    fwtimer_.stop();
}

void ServiceFeature::calibrate(int row, service::CalibrationKind kind, quint16 value) {
    if (const auto address = service::balancerAddress(row)) {
        bus::sendHexBmsCmd(port_, state_.frameReceiving, service::buildCalibrateFrame(*address, kind, value));
    }
}

void ServiceFeature::saveCalibration(int row) {
    if (const auto frame = service::saveCalibration(row)) {
        bus::sendHexBmsCmd(port_, state_.frameReceiving, *frame);
    }
}

void ServiceFeature::adjustCurrent(int row, service::GainOperation operation) {
    if (const auto frame = service::currentAdjustment(state_.tables, row, operation)) {
        bus::sendHexBmsCmd(port_, state_.frameReceiving, *frame);
    }
}

void ServiceFeature::setBatteryParameters(const service::BatteryParameters& parameters) {
    service::sendBatteryParameters(state_, port_, parameters);
}

void ServiceFeature::runAction(service::ServiceAction action) {
    service::sendServiceAction(state_, port_, action);
}

void ServiceFeature::fileRead(service::HexReadResult result) {
    const bool valid = result.image.has_value();
    settle(updater_.fileRead(std::move(result)), valid);
}

void ServiceFeature::updaterTick() {
    settle(updater_.updaterTick());
}

void ServiceFeature::timerFw_Tick() {
    settle(updater_.timerFw_Tick());
}

void ServiceFeature::settle(const service::UpdaterReport& report, bool restart) {
    if (updater_.updateTickRunning() && (restart || !timerUpdater_.isActive())) {
        timerUpdater_.start();
    } else if (!updater_.updateTickRunning()) {
        timerUpdater_.stop();
    }
    if (updater_.blockSenderRunning() != fwtimer_.isActive()) {
        if (updater_.blockSenderRunning()) {
            fwtimer_.start();
        } else {
            fwtimer_.stop();
        }
    }
    if (report.endUpdateSent) {
        std::cout << service::kEndUpdateConsoleLine << std::endl;
    }
    if (!report.empty()) {
        emit updaterReported(report);
    }
}

} // namespace zanst::app
