#pragma once
// From the command line to a subcommand's runner. The runners are a table: wiring a subcommand is
// one entry, {"scan", runScan}. A parsed subcommand without an entry says so and exits with 2.

#include "cli/command_line.hpp"

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace zanst::cli {

// Where a runner writes: results to `out`, log lines and errors to `err`.
struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;

    // False once `out` cannot be written (a closed pipe, a full disk).
    bool print(const std::string& text) const;
    // One line on `err`, prefixed with "zanst-cli: ".
    void error(const std::string& line) const;
};

using RunFunction = std::function<int(const Invocation&, const Console&)>;

struct Runner {
    std::string_view command;
    RunFunction run;
};

// The runners that need no bus engine (export).
std::span<const Runner> engineFreeRunners();

// Parses `args` (without the program name), runs the subcommand's runner and returns the exit code.
// An exception from a runner is one line on `err` and exit code 1, never a crash.
int runCommandLine(std::span<const std::string> args, std::span<const Runner> runners, const Console& console,
                   std::string_view version);

// export FILE --pcapng OUT
int runExport(const Invocation& invocation, const Console& console);

} // namespace zanst::cli
