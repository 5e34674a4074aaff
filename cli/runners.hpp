#pragma once
// The runners of zanst-cli's subcommands, one file each. The bus runners drive the engine
// headless through a Session; visits and report read the service log.

#include "cli/dispatch.hpp"

#include <span>

namespace zanst::cli {

// Ticks of the poll timer (a second each) that a bank gets to answer the enumeration.
inline constexpr int kAnswerTicks = 6;

int runScan(const Invocation& invocation, const Console& console);
int runWatch(const Invocation& invocation, const Console& console);
int runFlash(const Invocation& invocation, const Console& console);
int runMetrics(const Invocation& invocation, const Console& console);
int runCheck(const Invocation& invocation, const Console& console);
int runSniff(const Invocation& invocation, const Console& console);
int runEmulate(const Invocation& invocation, const Console& console);
int runVisits(const Invocation& invocation, const Console& console);
int runReport(const Invocation& invocation, const Console& console);

// Every subcommand's runner, export included.
std::span<const Runner> allRunners();

} // namespace zanst::cli
