#include "engine/emulator_feature.hpp"

namespace zanst::app {

EmulatorFeature::EmulatorFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), state_(state), port_(port), responder_(state, port, &forwarder_) {}

void EmulatorFeature::setBankSettings(const emulator::BankSettings& settings) {
    responder_.setSettings(settings);
}

void EmulatorFeature::applyBatteryPreset(int listIndex, bool announce) {
    responder_.setPreset(emulator::bankPresetForListIndex(listIndex));
    if (announce) {
        emulator::transmitPresetChanged(port_, state_.frameReceiving);
    }
}

void EmulatorFeature::Forwarder::bmsIdentityShown(const std::string& pid, const std::string& serial) {
    // The BMS's serial is whatever bytes it sent; show them one character each.
    emit link_.bmsIdentityShown(QString::fromStdString(pid),
                                QString::fromLatin1(serial.data(), static_cast<qsizetype>(serial.size())));
}

void EmulatorFeature::Forwarder::bmsMeasurementShown(const std::string& voltage, const std::string& current) {
    emit link_.bmsMeasurementShown(QString::fromStdString(voltage), QString::fromStdString(current));
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

} // namespace zanst::app
