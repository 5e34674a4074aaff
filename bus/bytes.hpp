#pragma once
// Little-endian field access on byte buffers, bounds-checked: a field that does not fit is
// read as zero and not written.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zanst::bus {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t getLe16(std::span<const std::uint8_t> b, std::size_t at) {
    if (at + 2 > b.size()) {
        return 0;
    }
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

inline std::uint32_t getLe32(std::span<const std::uint8_t> b, std::size_t at) {
    if (at + 4 > b.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline void putLe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
    if (at + 2 > b.size()) {
        return;
    }
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void putLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    if (at + 4 > b.size()) {
        return;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
    }
}

// Copies the characters of `text` as single bytes from `at` on, cut at the buffer's end.
inline void putAscii(std::span<std::uint8_t> b, std::size_t at, std::string_view text) {
    for (std::size_t i = 0; i < text.size() && at + i < b.size(); ++i) {
        b[at + i] = static_cast<std::uint8_t>(text[i]);
    }
}

} // namespace zanst::bus
