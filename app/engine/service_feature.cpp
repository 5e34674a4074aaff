#include "engine/service_feature.hpp"

#include "bus/senders.hpp"

#include <iostream>

namespace zanst::app {

ServiceFeature::ServiceFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), state_(state), port_(port), updater_(state, port, *this), timerUpdater_(this),
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
    updater_.fileRead(std::move(result));
    syncTimers(valid);
}

void ServiceFeature::updaterTick() {
    updater_.updaterTick();
    syncTimers();
}

void ServiceFeature::timerFw_Tick() {
    updater_.timerFw_Tick();
    syncTimers();
}

void ServiceFeature::syncTimers(bool restart) {
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
}

void ServiceFeature::updaterLog(std::string_view text, bool newLine) {
    emit updaterLogged(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), newLine);
}

void ServiceFeature::consoleLine(std::string_view text) {
    std::cout << text << std::endl;
    emit consoleLineWritten(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace zanst::app
