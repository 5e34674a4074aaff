#pragma once
// The emulated bank while a recording drives it: every battery has cell values of its own and
// the number of batteries is the recording's. The answers are built record by record exactly as
// for the sliders' values; only where the values come from differs.

#include "presets.hpp"

#include <array>
#include <cstdint>

namespace zanst::emulator {

using BatteryCells = std::array<std::int32_t, kMaxCells>;

struct PlayedBank {
    int batteries = 1; // batteries in parallel, 0..kMaxBatteriesInParallel
    // Battery b, cell c (both 0-based) at [b][c]: mV and 0.1 degC, as a measurement record carries them.
    std::array<BatteryCells, kMaxBatteriesInParallel> voltageMv{};
    std::array<BatteryCells, kMaxBatteriesInParallel> tempTenths{};
    std::int32_t currentMa = 0; // goes into every record, as the current slider's value does

    bool operator==(const PlayedBank&) const = default;
};

} // namespace zanst::emulator
