#include "number_text.hpp"

#include <array>
#include <charconv>

namespace zanst::bus {

namespace {

// The digits of `value` / 10^decimals with `decimals` digits after the point, the whole part
// grouped by threes when asked.
std::string fixedText(std::int64_t value, int decimals, const TextFormat& format, bool grouped) {
    const bool negative = value < 0;
    // Work on the magnitude as unsigned so that the most negative value does not overflow.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const std::string whole = std::to_string(magnitude / scale);
    std::string text = negative ? "-" : "";
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (grouped && i > 0 && (whole.size() - i) % 3 == 0) {
            text += format.groupSeparator;
        }
        text += whole[i];
    }
    if (decimals > 0) {
        const std::string fraction = std::to_string(magnitude % scale);
        text += format.decimalPoint;
        text.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
        text += fraction;
    }
    return text;
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

} // namespace zanst::bus
