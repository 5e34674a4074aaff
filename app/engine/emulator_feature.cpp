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
    dropPlayedBank();
}

void EmulatorFeature::applyBatteryPreset(int listIndex, bool announce) {
    responder_.setPreset(emulator::bankPresetForListIndex(listIndex));
    if (!held_) {
        responder_.setPlayedBank(std::nullopt); // the new model's info is asked for anyway
    }
    if (announce) {
        responder_.transmitPresetChanged();
    }
}

bool EmulatorFeature::playBank(const emulator::PlayedBank& bank, int listIndex,
                               const emulator::BankSettings& sliders) {
    held_ = true;
    bool announce = false;
    const emulator::BankPreset preset = emulator::bankPresetForListIndex(listIndex);
    if (preset.valid() && preset.selectedPreset != responder_.preset().selectedPreset) {
        responder_.setPreset(preset);
        announce = true;
    }
    // The played bank first: the number of balancers the BMS knows comes from the settings before.
    announce = responder_.setPlayedBank(bank) || announce;
    responder_.setSettings(sliders);
    if (announce) {
        responder_.transmitPresetChanged();
    }
    return announce;
}

void EmulatorFeature::dropPlayedBank() {
    if (held_ || !responder_.playedBank()) {
        return;
    }
    // Another number of balancers than the BMS knows: it must ask again, as after a model change.
    if (responder_.setPlayedBank(std::nullopt)) {
        responder_.transmitPresetChanged();
    }
}

} // namespace zanst::app
