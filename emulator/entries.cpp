#include "entries.hpp"

#include "presets.hpp"

namespace zanst::emulator {

namespace {
// Far beyond every slider range and still safe to multiply by 10.
constexpr std::int64_t kSaturation = 1'000'000'000'000'000LL;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
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

} // namespace zanst::emulator
