#pragma once
// The serial line's settings through termios2, which sets any rate (BOTHER) and reads back the
// rate the driver really took. Kept apart: <asm/termbits.h> clashes with <termios.h>.

#include <cstdint>
#include <string>

namespace zanst::adapter {

inline constexpr std::uint32_t kBusBaud = 250000;

// Raw bytes, 8 data bits, no parity, one stop bit, no flow control, receiver on, modem lines
// ignored, `baud` in both directions. Returns an empty text, or why the driver refused.
std::string configureLine(int fd, std::uint32_t baud);

struct BaudReadback {
    bool ok = false;
    std::string error; // why nothing could be read back
    std::uint32_t outputBaud = 0;
    std::uint32_t inputBaud = 0;
};

// What the driver reports now.
BaudReadback readBaud(int fd);

// Deviation of `actual` from `requested`, in percent (positive: faster).
double baudErrorPercent(std::uint32_t requested, std::uint32_t actual);

// "250000 baud exact", or "the real rate R baud, error E %" and what that means.
std::string baudText(std::uint32_t requested, const BaudReadback& readback);

} // namespace zanst::adapter
