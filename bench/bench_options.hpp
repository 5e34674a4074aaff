#pragma once
// The command line of the benchmark programs: each program lists its options in one table, and
// the usage text, the help and every refusal are made from that table, so that all programs take
// the same forms and refuse the same way.

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zanst::bench {

// Where an option's value goes. A bool is a switch: it takes no value and sets the bool.
using OptionTarget = std::variant<bool*, int*, std::size_t*, double*, std::string*>;

struct Option {
    std::string_view name;        // "--seconds"
    std::string_view placeholder; // "S", as in "--seconds S"; empty for a switch
    std::string_view help;        // one line, with the default
    OptionTarget target;
    // Bounds of a number, both included; a value outside them is refused.
    std::optional<double> minimum = std::nullopt;
    std::optional<double> maximum = std::nullopt;
};

// A word that must be given before or between the options, one of `choices` (soak's run); shown
// as "sniffer|tester|faults".
struct Operand {
    std::string_view name; // "run", for the messages
    std::string_view help;
    std::vector<std::string_view> choices;
    std::string* target;
};

struct OptionTable {
    std::string_view about; // what the program measures, for --help
    std::vector<Option> options;
    std::vector<Operand> operands = {};
};

inline constexpr int kUsageExit = 2;

// "usage: NAME WORD [--seconds S] [--plots]"
std::string usageLine(const OptionTable& table, std::string_view program);

// The usage line, what the program measures, then one line per option.
std::string helpText(const OptionTable& table, std::string_view program);

// Reads argv[1..] into the table's targets; a value is given as "--name V" or "--name=V".
// Returns nothing when the program should go on. Otherwise the program should end with the status
// returned: 0 after --help or -h (anywhere on the line) wrote the help to `out`, kUsageExit after
// one line saying what is wrong and the usage line went to `err`. Targets may already hold
// values read before a refusal.
std::optional<int> parseCommandLine(const OptionTable& table, int argc, const char* const* argv,
                                    std::ostream& out, std::ostream& err);

// The same on stdout and stderr.
std::optional<int> parseCommandLine(const OptionTable& table, int argc, const char* const* argv);

} // namespace zanst::bench
