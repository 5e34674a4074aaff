#include "entries.hpp"

#include "presets.hpp"

#include <array>
#include <charconv>

namespace zanst::emulator {

namespace {
// Far beyond every slider range and still safe to multiply by 10.
constexpr std::int64_t kSaturation = 1'000'000'000'000'000LL;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
} // namespace

bool isInteger(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    if (text.front() == '-') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

std::optional<std::int64_t> parseWholeNumber(std::string_view text) {
    if (!isInteger(text)) {
        return std::nullopt;
    }
    const bool negative = text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
        if (value >= kSaturation) {
            value = kSaturation;
            break;
        }
    }
    return negative ? -value : value;
}

std::optional<BatteriesInParallel> readBatteriesInParallel(std::string_view text) {
    const auto value = parseWholeNumber(text);
    if (!value) {
        return std::nullopt;
    }
    if (*value > kMaxBatteriesInParallel) {
        return BatteriesInParallel{kMaxBatteriesInParallel, "10"};
    }
    const int count = *value < 0 ? 0 : static_cast<int>(*value);
    return BatteriesInParallel{count, std::string(text)};
}

std::string tenthsText(std::int64_t tenths) {
    const bool negative = tenths < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenths) : static_cast<std::uint64_t>(tenths);
    std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10);
    if (magnitude % 10 != 0) {
        text += '.';
        text += static_cast<char>('0' + magnitude % 10);
    }
    return text;
}

std::string wholeOfTenthsText(std::int64_t tenths) { return std::to_string(tenths / 10); }

std::string realText(double value) {
    std::array<char, 64> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    if (ec != std::errc()) {
        return "0";
    }
    std::string text(buffer.data(), end);
    return text == "-0" ? "0" : text;
}

std::string groupedTenthsText(std::int64_t tenths) {
    const bool negative = tenths < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenths) : static_cast<std::uint64_t>(tenths);
    const std::string whole = std::to_string(magnitude / 10);
    std::string grouped;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += whole[i];
    }
    return (negative ? "-" : "") + grouped + "." + static_cast<char>('0' + magnitude % 10);
}

} // namespace zanst::emulator
