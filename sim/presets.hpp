#pragma once
// The battery models a simulated bank is built from: the emulator's table of the 13 models, read
// from the command line by product id.

#include "emulator/presets.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::sim {

using Preset = emulator::BatteryPresetInfo;

// The model a bank starts as without --preset (0xA602, 4 cells, 100 Ah).
inline constexpr Preset kDefaultPreset = emulator::batteryInfoArray[0];

std::optional<Preset> findPreset(std::uint16_t productId);

// Reads "0xA602", "A602" or "a602"; nullopt for anything that is not one of the 13 ids.
std::optional<Preset> parsePreset(std::string_view text);

// "0xA602 (4 cells, 100 Ah), ..." for help and error texts.
std::string presetList();

} // namespace zanst::sim
