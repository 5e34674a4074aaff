#pragma once
// What a step of the recording, with the edits on top, makes of the emulated bank: the played
// bank the responder answers from (every battery its own cells) and the slider settings the
// window shows (battery 1, within the sliders' ranges), so the sliders follow the playback.

#include "edits.hpp"
#include "preset_match.hpp"
#include "timeline.hpp"

#include "emulator/bank_editor.hpp"
#include "emulator/played_bank.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zanst::playback {

struct BankFrame {
    std::size_t step = 0;
    std::int64_t timeMs = 0;
    std::vector<CellValues> cells; // balancer i + 1 at index i, edits applied
    std::int32_t bankMilliamps = 0;
};

// Step `step` (clamped into the timeline) with `edits` applied at its recorded time.
BankFrame frameAt(const Timeline& timeline, std::size_t step, std::span<const Edit> edits);

// The emulated bank for a matched preset: battery b's cell c is balancer b x cells + c + 1.
emulator::PlayedBank playedBank(const BankFrame& frame, const PresetMatch& match);

// `base` with the sliders at battery 1's values (clamped into their ranges; the current to the
// nearest whole ampere) and the batteries in parallel at the recording's count.
emulator::BankSettings sliderSettings(const BankFrame& frame, const PresetMatch& match,
                                      emulator::BankSettings base);

// One line for the service log when a playback starts: file, source, bank, model, length, notes.
std::string playbackSummary(const std::string& file, const Timeline& timeline, const PresetMatch& match);

} // namespace zanst::playback
