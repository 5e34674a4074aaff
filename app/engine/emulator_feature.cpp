#include "engine/emulator_feature.hpp"

namespace zanst::app {

EmulatorFeature::EmulatorFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), responder_(state, port) {}

void EmulatorFeature::receive(std::span<const std::uint8_t> bytes) {
    const emulator::ResponderReport report = responder_.serialBMSdataParser(bytes);
    if (!report.empty()) {
        emit reported(report);
    }
}

void EmulatorFeature::setBankSettings(const emulator::BankSettings& settings) {
    responder_.setSettings(settings);
}

void EmulatorFeature::applyBatteryPreset(int listIndex, bool announce) {
    responder_.setPreset(emulator::bankPresetForListIndex(listIndex));
    if (announce) {
        responder_.transmitPresetChanged();
    }
}

} // namespace zanst::app
