#pragma once
// Edits on top of a recording, to show a BMS what was not recorded: a cell's voltage or
// temperature, or the bank current, pinned to a value, offset, or drifting at a rate, from a
// time of the recording (and until one, where given). They have one text form, for the time line
// and the service log, which is parsed and printed:
//   cell 5 drifts 2 mV a second lower from 00:03:10
//   cell 3 pinned at 45.0 °C from 00:01:00 until 00:02:30
//   cell 12 offset -15 mV from 00:00:00
//   current pinned at -120.5 A from 00:05:00

#include "timeline.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zanst::playback {

enum class EditKind { Pin, Offset, Drift };
enum class Quantity { Voltage, Temperature, Current };

struct Edit {
    EditKind kind = EditKind::Pin;
    Quantity quantity = Quantity::Voltage;
    int cell = 0; // balancer 1..255 for a voltage or temperature; 0 for the bank current
    // Pin and Offset: mV, 0.1 degC or mA. Drift: the same units per 1000 s, below 0 for lower.
    std::int64_t amount = 0;
    std::int64_t fromMs = 0;
    std::optional<std::int64_t> untilMs; // the edit stops here; nothing: to the end

    bool activeAt(std::int64_t timeMs) const { return timeMs >= fromMs && (!untilMs || timeMs < *untilMs); }
    bool operator==(const Edit&) const = default;
};

struct EditParse {
    std::optional<Edit> edit;
    std::string error; // why the text is not an edit
};

EditParse parseEdit(std::string_view text);
std::string editText(const Edit& edit);

// Empty when the edit fits the recording; else why not (a cell it does not have, a start after its end).
std::string checkEdit(const Edit& edit, const Timeline& timeline);

// The values at recording time `timeMs` with every active edit applied in order, each result
// kept within what its record field carries (1000..5095 mV, -102.4..102.3 degC, +-524.287 A).
void applyEdits(std::span<const Edit> edits, std::int64_t timeMs, std::vector<CellValues>& cells,
                std::int32_t& bankMilliamps);

} // namespace zanst::playback
