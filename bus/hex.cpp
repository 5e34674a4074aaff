#include "hex.hpp"

namespace zanst::bus {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

std::string twoDigits(std::uint32_t byte) {
    return {kDigits[(byte >> 4) & 0xF], kDigits[byte & 0xF]};
}
} // namespace

std::string ConvertHex1(std::uint64_t val, std::uint8_t minSize) {
    std::string digits;
    while (val != 0 || digits.size() % 2 != 0 || digits.size() < minSize || digits.empty()) {
        digits.insert(digits.begin(), kDigits[val & 0xF]);
        val >>= 4;
    }
    return digits;
}

std::string ConvertHex(std::uint64_t val, std::uint8_t minSize) {
    return "0x" + ConvertHex1(val, minSize);
}

std::string versionToString(std::uint32_t v) {
    if ((v & 0xFFFFFF) == 0xFFFFFF) {
        return "---";
    }
    std::string text = "v" + twoDigits(v >> 16) + "." + twoDigits(v >> 8);
    if ((v & 0xFF) != 0xFF) {
        text += "-beta" + twoDigits(v);
    }
    return text;
}

std::string serialText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        if (b == 0) {
            break;
        }
        text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
    }
    return text;
}

} // namespace zanst::bus
