#include "engine/emulator_feature.hpp"

namespace zanst::app {

EmulatorFeature::EmulatorFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), responder_(state, port, &forwarder_) {}

void EmulatorFeature::setBankSettings(const emulator::BankSettings& settings) {
    responder_.setSettings(settings);
}

void EmulatorFeature::applyBatteryPreset(int listIndex, bool announce) {
    responder_.setPreset(emulator::bankPresetForListIndex(listIndex));
    if (announce) {
        responder_.transmitPresetChanged();
    }
}

void EmulatorFeature::Forwarder::bmsIdentityShown(const std::string& pid, const std::string& serial) {
    // The BMS's serial is whatever bytes it sent; show them one character each.
    emit link_.bmsIdentityShown(QString::fromStdString(pid),
                                QString::fromLatin1(serial.data(), static_cast<qsizetype>(serial.size())));
}

void EmulatorFeature::Forwarder::bmsMeasurementShown(std::uint16_t voltageTenths,
                                                     std::int16_t currentTenths) {
    emit link_.bmsMeasurementShown(voltageTenths, currentTenths);
}

void EmulatorFeature::Forwarder::batteriesInParallelRead(const emulator::BatteriesInParallel&) {
    emit link_.batteriesInParallelRead();
}

void EmulatorFeature::Forwarder::cellTextsRefreshed() {
    emit link_.cellTextsRefreshed();
}

void EmulatorFeature::Forwarder::firmwareVersionDefaulted() {
    emit link_.firmwareVersionDefaulted();
}

void EmulatorFeature::Forwarder::ownAnswersReturning(bool returning) {
    emit link_.ownAnswersReturning(returning);
}

} // namespace zanst::app
