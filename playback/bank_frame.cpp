#include "bank_frame.hpp"

#include "emulator/entries.hpp"

#include <algorithm>

namespace zanst::playback {

BankFrame frameAt(const Timeline& timeline, std::size_t step, std::span<const Edit> edits) {
    BankFrame frame;
    if (timeline.steps.empty()) {
        return frame;
    }
    frame.step = std::min(step, timeline.steps.size() - 1);
    const Step& s = timeline.steps[frame.step];
    frame.timeMs = s.timeMs;
    frame.cells = s.cells;
    frame.bankMilliamps = s.bankMilliamps;
    applyEdits(edits, frame.timeMs, frame.cells, frame.bankMilliamps);
    return frame;
}

emulator::PlayedBank playedBank(const BankFrame& frame, const PresetMatch& match) {
    emulator::PlayedBank bank;
    bank.batteries = std::clamp(match.batteries, 0, emulator::kMaxBatteriesInParallel);
    const int cells = std::clamp(match.cellsPerBattery, 0, emulator::kMaxCells);
    for (int b = 0; b < bank.batteries; ++b) {
        for (int c = 0; c < cells; ++c) {
            const auto at = static_cast<std::size_t>(b * cells + c);
            if (at >= frame.cells.size()) {
                continue;
            }
            bank.voltageMv[static_cast<std::size_t>(b)][static_cast<std::size_t>(c)] =
                frame.cells[at].millivolts;
            bank.tempTenths[static_cast<std::size_t>(b)][static_cast<std::size_t>(c)] =
                frame.cells[at].tenthsCelsius;
        }
    }
    bank.currentMa = frame.bankMilliamps;
    return bank;
}

emulator::BankSettings sliderSettings(const BankFrame& frame, const PresetMatch& match,
                                      emulator::BankSettings base) {
    using emulator::Field;
    const int cells = std::clamp(match.cellsPerBattery, 0, emulator::kMaxCells);
    for (int c = 0; c < cells && static_cast<std::size_t>(c) < frame.cells.size(); ++c) {
        const CellValues& v = frame.cells[static_cast<std::size_t>(c)];
        const auto at = static_cast<std::size_t>(c);
        base.voltageMv[at] = emulator::clampToSlider(v.millivolts, emulator::rangeOf(Field::Voltage).min,
                                                     emulator::rangeOf(Field::Voltage).max);
        base.tempTenths[at] =
            emulator::clampToSlider(v.tenthsCelsius, emulator::rangeOf(Field::Temperature).min,
                                    emulator::rangeOf(Field::Temperature).max);
    }
    // Nearest whole ampere, halves away from zero.
    const std::int32_t ma = frame.bankMilliamps;
    const std::int64_t amps = (ma >= 0 ? ma + 500 : ma - 500) / 1000;
    base.currentA = emulator::clampToSlider(amps, emulator::rangeOf(Field::Current).min,
                                            emulator::rangeOf(Field::Current).max);
    base.numBatText = std::to_string(std::clamp(match.batteries, 0, emulator::kMaxBatteriesInParallel));
    return base;
}

std::string playbackSummary(const std::string& file, const Timeline& timeline, const PresetMatch& match) {
    std::string text = "Playing " + file + " (" + timeline.source + ", " +
                       std::to_string(timeline.steps.size()) + " steps over " +
                       clockText(timeline.lengthMs()) + "): " + std::to_string(timeline.cellCount) +
                       " cells as " + match.reason;
    for (const std::string& note : timeline.notes) {
        text += ". " + note;
    }
    return text;
}

} // namespace zanst::playback
