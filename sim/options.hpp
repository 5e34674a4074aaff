#pragma once
// The simulator's command line.

#include "sim/presets.hpp"
#include "sim/time.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zanst::sim {

enum class RoleKind { Bank, Bms, Ring };

// Which way a simulated USB adapter holds bytes: towards the tool (what the tool receives), from
// it (what the tool sends), or both.
enum class AdapterSide { ToTool, FromTool, Both };

struct Options {
    RoleKind role = RoleKind::Bank;
    Preset preset = kDefaultPreset;
    int batteries = 1;
    int deadAfter = 0;
    double currentA = 0.0;
    std::string link;
    std::string capture; // --capture: every byte on the device, as the tool saw it
    std::string from;    // --from: a recording the bank plays instead of its model
    std::string expect;  // --expect: a recording the BMS holds every answer against
    double dropRate = 0.0;
    double corruptRate = 0.0;
    std::optional<double> silentAfterS;
    int slowByteUs = 0;
    std::uint32_t seed = 1;
    bool noise = true;
    bool quiet = false;
    int metricsSilent = 0; // battery whose metrics request goes unanswered; 0: none
    bool exitWithParent = false;
    bool help = false;
    std::vector<std::uint8_t> swallowCommands; // --swallow-command, each once
    std::vector<int> swallowBlocks;            // --swallow-block, each once
    int adapterLatencyMs = 0;                  // --adapter-latency: 0 for no adapter
    AdapterSide adapterSide = AdapterSide::ToTool;
    int bmsAnswerMs = 900; // --bms-answer-ms: how long the BMS waits for a whole answer

    bool adapterToTool() const { return adapterLatencyMs > 0 && adapterSide != AdapterSide::FromTool; }
    bool adapterFromTool() const { return adapterLatencyMs > 0 && adapterSide != AdapterSide::ToTool; }

    // When the simulator falls silent; nothing for never (also for values too large to reach).
    std::optional<Duration> silentAfter() const;
};

struct ParseResult {
    Options options;
    std::string error; // empty when the command line was understood
};

// Arguments without the program name.
ParseResult parseOptions(std::span<const std::string_view> args);

std::string helpText();

const char* roleName(RoleKind role);
const char* adapterSideName(AdapterSide side);

} // namespace zanst::sim
