#pragma once
// Hex and version texts shown in the tables and logs.

#include <cstdint>
#include <span>
#include <string>

namespace zanst::bus {

// Upper-case hex digits without prefix: always an even count, at least 2 and at least minSize.
std::string ConvertHex1(std::uint64_t val, std::uint8_t minSize);

// "0x" followed by ConvertHex1.
std::string ConvertHex(std::uint64_t val, std::uint8_t minSize);

// v<major>.<minor>[-beta<nn>] in two hex digits each, or "---" when the low 24 bits are all ones.
std::string versionToString(std::uint32_t v);

// A serial number received on the bus: up to the first zero byte, unprintable bytes shown as '?'.
std::string serialText(std::span<const std::uint8_t> bytes);

} // namespace zanst::bus
