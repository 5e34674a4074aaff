#pragma once
// zanst-cli's command line: one table of subcommands with their options, a strict parser over it
// (unknown options, missing values and bad numbers are one clear line and exit code 2), and the
// --help texts made from the same table.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zanst::cli {

enum class OutputFormat { Table, Json, Csv };

struct ScanArgs {
    std::string port;
    OutputFormat format = OutputFormat::Table;
};

struct WatchArgs {
    std::string port;
    std::optional<int> seconds; // empty: until interrupted
    int intervalMs = 1000;
    OutputFormat format = OutputFormat::Table;
};

struct FlashArgs {
    std::string port;
    std::string file;
    bool force = false;
};

struct MetricsArgs {
    std::string port;
    std::optional<std::string> outDir; // empty: the tool's metrics folder
};

struct CheckArgs {
    std::string port;
    int cells = 0;
    std::optional<int> minMv;
    std::optional<int> maxMv;
    std::optional<int> maxSpreadMv;
    std::optional<int> maxTempTenths; // --max-temp in degC, held in 0.1 degC
    std::optional<std::uint32_t> maxCrcErrors;
    int seconds = 10;
    std::optional<std::string> junit;
};

struct SniffArgs {
    std::string port;
    std::optional<std::string> capture;
    std::optional<int> seconds; // empty: until interrupted
};

struct EmulateArgs {
    std::string port;
    std::string from;
    int speed = 1; // 1, 2 or 10 times the recorded pace
    bool loop = false;
    std::vector<std::string> edits; // in their text form, in the order given
    std::optional<int> seconds;     // empty: to the recording's end (with --loop: until interrupted)
};

struct ExportArgs {
    std::string capture;
    std::string pcapng;
};

struct VisitsArgs {
    std::optional<std::string> serviceDb; // empty: ZANST_SERVICE_DB, else the tool's SQLite file
    std::optional<std::string> site;
    std::optional<std::string> serial;
    std::optional<int> limit;
    bool json = false;
};

struct ReportArgs {
    std::string visit; // an id, or its first characters when they name one visit
    std::optional<std::string> pdf;
    std::optional<std::string> json;
    std::optional<std::string> serviceDb;
};

using CommandArgs = std::variant<ScanArgs, WatchArgs, FlashArgs, MetricsArgs, CheckArgs, SniffArgs,
                                 EmulateArgs, ExportArgs, VisitsArgs, ReportArgs>;

struct Invocation {
    std::string command;
    CommandArgs args;
};

// --help or --version: the text goes to standard output, exit code 0.
struct TextRequest {
    std::string text;
};

// One line for standard error, exit code 2.
struct UsageError {
    std::string message;
};

using ParseResult = std::variant<Invocation, TextRequest, UsageError>;

// `args` are the arguments after the program name. `version` is what --version prints.
ParseResult parseCommandLine(std::span<const std::string> args, std::string_view version);

// The table behind the parser, for the help texts, the manual page check and completion.
enum class ValueKind { Flag, Text, Integer, Decimal };

struct OptionDef {
    std::string_view name;      // "--port"
    std::string_view valueName; // "P"; empty for a flag
    ValueKind kind = ValueKind::Flag;
    double min = 0; // numbers only, inclusive
    double max = 0;
    bool required = false;
    std::string_view help;
};

struct CommandDef {
    std::string_view name;
    std::string_view positional; // "FILE.hex"; empty when the command takes none
    std::string_view summary;
    std::vector<OptionDef> options;
    std::string_view details; // a paragraph under the options; may be empty
};

const std::vector<CommandDef>& commandTable();
const CommandDef* findCommand(std::string_view name);

std::string programHelp();
std::string commandHelp(const CommandDef& command);
// "zanst-cli scan --port P [--json | --csv]"
std::string synopsis(const CommandDef& command);

} // namespace zanst::cli
