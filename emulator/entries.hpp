#pragma once
// Whole-number entries, the clamping of slider-backed entries, and the number texts of the
// "BMS tester" tab.

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
    int count = 0;       // records are sent for max(count, 0) batteries
    std::string text;    // what tbNumBat and "Bat in parallel" show afterwards
};

// Only whole numbers count; above 10 becomes 10 (shown as "10"); 0 and below are accepted and
// mean no batteries. nullopt for a text that is not a whole number.
std::optional<BatteriesInParallel> readBatteriesInParallel(std::string_view text);

// Tenths as a real number in the shortest form: 200 -> "20", 205 -> "20.5", -15 -> "-1.5".
std::string tenthsText(std::int64_t tenths);

// Tenths as a whole number truncated toward zero: 205 -> "20", -15 -> "-1".
std::string wholeOfTenthsText(std::int64_t tenths);

// A real number in its shortest round-trip form: 13.2, 20.125, 13.
std::string realText(double value);

// Tenths with one decimal and thousands separators: -15 -> "-1.5", 12345 -> "1,234.5", 0 -> "0.0".
std::string groupedTenthsText(std::int64_t tenths);

} // namespace zanst::emulator
