#pragma once
// Which of the emulator's battery models plays a recorded bank: the one with the recorded
// product id when it has the recorded cells per battery, else the first in the model list with
// those cells (and the recorded capacity, where known). A bank the emulator cannot be is
// refused with the reason.

#include "timeline.hpp"

#include "emulator/presets.hpp"

#include <string>

namespace zanst::playback {

struct PresetMatch {
    bool ok = false;
    int listIndex = -1; // position in the model list
    emulator::BatteryPresetInfo info;
    int batteries = 0;       // in parallel, as recorded
    int cellsPerBattery = 0; // equals info.cellsInSeries when ok
    std::string reason;      // why it was refused, or how the model was chosen
};

PresetMatch matchPreset(const Timeline& timeline);

} // namespace zanst::playback
