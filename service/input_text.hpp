#pragma once
// What an input box shows after a service button read it, and the digit helpers the readers share.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::service {

// The box's text colour and, when set, the text that replaces what the user typed.
struct BoxView {
    enum class Colour { Unchanged, Black, Red };
    Colour colour = Colour::Unchanged;
    std::optional<std::string> text;

    bool operator==(const BoxView&) const = default;
};

inline BoxView blackBox() {
    return {BoxView::Colour::Black, std::nullopt};
}
inline BoxView redBox() {
    return {BoxView::Colour::Red, std::nullopt};
}
inline BoxView redText(std::string_view text) {
    return {BoxView::Colour::Red, std::string(text)};
}

constexpr bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool isDecimalSeparator(char c) {
    return c == '.' || c == ',';
}

// v * 10 + the digit, held at limit + 1 so that any number of digits stays in range and a value
// above `limit` is still seen as too large.
constexpr std::uint64_t pushDigit(std::uint64_t v, char digit, std::uint64_t limit) {
    const std::uint64_t next = v * 10 + static_cast<std::uint64_t>(digit - '0');
    return next > limit ? limit + 1 : next;
}

// Characters of a UTF-8 text (the window's box lengths count characters, not bytes).
std::size_t characterCount(std::string_view utf8);

} // namespace zanst::service
