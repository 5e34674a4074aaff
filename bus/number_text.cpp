#include "number_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

namespace zanst::bus {

namespace {

// The digits of `value` / 10^decimals with `decimals` digits after the point, the whole part
// grouped by threes when asked. Built in place: these texts are made for every row of a table.
std::string fixedText(std::int64_t value, int decimals, const TextFormat& format, bool grouped) {
    decimals = std::clamp(decimals, 0, 18);
    const bool negative = value < 0;
    // Work on the magnitude as unsigned so that the most negative value does not overflow.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    std::array<char, 24> whole{};
    const char* wholeEnd = std::to_chars(whole.data(), whole.data() + whole.size(), magnitude / scale).ptr;
    const auto digits = static_cast<std::size_t>(wholeEnd - whole.data());

    std::array<char, 64> out{}; // sign, 20 digits, 6 separators, point, 18 decimals
    char* p = out.data();
    if (negative) {
        *p++ = '-';
    }
    for (std::size_t i = 0; i < digits; ++i) {
        if (grouped && i > 0 && (digits - i) % 3 == 0) {
            *p++ = format.groupSeparator;
        }
        *p++ = whole[i];
    }
    if (decimals > 0) {
        *p++ = format.decimalPoint;
        std::uint64_t fraction = magnitude % scale;
        for (int i = decimals - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        p += decimals;
    }
    return std::string(out.data(), p);
}

template <typename T> std::string shortest(T value, const TextFormat& format) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    for (char& c : text) {
        if (c == '.') {
            c = format.decimalPoint;
        }
    }
    return text;
}

} // namespace

std::string scaledText(std::int64_t value, int decimals, const TextFormat& format) {
    return fixedText(value, decimals, format, false);
}

std::string shortestText(float value, const TextFormat& format) {
    return shortest(value, format);
}

std::string shortestText(double value, const TextFormat& format) {
    return shortest(value, format);
}

std::string realText(double value, const TextFormat& format) {
    std::string text = shortest(value, format);
    return text == "-0" ? "0" : text;
}

std::string tenthsText(std::int64_t tenths, const TextFormat& format) {
    std::string text = fixedText(tenths, 1, format, false);
    if (text.back() == '0') {
        text.resize(text.size() - 2); // a whole number goes without its ".0"
    }
    return text;
}

std::string wholeOfTenthsText(std::int64_t tenths) {
    return std::to_string(tenths / 10);
}

std::string groupedTenthsText(std::int64_t tenths, const TextFormat& format) {
    return fixedText(tenths, 1, format, true);
}

std::string groupedCountText(std::uint64_t count, const TextFormat& format) {
    constexpr auto kMax = static_cast<std::uint64_t>(INT64_MAX);
    return fixedText(static_cast<std::int64_t>(std::min(count, kMax)), 0, format, true);
}

} // namespace zanst::bus
