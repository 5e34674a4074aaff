#include "bench_options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <ostream>

namespace zanst::bench {

namespace {

std::string_view programName(int argc, const char* const* argv) {
    if (argc < 1 || argv[0] == nullptr || *argv[0] == '\0') {
        return "bench";
    }
    const std::string_view path = argv[0];
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isHelp(std::string_view arg) {
    return arg == "--help" || arg == "-h";
}

bool isSwitch(const Option& option) {
    return std::holds_alternative<bool*>(option.target);
}

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A decimal number as people write it: an optional sign, digits, an optional fraction. No
// exponents, hex, spaces, "inf" or "nan": a duration of "inf" seconds would never end.
bool toDouble(std::string_view text, double& out) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!digits) {
        return false;
    }
    out = std::strtod(std::string(text).c_str(), nullptr);
    return true;
}

enum class Read { Ok, NotANumber, OutOfRange };

template <typename T> Read toWhole(std::string_view text, T& out) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, out);
    if (ec == std::errc::result_out_of_range && at == end) {
        return Read::OutOfRange;
    }
    return ec == std::errc{} && at == end ? Read::Ok : Read::NotANumber;
}

std::string boundsText(const Option& option) {
    if (option.minimum && option.maximum) {
        return "a number from " + number(*option.minimum) + " to " + number(*option.maximum);
    }
    if (option.minimum) {
        return "at least " + number(*option.minimum);
    }
    return "at most " + number(*option.maximum);
}

// Stores `value` in the option's target; returns what is wrong with it, or nothing.
std::string store(const Option& option, std::string_view value) {
    if (auto* text = std::get_if<std::string*>(&option.target)) {
        **text = std::string(value);
        return {};
    }
    double asNumber = 0;
    int whole = 0;
    std::size_t count = 0;
    Read read = Read::NotANumber;
    std::string_view wanted = "a number";
    if (std::holds_alternative<int*>(option.target)) {
        read = toWhole(value, whole);
        asNumber = whole;
        wanted = "a whole number";
    } else if (std::holds_alternative<std::size_t*>(option.target)) {
        read = toWhole(value, count);
        asNumber = static_cast<double>(count);
        wanted = "a whole number of 0 or more";
    } else if (std::holds_alternative<double*>(option.target)) {
        read = !toDouble(value, asNumber) ? Read::NotANumber
               : std::isfinite(asNumber)  ? Read::Ok
                                          : Read::OutOfRange;
    }
    const std::string name(option.name);
    if (read == Read::NotANumber) {
        return name + " takes " + std::string(wanted) + ", not " + quoted(value);
    }
    if (read == Read::OutOfRange) {
        return name + " takes " + std::string(wanted) + ": " + quoted(value) + " is out of range";
    }
    if ((option.minimum && asNumber < *option.minimum) || (option.maximum && asNumber > *option.maximum)) {
        return name + " takes " + boundsText(option) + ", not " + quoted(value);
    }
    // Only a value that passed every check reaches the target.
    if (auto* wholeTarget = std::get_if<int*>(&option.target)) {
        **wholeTarget = whole;
    } else if (auto* countTarget = std::get_if<std::size_t*>(&option.target)) {
        **countTarget = count;
    } else if (auto* realTarget = std::get_if<double*>(&option.target)) {
        **realTarget = asNumber;
    }
    return {};
}

const Option* findOption(const OptionTable& table, std::string_view name) {
    const auto it = std::find_if(table.options.begin(), table.options.end(),
                                 [&](const Option& o) { return o.name == name; });
    return it == table.options.end() ? nullptr : &*it;
}

// "sniffer, tester or faults"
std::string choicesText(const Operand& operand) {
    std::string out;
    for (std::size_t i = 0; i < operand.choices.size(); ++i) {
        out += i == 0 ? "" : (i + 1 == operand.choices.size() ? " or " : ", ");
        out += operand.choices[i];
    }
    return out;
}

// "sniffer|tester|faults"
std::string placeholder(const Operand& operand) {
    std::string out;
    for (std::string_view choice : operand.choices) {
        out += (out.empty() ? "" : "|") + std::string(choice);
    }
    return out.empty() ? std::string(operand.name) : out;
}

// What is wrong with the line, or nothing.
std::string parse(const OptionTable& table, int argc, const char* const* argv) {
    std::size_t operandsGiven = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() > 1 && arg.front() == '-') {
            std::string_view name = arg;
            std::optional<std::string_view> value;
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
            const Option* option = findOption(table, name);
            if (option == nullptr) {
                return "unknown option " + quoted(name);
            }
            if (isSwitch(*option)) {
                if (value) {
                    return std::string(name) + " takes no value";
                }
                *std::get<bool*>(option->target) = true;
                continue;
            }
            // The next word is the value unless it is the next option ("--seconds --rounds 3");
            // a negative number has a single dash.
            if (!value && i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--")) {
                value = argv[++i];
            }
            if (!value || value->empty()) {
                return std::string(name) + " needs a value: " + std::string(name) + " " +
                       std::string(option->placeholder);
            }
            if (std::string wrong = store(*option, *value); !wrong.empty()) {
                return wrong;
            }
            continue;
        }
        if (operandsGiven == table.operands.size()) {
            return "unexpected argument " + quoted(arg);
        }
        const Operand& operand = table.operands[operandsGiven++];
        if (!operand.choices.empty() &&
            std::find(operand.choices.begin(), operand.choices.end(), arg) == operand.choices.end()) {
            return "unknown " + std::string(operand.name) + " " + quoted(arg) + ": choose " +
                   choicesText(operand);
        }
        *operand.target = std::string(arg);
    }
    if (operandsGiven < table.operands.size()) {
        const Operand& operand = table.operands[operandsGiven];
        return "missing the " + std::string(operand.name) +
               (operand.choices.empty() ? "" : ": choose " + choicesText(operand));
    }
    return {};
}

} // namespace

std::string usageLine(const OptionTable& table, std::string_view program) {
    std::string out = "usage: " + std::string(program);
    for (const Operand& operand : table.operands) {
        out += " " + placeholder(operand);
    }
    for (const Option& option : table.options) {
        out += " [" + std::string(option.name);
        if (!isSwitch(option)) {
            out += " " + std::string(option.placeholder);
        }
        out += "]";
    }
    return out;
}

std::string helpText(const OptionTable& table, std::string_view program) {
    std::vector<std::pair<std::string, std::string_view>> rows;
    for (const Operand& operand : table.operands) {
        rows.emplace_back(placeholder(operand), operand.help);
    }
    for (const Option& option : table.options) {
        std::string left(option.name);
        if (!isSwitch(option)) {
            left += " " + std::string(option.placeholder);
        }
        rows.emplace_back(std::move(left), option.help);
    }
    rows.emplace_back("--help", "this text");
    std::size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row.first.size());
    }
    std::string out = usageLine(table, program) + "\n";
    if (!table.about.empty()) {
        out += std::string(table.about) + "\n";
    }
    out += "\n";
    for (const auto& [left, help] : rows) {
        out += "  " + left + std::string(width - left.size() + 2, ' ') + std::string(help) + "\n";
    }
    return out;
}

std::optional<int> parseCommandLine(const OptionTable& table, int argc, const char* const* argv,
                                    std::ostream& out, std::ostream& err) {
    const std::string_view program = programName(argc, argv);
    // Help wins wherever it stands, even after a mistake.
    for (int i = 1; i < argc; ++i) {
        if (isHelp(argv[i])) {
            out << helpText(table, program) << std::flush;
            return 0;
        }
    }
    if (const std::string wrong = parse(table, argc, argv); !wrong.empty()) {
        err << program << ": " << wrong << "\n" << usageLine(table, program) << "\n" << std::flush;
        return kUsageExit;
    }
    return std::nullopt;
}

std::optional<int> parseCommandLine(const OptionTable& table, int argc, const char* const* argv) {
    return parseCommandLine(table, argc, argv, std::cout, std::cerr);
}

} // namespace zanst::bench
