#include "sim/presets.hpp"

#include <charconv>
#include <cstdio>

namespace zanst::sim {

std::optional<Preset> findPreset(std::uint16_t productId) {
    for (const Preset& p : emulator::batteryInfoArray) {
        if (p.productId == productId) {
            return p;
        }
    }
    return std::nullopt;
}

std::optional<Preset> parsePreset(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return findPreset(static_cast<std::uint16_t>(value));
}

std::string presetList() {
    std::string out;
    for (const Preset& p : emulator::batteryInfoArray) {
        char item[48];
        std::snprintf(item, sizeof item, "%s0x%04X (%d cells, %d Ah)", out.empty() ? "" : ", ", p.productId,
                      p.cellsInSeries, p.capacityAh);
        out += item;
    }
    return out;
}

} // namespace zanst::sim
