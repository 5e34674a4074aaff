#include "text_format.hpp"

#include <array>
#include <charconv>

namespace zanst::tester {

namespace {

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

std::string scaledText(long long value, int decimals, const TextFormat& format) {
    const bool negative = value < 0;
    // Work on the magnitude as unsigned so that the most negative value does not overflow.
    unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    unsigned long long scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / scale);
    if (decimals > 0) {
        std::string fraction = std::to_string(magnitude % scale);
        text += format.decimalPoint;
        text.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
        text += fraction;
    }
    return text;
}

std::string shortestText(float value, const TextFormat& format) {
    return shortest(value, format);
}
std::string shortestText(double value, const TextFormat& format) {
    return shortest(value, format);
}

} // namespace zanst::tester
