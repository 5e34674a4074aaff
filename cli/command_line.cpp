#include "cli/command_line.hpp"

#include "cli/exit_codes.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace zanst::cli {

namespace {

constexpr std::string_view kProgram = "zanst-cli";

constexpr OptionDef portOption() {
    return {"--port",
            "P",
            ValueKind::Text,
            0,
            0,
            true,
            "serial port, e.g. /dev/ttyUSB0 or a pseudo-terminal from zanst-sim"};
}
constexpr OptionDef jsonOption(std::string_view help) {
    return {"--json", "", ValueKind::Flag, 0, 0, false, help};
}
constexpr OptionDef csvOption(std::string_view help) {
    return {"--csv", "", ValueKind::Flag, 0, 0, false, help};
}
constexpr OptionDef serviceDbOption() {
    return {"--service-db",
            "URL",
            ValueKind::Text,
            0,
            0,
            false,
            "the service log: sqlite:///FILE or postgresql://USER@HOST/DB (default: ZANST_SERVICE_DB, "
            "else the SQLite file in the tool's data folder)"};
}

const std::vector<CommandDef>& table() {
    static const std::vector<CommandDef> commands = {
        {"scan",
         "",
         "enumerate the balancers, poll them once and print one row per balancer",
         {portOption(), jsonOption("print the rows as one JSON object"), csvOption("print the rows as CSV")},
         "Columns: id, battery, serial, voltage, current, temperature, firmware, boot loader, product id."},
        {"watch",
         "",
         "poll as \"Battery tester\" does and print a line per tick",
         {portOption(),
          {"--seconds", "N", ValueKind::Integer, 1, 86400, false,
           "stop after N seconds (default: until Ctrl+C)"},
          {"--interval", "MS", ValueKind::Integer, 100, 60000, false,
           "milliseconds between polls, 100 to 60000 (default 1000)"},
          jsonOption("one JSON object a line"),
          csvOption("the CSV of the recordings, one row per cell and tick")},
         ""},
        {"flash",
         "FILE.hex",
         "update the firmware of every balancer from an Intel HEX image",
         {portOption(),
          {"--force", "", ValueKind::Flag, 0, 0, false,
           "update even balancers that already run the file's version"}},
         "Log lines go to standard error, with a progress bar on a terminal and plain percentages otherwise. "
         "Afterwards every balancer's version is read back: the exit code is 0 only when every balancer "
         "reports the file's version."},
        {"metrics",
         "",
         "fetch the lifetime metrics of every battery (\"Get All Metrics\") into a metrics file",
         {portOption(),
          {"--out", "DIR", ValueKind::Text, 0, 0, false,
           "folder for the metrics file (default: the tool's Metrics folder)"}},
         ""},
        {"check",
         "",
         "an end-of-line test: poll for a while and check every given limit",
         {portOption(),
          {"--cells", "N", ValueKind::Integer, 1, 255, true, "number of balancers the bank must have"},
          {"--min-mv", "A", ValueKind::Integer, 1000, 5095, false, "lowest cell voltage allowed, mV"},
          {"--max-mv", "B", ValueKind::Integer, 1000, 5095, false, "highest cell voltage allowed, mV"},
          {"--max-spread-mv", "C", ValueKind::Integer, 0, 4095, false,
           "largest difference between the highest and the lowest cell, mV"},
          {"--max-temp", "T", ValueKind::Decimal, -102.4, 102.3, false,
           "highest cell temperature allowed, degC"},
          {"--max-crc-errors", "E", ValueKind::Integer, 0, 4294967295.0, false,
           "most records allowed to fail their CRC-8"},
          {"--seconds", "S", ValueKind::Integer, 1, 3600, false, "how long to poll (default 10)"},
          {"--junit", "FILE", ValueKind::Text, 0, 0, false,
           "write the results as JUnit XML, one test case a limit"}},
         "Each limit given is one test case; the balancer count always is. The exit code is 0 when every "
         "case passes and 1 when a limit failed."},
        {"sniff",
         "",
         "the data sniffer without a window: repeat every byte and decode the traffic",
         {portOption(),
          {"--capture", "FILE", ValueKind::Text, 0, 0, false, "also write every byte to a capture file"},
          {"--seconds", "N", ValueKind::Integer, 1, 86400, false,
           "stop after N seconds (default: until Ctrl+C)"}},
         ""},
        {"emulate",
         "",
         "play a recorded bank into a real BMS, as \"Play bank...\" on \"BMS tester\" does",
         {portOption(),
          {"--from", "FILE", ValueKind::Text, 0, 0, true,
           "the recording: a capture (.zcap) of any mode or the CSV of a recording"},
          {"--speed", "X", ValueKind::Integer, 1, 10, false,
           "1, 2 or 10 times the recorded pace (default 1)"},
          {"--loop", "", ValueKind::Flag, 0, 0, false, "start again from the beginning after the end"},
          {"--edit", "TEXT", ValueKind::Text, 0, 0, false,
           "edits on top of the recording, separated by ';', e.g. \"cell 5 drifts 2 mV a second lower "
           "from 00:03:10\""},
          {"--seconds", "N", ValueKind::Integer, 1, 864000, false,
           "stop after N seconds (default: at the recording's end; with --loop until Ctrl+C)"}},
         "The emulated bank takes the model that matches the recorded cell count and answers the BMS with "
         "the "
         "recorded cell voltages, temperatures and bank current, built as for the sliders' values. One line "
         "a "
         "step goes to standard output. What the BMS answered is captured beside the recording "
         "(NAME_answers_TIME.zcap; in the tool's Recordings folder when the recording's folder cannot be "
         "written). The exit code is 1 when the recording cannot be played, an edit is refused, or no BMS "
         "asked for the bank while it played."},
        {"export",
         "FILE",
         "convert a capture file (.zcap) to pcapng for Wireshark",
         {{"--pcapng", "OUT", ValueKind::Text, 0, 0, true, "the pcapng file to write"}},
         "One packet per frame or record of each direction, with its time, direction and CRC verdict, "
         "link type USER0 (147). A damaged capture exports its valid part and exits with 1."},
        {"visits",
         "",
         "list the visits in the service log, newest first",
         {serviceDbOption(),
          {"--site", "TEXT", ValueKind::Text, 0, 0, false, "only visits at a site whose name holds TEXT"},
          {"--serial", "S", ValueKind::Text, 0, 0, false, "only visits that found the battery with serial S"},
          {"--limit", "N", ValueKind::Integer, 1, 1000000, false, "at most N visits, the newest"},
          jsonOption("print the visits as one JSON object")},
         "A password for a PostgreSQL server belongs in ~/.pgpass or PGPASSFILE, never on the command line; "
         "no message shows one."},
        {"report",
         "VISIT",
         "write the service report of a visit as a PDF, as JSON, or both",
         {{"--pdf", "FILE", ValueKind::Text, 0, 0, false, "the report as one to three A4 pages"},
          {"--json", "FILE", ValueKind::Text, 0, 0, false, "the same content as JSON"},
          serviceDbOption()},
         "VISIT is a visit's id as visits prints it, or its first characters when they name one visit. The "
         "report compares the visit with the latest earlier one that found one of its batteries. The PDF "
         "writer is loaded only for --pdf; --json works without it."},
    };
    return commands;
}

struct Values {
    std::map<std::string_view, std::string> text;
    std::map<std::string_view, long long> integers;
    std::map<std::string_view, double> decimals;
    std::set<std::string_view> flags;
    std::string positional;

    std::optional<std::string> textOf(std::string_view name) const {
        const auto it = text.find(name);
        return it == text.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<int> intOf(std::string_view name) const {
        const auto it = integers.find(name);
        return it == integers.end() ? std::nullopt : std::optional(static_cast<int>(it->second));
    }
    bool has(std::string_view flag) const { return flags.count(flag) != 0; }
};

std::string commandRef(const CommandDef& c) {
    return " (see " + std::string(kProgram) + " " + std::string(c.name) + " --help)";
}

std::string numberText(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// The whole text as a number; empty on anything else (blanks, a sign '+', an exponent, "inf").
std::optional<long long> readInteger(std::string_view s) {
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> readDecimal(std::string_view s) {
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::string> storeValue(const OptionDef& o, std::string_view value, Values& values) {
    const std::string name(o.name);
    switch (o.kind) {
    case ValueKind::Flag:
        values.flags.insert(o.name);
        return std::nullopt;
    case ValueKind::Text:
        if (value.empty()) {
            return name + " needs a non-empty " + std::string(o.valueName);
        }
        values.text[o.name] = std::string(value);
        return std::nullopt;
    case ValueKind::Integer: {
        const auto v = readInteger(value);
        if (!v) {
            return name + ": \"" + std::string(value) + "\" is not a whole number";
        }
        if (static_cast<double>(*v) < o.min || static_cast<double>(*v) > o.max) {
            return name + ": " + std::string(value) + " is out of range (" + numberText(o.min) + " to " +
                   numberText(o.max) + ")";
        }
        values.integers[o.name] = *v;
        return std::nullopt;
    }
    case ValueKind::Decimal: {
        const auto v = readDecimal(value);
        if (!v) {
            return name + ": \"" + std::string(value) + "\" is not a number";
        }
        if (*v < o.min || *v > o.max) {
            return name + ": " + std::string(value) + " is out of range (" + numberText(o.min) + " to " +
                   numberText(o.max) + ")";
        }
        values.decimals[o.name] = *v;
        return std::nullopt;
    }
    }
    return std::nullopt;
}

std::optional<OutputFormat> formatOf(const Values& v, std::string& error) {
    if (v.has("--json") && v.has("--csv")) {
        error = "--json and --csv exclude each other";
        return std::nullopt;
    }
    return v.has("--json") ? OutputFormat::Json : v.has("--csv") ? OutputFormat::Csv : OutputFormat::Table;
}

// The typed arguments of a command, or which combination of options is wrong.
std::variant<CommandArgs, UsageError> build(std::string_view command, const Values& v) {
    std::string error;
    const std::string port = v.textOf("--port").value_or("");
    if (command == "scan") {
        const auto format = formatOf(v, error);
        if (!format) {
            return UsageError{error};
        }
        return ScanArgs{port, *format};
    }
    if (command == "watch") {
        const auto format = formatOf(v, error);
        if (!format) {
            return UsageError{error};
        }
        return WatchArgs{port, v.intOf("--seconds"), v.intOf("--interval").value_or(1000), *format};
    }
    if (command == "flash") {
        return FlashArgs{port, v.positional, v.has("--force")};
    }
    if (command == "metrics") {
        return MetricsArgs{port, v.textOf("--out")};
    }
    if (command == "check") {
        CheckArgs a;
        a.port = port;
        a.cells = v.intOf("--cells").value_or(0);
        a.minMv = v.intOf("--min-mv");
        a.maxMv = v.intOf("--max-mv");
        a.maxSpreadMv = v.intOf("--max-spread-mv");
        if (const auto t = v.decimals.find("--max-temp"); t != v.decimals.end()) {
            a.maxTempTenths = static_cast<int>(std::lround(t->second * 10.0));
        }
        if (const auto e = v.integers.find("--max-crc-errors"); e != v.integers.end()) {
            a.maxCrcErrors = static_cast<std::uint32_t>(e->second);
        }
        a.seconds = v.intOf("--seconds").value_or(10);
        a.junit = v.textOf("--junit");
        if (a.minMv && a.maxMv && *a.minMv > *a.maxMv) {
            return UsageError{"--min-mv " + std::to_string(*a.minMv) + " is above --max-mv " +
                              std::to_string(*a.maxMv)};
        }
        return a;
    }
    if (command == "sniff") {
        return SniffArgs{port, v.textOf("--capture"), v.intOf("--seconds")};
    }
    if (command == "emulate") {
        EmulateArgs a;
        a.port = port;
        a.from = v.textOf("--from").value_or("");
        a.speed = v.intOf("--speed").value_or(1);
        if (a.speed != 1 && a.speed != 2 && a.speed != 10) {
            return UsageError{"--speed: " + std::to_string(a.speed) + " is not one of 1, 2 and 10"};
        }
        a.loop = v.has("--loop");
        if (const auto edits = v.textOf("--edit")) {
            std::size_t at = 0;
            while (at <= edits->size()) {
                std::size_t end = edits->find(';', at);
                end = end == std::string::npos ? edits->size() : end;
                std::string edit = edits->substr(at, end - at);
                edit.erase(0, edit.find_first_not_of(' '));
                edit.erase(edit.find_last_not_of(' ') + 1);
                if (!edit.empty()) {
                    a.edits.push_back(std::move(edit));
                }
                at = end + 1;
            }
            if (a.edits.empty()) {
                return UsageError{"--edit holds no edit"};
            }
        }
        a.seconds = v.intOf("--seconds");
        return a;
    }
    if (command == "export") {
        return ExportArgs{v.positional, v.textOf("--pcapng").value_or("")};
    }
    if (command == "visits") {
        return VisitsArgs{v.textOf("--service-db"), v.textOf("--site"), v.textOf("--serial"),
                          v.intOf("--limit"), v.has("--json")};
    }
    if (command == "report") {
        ReportArgs a{v.positional, v.textOf("--pdf"), v.textOf("--json"), v.textOf("--service-db")};
        if (!a.pdf && !a.json) {
            return UsageError{"--pdf FILE or --json FILE is needed"};
        }
        if (a.pdf && a.json && *a.pdf == *a.json) {
            return UsageError{"--pdf and --json name the same file"};
        }
        return a;
    }
    return UsageError{"no arguments known for " + std::string(command)};
}

ParseResult parseCommand(const CommandDef& c, std::span<const std::string> args) {
    Values values;
    std::set<std::string_view> seen;
    bool positionalTaken = false;
    bool optionsEnded = false;
    const auto usage = [&c](const std::string& what) {
        return UsageError{std::string(kProgram) + " " + std::string(c.name) + ": " + what + commandRef(c)};
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            return TextRequest{commandHelp(c)};
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (c.positional.empty()) {
                return usage("unexpected argument \"" + arg + "\"");
            }
            if (positionalTaken) {
                return usage("only one " + std::string(c.positional) + " is taken, \"" + arg +
                             "\" is one too many");
            }
            values.positional = arg;
            positionalTaken = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(0, eq);
        const OptionDef* option = nullptr;
        for (const OptionDef& o : c.options) {
            if (o.name == name) {
                option = &o;
            }
        }
        if (option == nullptr) {
            return usage("unknown option " + std::string(name));
        }
        if (!seen.insert(option->name).second) {
            return usage(std::string(option->name) + " given twice");
        }
        std::string_view value;
        if (option->kind == ValueKind::Flag) {
            if (eq != std::string::npos) {
                return usage(std::string(option->name) + " takes no value");
            }
        } else if (eq != std::string::npos) {
            value = std::string_view(arg).substr(eq + 1);
        } else if (i + 1 < args.size() && !args[i + 1].starts_with("--")) {
            value = args[++i]; // "-5" is a value, "--json" the next option
        } else {
            return usage(std::string(option->name) + " needs a value (" + std::string(option->valueName) +
                         ")");
        }
        if (const auto error = storeValue(*option, value, values)) {
            return usage(*error);
        }
    }
    for (const OptionDef& o : c.options) {
        if (o.required && seen.count(o.name) == 0) {
            return usage("missing " + std::string(o.name) + " " + std::string(o.valueName));
        }
    }
    if (!c.positional.empty() && !positionalTaken) {
        return usage("missing " + std::string(c.positional));
    }
    auto built = build(c.name, values);
    if (auto* error = std::get_if<UsageError>(&built)) {
        return usage(error->message);
    }
    return Invocation{std::string(c.name), std::get<CommandArgs>(std::move(built))};
}

void wrapInto(std::string& out, std::string_view text, std::size_t indent, std::size_t width) {
    std::size_t column = indent;
    out.append(indent, ' ');
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view word = text.substr(at, end - at);
        if (!first && column + 1 + word.size() > width) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            first = true;
        }
        if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
        at = end + 1;
    }
    out += '\n';
}

} // namespace

const std::vector<CommandDef>& commandTable() {
    return table();
}

const CommandDef* findCommand(std::string_view name) {
    for (const CommandDef& c : table()) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

namespace {

// The synopsis in pieces that a line break may not split ("[--seconds S]").
std::vector<std::string> synopsisItems(const CommandDef& c) {
    std::vector<std::string> items = {std::string(kProgram), std::string(c.name)};
    if (!c.positional.empty()) {
        items.emplace_back(c.positional);
    }
    std::string formats; // "--json | --csv", the output formats of the command
    for (const OptionDef& o : c.options) {
        if ((o.name == "--json" || o.name == "--csv") && o.kind == ValueKind::Flag) {
            formats += (formats.empty() ? "" : " | ") + std::string(o.name);
            continue;
        }
        std::string item = std::string(o.name);
        if (!o.valueName.empty()) {
            item += " " + std::string(o.valueName);
        }
        items.push_back(o.required ? item : "[" + item + "]");
    }
    if (!formats.empty()) {
        items.push_back("[" + formats + "]");
    }
    return items;
}

} // namespace

std::string synopsis(const CommandDef& c) {
    std::string s;
    for (const std::string& item : synopsisItems(c)) {
        s += (s.empty() ? "" : " ") + item;
    }
    return s;
}

std::string commandHelp(const CommandDef& c) {
    // Usage lines of at most 78 columns, continued under the first option.
    const std::vector<std::string> items = synopsisItems(c);
    std::string out = "Usage: " + items[0] + " " + items[1];
    const std::size_t indent = out.size() + 1;
    std::size_t column = out.size();
    for (std::size_t i = 2; i < items.size(); ++i) {
        if (column + 1 + items[i].size() > 78) {
            out += "\n" + std::string(indent - 1, ' ');
            column = indent - 1;
        }
        out += " " + items[i];
        column += 1 + items[i].size();
    }
    out += "\n\n";
    std::string summary(c.summary);
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    wrapInto(out, summary + ".", 0, 78);
    out += "\nOptions:\n";
    for (const OptionDef& o : c.options) {
        std::string item = "  " + std::string(o.name);
        if (!o.valueName.empty()) {
            item += " " + std::string(o.valueName);
        }
        out += item + "\n";
        wrapInto(out, o.help, 6, 78);
    }
    out += "  -h, --help\n      show this help and exit\n";
    if (!c.details.empty()) {
        out += "\n";
        wrapInto(out, c.details, 0, 78);
    }
    return out;
}

std::string programHelp() {
    std::string out = "Usage: " + std::string(kProgram) +
                      " SUBCOMMAND [OPTIONS]\n"
                      "       " +
                      std::string(kProgram) +
                      " SUBCOMMAND --help\n\n"
                      "The Zanst service tool on the command line.\n\nSubcommands:\n";
    for (const CommandDef& c : table()) {
        std::string name = "  " + std::string(c.name);
        name.resize(12, ' ');
        out += name + std::string(c.summary) + "\n";
    }
    out +=
        "\nOptions:\n  -h, --help     show this help and exit\n  --version      show the version and exit\n"
        "\nExit codes:\n";
    for (const ExitCodeText& e : kExitCodes) {
        out += "  " + std::to_string(code(e.code)) + "  " + std::string(e.meaning) + "\n";
    }
    return out;
}

ParseResult parseCommandLine(std::span<const std::string> args, std::string_view version) {
    if (args.empty()) {
        return UsageError{std::string(kProgram) + ": a subcommand is needed (see " + std::string(kProgram) +
                          " --help)"};
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        if (first == "help" && args.size() > 1) {
            if (const CommandDef* c = findCommand(args[1])) {
                return TextRequest{commandHelp(*c)};
            }
            return UsageError{std::string(kProgram) + ": unknown subcommand \"" + args[1] + "\" (see " +
                              std::string(kProgram) + " --help)"};
        }
        return TextRequest{programHelp()};
    }
    if (first == "--version") {
        return TextRequest{std::string(kProgram) + " " + std::string(version) + "\n"};
    }
    const CommandDef* c = findCommand(first);
    if (c == nullptr) {
        const std::string what = first.starts_with("-") ? "unknown option \"" : "unknown subcommand \"";
        return UsageError{std::string(kProgram) + ": " + what + first + "\" (see " + std::string(kProgram) +
                          " --help)"};
    }
    return parseCommand(*c, args.subspan(1));
}

} // namespace zanst::cli
