#include "preset_match.hpp"

#include "bus/hex.hpp"

#include <optional>

namespace zanst::playback {

namespace {

std::string batteryName(const Timeline& t, std::size_t b) {
    const std::string& serial = t.batteries[b].serial;
    return "battery " + std::to_string(b + 1) + (serial.empty() ? std::string() : " (" + serial + ")");
}

std::optional<int> listIndexOfRow(int row) {
    for (int i = 0; i < static_cast<int>(emulator::kPresetCount); ++i) {
        if (emulator::presetRowForListIndex(i) == row) {
            return i;
        }
    }
    return std::nullopt;
}

template <typename Wanted> std::optional<int> firstRow(Wanted wanted) {
    for (std::size_t row = 0; row < emulator::batteryInfoArray.size(); ++row) {
        if (wanted(emulator::batteryInfoArray[row])) {
            return static_cast<int>(row);
        }
    }
    return std::nullopt;
}

} // namespace

PresetMatch matchPreset(const Timeline& t) {
    PresetMatch m;
    if (t.cellCount == 0 || t.batteries.empty()) {
        m.reason = "The recording holds no balancer";
        return m;
    }
    m.batteries = static_cast<int>(t.batteries.size());
    const int cells = t.batteries.front().cells;
    for (std::size_t b = 1; b < t.batteries.size(); ++b) {
        if (t.batteries[b].cells != cells) {
            m.reason = "The recorded " + batteryName(t, b) + " has " + std::to_string(t.batteries[b].cells) +
                       " cells and " + batteryName(t, 0) + " has " + std::to_string(cells) +
                       ": the emulated batteries all have the same number of cells";
            return m;
        }
    }
    m.cellsPerBattery = cells;
    if (cells != 4 && cells != 8 && cells != 16) {
        m.reason = "The recorded " + std::string(m.batteries == 1 ? "battery has " : "batteries have ") +
                   std::to_string(cells) + " cells" + (m.batteries == 1 ? "" : " each") +
                   "; the emulator's models have 4, 8 or 16";
        if (!t.structureKnown && m.batteries == 1) {
            m.reason += " (without balancer info the " + std::to_string(t.cellCount) +
                        " balancers count as one battery)";
        }
        return m;
    }
    if (m.batteries > emulator::kMaxBatteriesInParallel) {
        m.reason = "The recording has " + std::to_string(m.batteries) +
                   " batteries; the emulated bank has at most " +
                   std::to_string(emulator::kMaxBatteriesInParallel) + " in parallel";
        return m;
    }

    std::optional<int> row;
    std::string why;
    if (t.productId) {
        row = firstRow([&](const emulator::BatteryPresetInfo& p) {
            return p.productId == *t.productId && p.cellsInSeries == cells;
        });
        why = row ? "the recorded product id"
                  : "the recorded product id " + bus::ConvertHex(*t.productId, 4) + " is no model with " +
                        std::to_string(cells) + " cells";
    } else {
        why = "the recording names no product id";
    }
    if (!row && t.capacity) {
        row = firstRow([&](const emulator::BatteryPresetInfo& p) {
            return p.cellsInSeries == cells && p.capacityAh == *t.capacity;
        });
        if (row) {
            why = "the model with " + std::to_string(cells) + " cells and the recorded " +
                  std::to_string(*t.capacity) + " Ah; " + why;
        }
    }
    if (!row) {
        row = firstRow([&](const emulator::BatteryPresetInfo& p) { return p.cellsInSeries == cells; });
        why = "the first model with " + std::to_string(cells) + " cells; " + why;
    }
    const auto index = row ? listIndexOfRow(*row) : std::nullopt;
    if (!index) {
        m.reason = "No model has " + std::to_string(cells) + " cells";
        return m;
    }
    m.ok = true;
    m.listIndex = *index;
    m.info = emulator::batteryInfoArray[static_cast<std::size_t>(*row)];
    m.reason = std::string(emulator::batteryPresetCaptions[static_cast<std::size_t>(*index)]) + ", " +
               std::to_string(m.batteries) + (m.batteries == 1 ? " battery: " : " in parallel: ") + why;
    return m;
}

} // namespace zanst::playback
