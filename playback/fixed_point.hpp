#pragma once
// Decimal numbers read into whole units without a detour through floating point: "3.301" V is
// 3301 mV, "-0.5" with three decimals is -500.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zanst::playback {

// An optional sign, digits, and at most `decimals` digits after a '.', scaled by 10^decimals.
// Nothing for anything else, or beyond 15 significant digits.
constexpr std::optional<std::int64_t> parseFixed(std::string_view text, int decimals) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    int digits = 0;
    int fraction = -1; // digits after the point; -1 before it
    for (const char c : text) {
        if (c == '.') {
            if (fraction >= 0) {
                return std::nullopt;
            }
            fraction = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 15 || (fraction >= 0 && ++fraction > decimals)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (digits == 0 || fraction == 0) {
        return std::nullopt; // no digits, or a point with nothing after it
    }
    for (int i = fraction < 0 ? 0 : fraction; i < decimals; ++i) {
        value *= 10;
    }
    return negative ? -value : value;
}

} // namespace zanst::playback
