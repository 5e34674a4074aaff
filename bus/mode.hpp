#pragma once
// The operating modes and what selecting one does on the bus. A mode's value is its byte in a
// capture file and never changes; where the window shows it (the tab strip's order, captions) is
// the window's business.

#include <array>
#include <cstdint>
#include <optional>

namespace zanst::bus {

enum class Mode : std::uint8_t {
    Connection = 0,
    Actions = 1,
    Calibration = 2,
    BatteryTester = 3, // the tool is bus master (member tabBMS)
    BmsTester = 4,     // the tool emulates a bank (member tabBattery)
    Sniffer = 5,
    Metrics = 6,
};

// The test-mode frame a mode sends 500 ms after it is selected.
enum class ModeStep : std::uint8_t { None, LeaveTestMode, EnterTestMode };

struct ModeRules {
    Mode mode;
    ModeStep step;
    bool emulates = false;     // received bytes go to the emulator (bBatteryMode)
    bool sniffs = false;       // received bytes are repeated and monitored (bSniffer)
    bool clearsTables = false; // the balancer tables, the count and the sniffer's fields start empty
    int pollPeriodMs = 0;      // the poll timer after the step; 0 stops it
};

inline constexpr std::array<ModeRules, 7> kModeRules{{
    {Mode::Connection, ModeStep::LeaveTestMode, false, false, true, 1000},
    {Mode::Actions, ModeStep::LeaveTestMode, false, false, true, 1000},
    {Mode::Calibration, ModeStep::EnterTestMode, false, false, false, 500},
    {Mode::BatteryTester, ModeStep::LeaveTestMode, false, false, true, 1000},
    {Mode::BmsTester, ModeStep::None, true, false, false, 0},
    {Mode::Sniffer, ModeStep::None, false, true, false, 0},
    {Mode::Metrics, ModeStep::LeaveTestMode, false, false, true, 1000},
}};

// The rules of a mode, or nothing for a value that is no mode (a byte read from a file).
inline const ModeRules* rulesOf(Mode mode) {
    for (const ModeRules& r : kModeRules) {
        if (r.mode == mode) {
            return &r;
        }
    }
    return nullptr;
}

inline std::optional<Mode> modeFromByte(std::uint8_t value) {
    const ModeRules* rules = rulesOf(static_cast<Mode>(value));
    return rules != nullptr ? std::optional<Mode>(rules->mode) : std::nullopt;
}

} // namespace zanst::bus
