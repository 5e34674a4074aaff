#pragma once
// The tool's own identity on the bus and the fixed command words it sends.
// The values are listed in docs/protocol.md; change them there too.

#include <cstdint>
#include <string_view>

namespace zanst::bus::identity {

// Product id the tool presents as bus master (sent little-endian: 0xA3, 0xE4).
inline constexpr std::uint16_t kProductId = 0xE4A3;

// 11-character ASCII serial of the tool as bus master.
inline constexpr std::string_view kMasterSerial = "ZANSTMSTR01";

// 4-character words of command 0x10.
inline constexpr std::string_view kWordEnterTest = "TMEN";
inline constexpr std::string_view kWordLeaveTest = "TMLV";
inline constexpr std::string_view kWordLoadOn = "LDON";
inline constexpr std::string_view kWordLoadOff = "LDOF";

// 4-character word of command 0x20 (start boot loaders, also the stress block).
inline constexpr std::string_view kWordStartBootloader = "BOOT";

// 4-character word of command 0x30 (current-gain adjustment).
inline constexpr std::string_view kWordCurrentAdjust = "GAIN";

// 10-character words of commands 0x21 (start update) and 0x22 (end update).
inline constexpr std::string_view kWordStartUpdate = "UPDT-START";
inline constexpr std::string_view kWordEndUpdate = "UPDT-END!!";

static_assert(kMasterSerial.size() == 11);
static_assert(kWordEnterTest.size() == 4 && kWordLeaveTest.size() == 4 && kWordLoadOn.size() == 4 &&
              kWordLoadOff.size() == 4 && kWordStartBootloader.size() == 4 && kWordCurrentAdjust.size() == 4);
static_assert(kWordStartUpdate.size() == 10 && kWordEndUpdate.size() == 10);

} // namespace zanst::bus::identity
