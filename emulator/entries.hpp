#pragma once
// Whole-number entries and the clamping of slider-backed entries of the "BMS tester" tab.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::emulator {

// True for an optional leading minus sign followed by at least one decimal digit and nothing else.
bool isInteger(std::string_view text);

// The value of a text that passes isInteger, saturated far beyond every range the tab uses,
// so that eleven digits or more clamp instead of overflowing. nullopt for anything else.
std::optional<std::int64_t> parseWholeNumber(std::string_view text);

// A slider takes v when min < v < max, max when v >= max, min when v <= min.
constexpr int clampToSlider(std::int64_t v, int min, int max) {
    if (v >= max) {
        return max;
    }
    if (v <= min) {
        return min;
    }
    return static_cast<int>(v);
}

// Batteries in parallel as read from the text of tbNumBat.
struct BatteriesInParallel {
    int count = 0;    // records are sent for max(count, 0) batteries
    std::string text; // what tbNumBat and "Bat in parallel" show afterwards
};

// Only whole numbers count; above 10 becomes 10 (shown as "10"); 0 and below are accepted and
// mean no batteries. nullopt for a text that is not a whole number.
std::optional<BatteriesInParallel> readBatteriesInParallel(std::string_view text);

} // namespace zanst::emulator
