#include "sim/options.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace zanst::sim {

namespace {

// A decimal number as people write it: an optional sign, digits, an optional fraction. No
// exponents, hex, spaces, "inf" or "nan".
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
    const std::string s(text);
    out = std::strtod(s.c_str(), nullptr);
    return std::isfinite(out);
}

bool toLong(std::string_view text, long& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc{} && end == text.data() + text.size();
}

// A byte value: decimal, or hexadecimal after "0x" (as command codes are written).
bool toByte(std::string_view text, long& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return !text.empty() && ec == std::errc{} && end == text.data() + text.size() && out >= 0 && out <= 255;
}

// Which roles an option applies to.
enum RoleMask : unsigned { kBank = 1u, kBms = 2u, kRing = 4u, kAnyRole = kBank | kBms | kRing };

unsigned maskOf(RoleKind role) {
    switch (role) {
    case RoleKind::Bank:
        return kBank;
    case RoleKind::Bms:
        return kBms;
    case RoleKind::Ring:
        return kRing;
    }
    return 0;
}

struct KnownOption {
    std::string_view name;
    bool takesValue;
    unsigned roles;
};

constexpr KnownOption kKnownOptions[] = {
    {"--preset", true, kBank | kRing},
    {"--dead-after", true, kBank | kRing},
    {"--batteries", true, kBank | kRing},
    {"--current", true, kAnyRole},
    {"--no-noise", false, kBank | kRing},
    {"--drop-rate", true, kAnyRole},
    {"--corrupt-rate", true, kAnyRole},
    {"--silent-after", true, kAnyRole},
    {"--slow-byte-us", true, kAnyRole},
    {"--link", true, kAnyRole},
    {"--capture", true, kAnyRole},
    {"--seed", true, kAnyRole},
    {"--quiet", false, kBank},
    {"--exit-with-parent", false, kAnyRole},
    {"--swallow-command", true, kBank},
    {"--swallow-block", true, kBank},
    {"--metrics-silent", true, kBank},
    {"--adapter-latency", true, kAnyRole},
    {"--adapter-side", true, kAnyRole},
    {"--bms-answer-ms", true, kBms | kRing},
    {"--from", true, kBank | kRing},
    {"--expect", true, kBms},
};

// What the simulated bank's model takes, which a played recording has of its own.
constexpr std::string_view kModelOptions[] = {"--preset",   "--batteries",  "--current",
                                              "--no-noise", "--dead-after", "--metrics-silent"};

const KnownOption* findOption(std::string_view name) {
    for (const KnownOption& option : kKnownOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

bool isHelp(std::string_view arg) {
    return arg == "-h" || arg == "--help";
}

// The models grouped by cells in series, wrapped for the help text.
std::string presetHelp() {
    std::string out;
    for (int cells : {4, 8, 16}) {
        std::string line = "                    " + std::to_string(cells) + " cells:";
        for (const Preset& p : emulator::batteryInfoArray) {
            if (p.cellsInSeries != cells) {
                continue;
            }
            char item[24];
            std::snprintf(item, sizeof item, " 0x%04X (%d Ah)", p.productId, p.capacityAh);
            if (line.size() + std::strlen(item) > 80) {
                out += line + "\n";
                line = "                           ";
            }
            line += item;
        }
        out += line + "\n";
    }
    return out;
}

} // namespace

const char* roleName(RoleKind role) {
    switch (role) {
    case RoleKind::Bank:
        return "bank";
    case RoleKind::Bms:
        return "bms";
    case RoleKind::Ring:
        return "ring";
    }
    return "?";
}

const char* adapterSideName(AdapterSide side) {
    switch (side) {
    case AdapterSide::ToTool:
        return "to-tool";
    case AdapterSide::FromTool:
        return "from-tool";
    case AdapterSide::Both:
        return "both";
    }
    return "?";
}

ParseResult parseOptions(std::span<const std::string_view> args) {
    ParseResult r;
    Options& o = r.options;
    // Help wins wherever it stands, even after a mistake.
    for (std::string_view arg : args) {
        if (isHelp(arg)) {
            o.help = true;
            return r;
        }
    }
    bool roleSeen = false;
    std::vector<const KnownOption*> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (!arg.starts_with("-")) {
            if (roleSeen) {
                r.error = "only one role may be given, found '" + std::string(arg) + "'";
                return r;
            }
            roleSeen = true;
            if (arg == "bank") {
                o.role = RoleKind::Bank;
            } else if (arg == "bms") {
                o.role = RoleKind::Bms;
            } else if (arg == "ring") {
                o.role = RoleKind::Ring;
            } else {
                r.error = "unknown role '" + std::string(arg) + "': choose bank, bms or ring";
                return r;
            }
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        // The option is known by its name before any value is taken.
        const KnownOption* option = findOption(name);
        if (option == nullptr) {
            r.error = "unknown option " + std::string(name) + " (see --help)";
            return r;
        }
        given.push_back(option);
        if (!option->takesValue) {
            if (inlineValue) {
                r.error = std::string(name) + " takes no value";
                return r;
            }
            if (name == "--quiet") {
                o.quiet = true;
            } else if (name == "--no-noise") {
                o.noise = false;
            } else {
                o.exitWithParent = true;
            }
            continue;
        }
        std::string_view value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size() && !args[i + 1].starts_with("--")) {
            value = args[++i];
        } else {
            r.error = std::string(name) + " needs a value";
            return r;
        }
        const std::string v(value);
        const auto bad = [&](const std::string& what) {
            r.error = std::string(name) + " '" + v + "': " + what;
            return r;
        };
        double d = 0;
        long n = 0;
        if (name == "--preset") {
            const auto p = parsePreset(value);
            if (!p) {
                return bad("not a product id; choose one of " + presetList());
            }
            o.preset = *p;
        } else if (name == "--batteries") {
            if (!toLong(value, n) || n < 1 || n > 10) {
                return bad("needs a whole number from 1 to 10");
            }
            o.batteries = static_cast<int>(n);
        } else if (name == "--dead-after") {
            if (!toLong(value, n) || n < 1 || n > 4095) {
                return bad("needs a balancer id from 1 to 4095");
            }
            o.deadAfter = static_cast<int>(n);
        } else if (name == "--current") {
            if (!toDouble(value, d) || d < -500 || d > 500) {
                return bad("needs amperes from -500 to 500");
            }
            o.currentA = d;
        } else if (name == "--link") {
            if (value.empty()) {
                return bad("needs a path");
            }
            o.link = v;
        } else if (name == "--capture") {
            if (value.empty()) {
                return bad("needs a file name");
            }
            o.capture = v;
        } else if (name == "--from" || name == "--expect") {
            if (value.empty()) {
                return bad("needs a recording: a capture or a recording's CSV");
            }
            (name == "--from" ? o.from : o.expect) = v;
        } else if (name == "--drop-rate" || name == "--corrupt-rate") {
            if (!toDouble(value, d) || d < 0 || d > 1) {
                return bad("needs a probability from 0 to 1");
            }
            (name == "--drop-rate" ? o.dropRate : o.corruptRate) = d;
        } else if (name == "--silent-after") {
            if (!toDouble(value, d) || d < 0) {
                return bad("needs seconds, 0 or more");
            }
            o.silentAfterS = d;
        } else if (name == "--slow-byte-us") {
            if (!toLong(value, n) || n < 0 || n > 100000) {
                return bad("needs microseconds from 0 to 100000");
            }
            o.slowByteUs = static_cast<int>(n);
        } else if (name == "--swallow-command") {
            if (!toByte(value, n)) {
                return bad("needs a command code from 0 to 255, e.g. 0x20");
            }
            o.swallowCommands.push_back(static_cast<std::uint8_t>(n));
        } else if (name == "--swallow-block") {
            if (!toLong(value, n) || n < 0 || n > 255) {
                return bad("needs a block number from 0 to 255");
            }
            o.swallowBlocks.push_back(static_cast<int>(n));
        } else if (name == "--metrics-silent") {
            if (!toLong(value, n) || n < 1 || n > 10) {
                return bad("needs a battery number from 1 to 10");
            }
            o.metricsSilent = static_cast<int>(n);
        } else if (name == "--adapter-latency") {
            if (!toLong(value, n) || n < 1 || n > 255) {
                return bad("needs milliseconds from 1 to 255, as an adapter's latency timer takes");
            }
            o.adapterLatencyMs = static_cast<int>(n);
        } else if (name == "--adapter-side") {
            if (value == "to-tool") {
                o.adapterSide = AdapterSide::ToTool;
            } else if (value == "from-tool") {
                o.adapterSide = AdapterSide::FromTool;
            } else if (value == "both") {
                o.adapterSide = AdapterSide::Both;
            } else {
                return bad("choose to-tool, from-tool or both");
            }
        } else if (name == "--bms-answer-ms") {
            if (!toLong(value, n) || n < 1 || n > 900) {
                return bad("needs milliseconds from 1 to 900");
            }
            o.bmsAnswerMs = static_cast<int>(n);
        } else if (name == "--seed") {
            if (!toLong(value, n) || n < 0 || n > 0xFFFFFFFFL) {
                return bad("needs a whole number from 0 to 4294967295");
            }
            o.seed = static_cast<std::uint32_t>(n);
        }
    }
    // The role may come last, so what applies to it is checked once everything is read.
    for (const KnownOption* option : given) {
        if ((option->roles & maskOf(o.role)) == 0) {
            r.error = std::string(option->name) + " does not apply to the " + roleName(o.role) + " role";
            return r;
        }
        if (option->name == "--adapter-side" && o.adapterLatencyMs == 0) {
            r.error = "--adapter-side needs --adapter-latency";
            return r;
        }
        for (const std::string_view model : kModelOptions) {
            if (!o.from.empty() && option->name == model) {
                r.error = std::string(model) + " does not apply with --from: the recording is the bank";
                return r;
            }
        }
    }
    return r;
}

std::optional<Duration> Options::silentAfter() const {
    // Anything beyond a year is "never": no run lasts that long, and the clock cannot overflow.
    constexpr double kNeverS = 365.0 * 24 * 3600;
    if (!silentAfterS || *silentAfterS >= kNeverS) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(*silentAfterS));
}

std::string helpText() {
    return R"(zanst-sim - a battery bus without hardware, on a pseudo-terminal

Usage: zanst-sim [bank|bms|ring] [options]

Options are known by name before a value is taken; one that does not apply to
the role is refused. Numbers are plain decimals.

The simulator opens a pseudo-terminal, prints its device path and plays its role
there until it is stopped with Ctrl+C (SIGINT) or SIGTERM. Point the tool at it:
  zanst-sim bank --link /tmp/zanst-bank &
  ZANST_EXTRA_PORTS=/tmp/zanst-bank zanst

Roles:
  bank   (default) a ring of balancers for the tool in "Battery tester" mode. It
         answers info requests (one 32-byte info record per balancer), measurement
         requests (each balancer fills its own 12-byte record) and calibration-data
         requests, and obeys the service commands (test mode, balancing load,
         calibration, battery parameters, reload, current gain, firmware update).
  bms    a BMS for the tool in "BMS tester" mode: once a second an info request
         until it is answered, then measurement requests with one placeholder
         record per known balancer. Each answer is checked byte by byte and
         printed as one line: balancers seen, cell voltages, answer delay.
  ring   a BMS and a bank with the tool in "Data Sniffer" mode between them. The
         pseudo-terminal is the rest of the ring: the bank's traffic (the BMS's
         requests passed on by the balancers, with their records) is written to
         it, and what the tool repeats is read back as the BMS's input. Each line
         tells whether every byte came back unchanged (echo_ok) or how many
         differ (echo_BAD).

Bank options (bank and ring):
  --preset ID       battery model by product id, e.g. 0xA602 (default):
)" + presetHelp() +
           R"(  --batteries N     batteries in parallel, 1 to 10 (default 1); each has its own
                    serial, each cell its balancer
  --current A       current through every battery in amperes, positive charges,
                    -500 to 500 (default 0); cell voltages drift and cells warm
                    with it. In the bms role: the bank current the BMS reports.
  --dead-after N    balancers after id N answer the enumeration but pass
                    measurement and calibration records on unfilled (a ring
                    that answers only up to balancer N)
  --no-noise        no random noise: the same cell state always gives the same
                    reading (still through each balancer's sensor and
                    calibration, within about 1 mV; cells drift with time)

Fault options (all roles unless said; they act on what the simulator sends):
  --drop-rate P     lose each byte with probability P (0 to 1)
  --corrupt-rate P  alter each byte with probability P, so CRCs no longer match
  --silent-after S  stop sending anything S seconds after the start (a year or
                    more: never)
  --slow-byte-us N  pace bytes N microseconds apart (40 is a real 250000-baud
                    line); default 0, as fast as the pseudo-terminal takes them
  --swallow-command CODE  bank: lose the first frame of this command on the
                    ring (e.g. 0x20): no balancer acts on it and it does not
                    come back; may be given more than once
  --swallow-block N bank: lose the first firmware block number N (0 to 255) on
                    the ring: it does not come back and the update fails

Adapter options (all roles; a USB-serial adapter between simulator and tool):
  --adapter-latency MS  hold bytes as an FTDI adapter's latency timer does: until
                    a 62-byte USB packet is full or MS milliseconds (1 to 255)
                    since the adapter's last packet have passed; its serial side
                    runs at the line's 40 us a byte. 16 is the Linux default, 1
                    the setting the tool asks for
  --adapter-side SIDE  where the adapter holds bytes: to-tool (default; what the
                    tool receives), from-tool (what the tool sends) or both

Recordings (a capture, .zcap, or the CSV beside a recording; docs/playback.md):
  --from FILE       bank, ring: the bank plays the recording instead of its model:
                    the recorded balancers with their serials and sensors answer
                    with the recorded values, from the first measurement request
                    on at the recorded pace, and from the start again after the
                    end. --preset, --batteries, --current, --no-noise,
                    --dead-after and --metrics-silent do not apply with it
  --expect FILE     bms: hold every measurement answer against the recording:
                    each cell within 1 mV and 0.1 degC, the bank current within
                    10 mA, at the step the bank has reached; one "expect #N" line
                    per answer and a summary of matches and mismatches

BMS options (bms and ring):
  --bms-answer-ms MS  how long the BMS waits for a whole answer after its request
                    (1 to 900, default 900); a real BMS may allow little more than
                    the answer takes on the line

Other options (all roles unless said):
  --link PATH       make PATH a symbolic link to the device (replaces an old
                    link, refuses to replace anything else); removed on exit
  --capture FILE    write every byte on the device to FILE as a capture, as the
                    tool saw it (what the simulator sends is "received"), with
                    the tool's mode for the role; zanst --replay FILE plays it
  --seed N          seed of the bank's make-up, its noise and the faults
                    (default 1): the same seed gives the same draws in the same
                    order; what follows elapsed time follows the clock
  --quiet           bank: no line for each poll, only service commands and faults
  --metrics-silent N  bank: battery N (1 to 10) leaves the metrics request for
                    its instance unanswered; every other battery answers with its
                    own lifetime metrics (instance n = battery n)
  --exit-with-parent  stop when the process that started the simulator ends
  -h, --help        this text

Output: one line per event on standard output, "[seconds] role text". The first
lines name the device ("device /dev/pts/N"), the link and the bank, then "ready".
The bms and ring roles print one line per exchange, "info #N ok ..." or
"measurement #N ok|FAIL|TIMEOUT ...", and a summary line when they stop; with
--adapter-latency the adapter adds one (packets, bytes, longest hold).
Exit status: 0 after SIGINT/SIGTERM, 2 for a wrong command line, 1 when the
pseudo-terminal cannot be opened.
)";
}

} // namespace zanst::sim
