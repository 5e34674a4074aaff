#include "edits.hpp"

#include "fixed_point.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zanst::playback {

namespace {

struct Rules {
    const char* unit;
    int decimals;     // of a pinned value or an offset, in the unit shown
    int rateDecimals; // of a drift rate
    std::int64_t min; // what the record field carries, in its own units
    std::int64_t max;
    std::int64_t maxRate; // per 1000 s
    const char* range;    // the field's range as shown
};

constexpr Rules kVoltage{"mV", 0, 3, 1000, 5095, 1'000'000, "1000 to 5095 mV"};
constexpr Rules kTemperature{"\xC2\xB0"
                             "C",
                             1,
                             4,
                             -1024,
                             1023,
                             1'000'000,
                             "-102.4 to 102.3 \xC2\xB0"
                             "C"};
constexpr Rules kCurrent{"A", 3, 6, -524287, 524287, 1'000'000'000, "-524.287 to 524.287 A"};
// Elapsed time counted by a drift: beyond this every drift has long reached its field's end.
constexpr std::int64_t kMaxDriftMs = 1'000'000'000;

const Rules& rulesOf(Quantity q) {
    switch (q) {
    case Quantity::Voltage:
        return kVoltage;
    case Quantity::Temperature:
        return kTemperature;
    case Quantity::Current:
        return kCurrent;
    }
    return kVoltage;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<Quantity> unitQuantity(std::string_view unit) {
    const std::string u = lower(unit);
    if (u == "mv") {
        return Quantity::Voltage;
    }
    if (u == "\xC2\xB0"
             "c" ||
        u == "degc") {
        return Quantity::Temperature;
    }
    if (u == "a") {
        return Quantity::Current;
    }
    return std::nullopt;
}

// `value` / 10^decimals with at least `minDecimals` digits after the point, no trailing zeros beyond.
std::string decimalText(std::int64_t value, int decimals, int minDecimals) {
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const std::int64_t magnitude = value < 0 ? -value : value;
    std::string text = (value < 0 ? "-" : "") + std::to_string(magnitude / scale);
    if (decimals == 0) {
        return text;
    }
    std::string fraction = std::to_string(magnitude % scale);
    fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
    while (static_cast<int>(fraction.size()) > minDecimals && !fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    if (!fraction.empty()) {
        text += "." + fraction;
    }
    return text;
}

class Tokens {
  public:
    explicit Tokens(std::string_view text) {
        std::size_t at = 0;
        while (at < text.size()) {
            while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
                ++at;
            }
            const std::size_t begin = at;
            while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) {
                ++at;
            }
            if (at > begin) {
                list_.emplace_back(text.substr(begin, at - begin));
            }
        }
    }
    bool done() const { return next_ >= list_.size(); }
    std::string_view peek() const { return done() ? std::string_view() : list_[next_]; }
    std::string_view take() { return done() ? std::string_view() : list_[next_++]; }
    // Takes the next token when it is `word` (any case).
    bool accept(std::string_view word) {
        if (!done() && lower(peek()) == word) {
            ++next_;
            return true;
        }
        return false;
    }

  private:
    std::vector<std::string> list_;
    std::size_t next_ = 0;
};

struct Amount {
    std::string number;
    std::string unit;
};

// A number and its unit, written together ("3400mV") or apart ("3400 mV").
Amount takeAmount(Tokens& tokens) {
    const std::string_view first = tokens.take();
    const auto split = first.find_first_not_of("+-0123456789.");
    Amount a;
    a.number = std::string(first.substr(0, split));
    if (split != std::string_view::npos) {
        a.unit = std::string(first.substr(split));
    } else {
        a.unit = std::string(tokens.take());
    }
    return a;
}

} // namespace

EditParse parseEdit(std::string_view text) {
    EditParse out;
    const auto fail = [&](const std::string& why) {
        out.edit.reset();
        out.error = "Cannot read \"" + std::string(text) + "\": " + why;
        return out;
    };
    Tokens tokens(text);
    Edit e;
    if (tokens.accept("cell")) {
        const auto cell = parseFixed(tokens.take(), 0);
        if (!cell || *cell < 1 || *cell > 255) {
            return fail("a cell number from 1 to 255 follows \"cell\"");
        }
        e.cell = static_cast<int>(*cell);
    } else if (tokens.accept("current") || (tokens.accept("bank") && tokens.accept("current"))) {
        e.cell = 0;
        e.quantity = Quantity::Current;
    } else {
        return fail("an edit begins with \"cell N\" or \"current\"");
    }

    if (tokens.accept("pinned") || tokens.accept("pin")) {
        e.kind = EditKind::Pin;
        if (!tokens.accept("at") && !tokens.accept("to")) {
            return fail("\"pinned at\" and a value, such as 3400 mV");
        }
    } else if (tokens.accept("offset")) {
        e.kind = EditKind::Offset;
        tokens.accept("by");
    } else if (tokens.accept("drifts") || tokens.accept("drift")) {
        e.kind = EditKind::Drift;
    } else {
        return fail("\"pinned at\", \"offset\" or \"drifts\" follows the " +
                    std::string(e.cell == 0 ? "current" : "cell"));
    }

    const Amount amount = takeAmount(tokens);
    const auto quantity = unitQuantity(amount.unit);
    if (!quantity || (e.cell == 0) != (*quantity == Quantity::Current)) {
        return fail(e.cell == 0 ? "the current's value is in A (such as -120.5 A)"
                                : "a cell's value is in mV or \xC2\xB0"
                                  "C (such as 3400 mV or 45.0 \xC2\xB0"
                                  "C)");
    }
    e.quantity = *quantity;
    const Rules& rules = rulesOf(e.quantity);
    const int decimals = e.kind == EditKind::Drift ? rules.rateDecimals : rules.decimals;
    const auto value = parseFixed(amount.number, decimals);
    if (!value) {
        const std::string places = decimals == 0   ? "no decimals"
                                   : decimals == 1 ? "at most 1 decimal"
                                                   : "at most " + std::to_string(decimals) + " decimals";
        return fail("\"" + amount.number + "\" is not a number with " + places);
    }
    e.amount = *value;
    switch (e.kind) {
    case EditKind::Pin:
        if (e.amount < rules.min || e.amount > rules.max) {
            return fail("a pinned value lies within " + std::string(rules.range));
        }
        break;
    case EditKind::Offset:
        if (std::abs(e.amount) > rules.max - rules.min) {
            return fail("an offset is at most the width of the range " + std::string(rules.range));
        }
        break;
    case EditKind::Drift: {
        if (amount.number.front() == '-' || amount.number.front() == '+') {
            return fail("a drift's rate has no sign: say \"lower\" or \"higher\"");
        }
        if (e.amount > rules.maxRate) {
            return fail("a drift is at most " + decimalText(rules.maxRate, rules.rateDecimals, 0) + " " +
                        rules.unit + " a second");
        }
        const bool perSecond = (tokens.accept("a") || tokens.accept("per")) && tokens.accept("second");
        if (!perSecond && !tokens.accept("/s")) {
            return fail("a drift's rate is given \"a second\"");
        }
        if (tokens.accept("lower")) {
            e.amount = -e.amount;
        } else if (!tokens.accept("higher")) {
            return fail("\"lower\" or \"higher\" follows the rate");
        }
        break;
    }
    }

    if (tokens.accept("from")) {
        const auto from = parseClock(tokens.take());
        if (!from) {
            return fail("\"from\" needs a time of the recording, such as 00:03:10");
        }
        e.fromMs = *from;
    }
    if (tokens.accept("until") || tokens.accept("to")) {
        const auto until = parseClock(tokens.take());
        if (!until) {
            return fail("\"until\" needs a time of the recording, such as 00:04:00");
        }
        if (*until <= e.fromMs) {
            return fail("\"until\" comes after \"from\"");
        }
        e.untilMs = *until;
    }
    if (!tokens.done()) {
        return fail("\"" + std::string(tokens.peek()) + "\" is not understood here");
    }
    out.edit = e;
    return out;
}

std::string editText(const Edit& e) {
    const Rules& rules = rulesOf(e.quantity);
    std::string text = e.cell == 0 ? "current" : "cell " + std::to_string(e.cell);
    // Temperatures show their tenth, the way the tool shows them; other values only what they have.
    const int minDecimals = e.quantity == Quantity::Temperature ? 1 : 0;
    switch (e.kind) {
    case EditKind::Pin:
        text += " pinned at " + decimalText(e.amount, rules.decimals, minDecimals);
        break;
    case EditKind::Offset:
        text += " offset " + std::string(e.amount >= 0 ? "+" : "") +
                decimalText(e.amount, rules.decimals, minDecimals);
        break;
    case EditKind::Drift:
        text += " drifts " + decimalText(std::abs(e.amount), rules.rateDecimals, 0);
        break;
    }
    text += " " + std::string(rules.unit);
    if (e.kind == EditKind::Drift) {
        text += e.amount < 0 ? " a second lower" : " a second higher";
    }
    text += " from " + clockText(e.fromMs);
    if (e.untilMs) {
        text += " until " + clockText(*e.untilMs);
    }
    return text;
}

std::string checkEdit(const Edit& e, const Timeline& t) {
    if (e.cell > t.cellCount) {
        return "The recording has no cell " + std::to_string(e.cell) + " (it has " +
               std::to_string(t.cellCount) + ")";
    }
    if (e.fromMs >= t.lengthMs()) {
        return "The edit begins at " + clockText(e.fromMs) + ", after the end of the recording (" +
               clockText(t.lengthMs()) + ")";
    }
    return {};
}

void applyEdits(std::span<const Edit> edits, std::int64_t timeMs, std::vector<CellValues>& cells,
                std::int32_t& bankMilliamps) {
    for (const Edit& e : edits) {
        if (!e.activeAt(timeMs)) {
            continue;
        }
        std::int32_t* value = &bankMilliamps;
        if (e.cell > 0) {
            if (static_cast<std::size_t>(e.cell) > cells.size()) {
                continue;
            }
            CellValues& c = cells[static_cast<std::size_t>(e.cell - 1)];
            value = e.quantity == Quantity::Temperature ? &c.tenthsCelsius : &c.millivolts;
        }
        std::int64_t result = *value;
        switch (e.kind) {
        case EditKind::Pin:
            result = e.amount;
            break;
        case EditKind::Offset:
            result += e.amount;
            break;
        case EditKind::Drift: {
            const std::int64_t elapsed = std::min(timeMs - e.fromMs, kMaxDriftMs);
            const std::int64_t scaled = e.amount * elapsed; // units per 1000 s times ms
            const std::int64_t half = scaled >= 0 ? 500'000 : -500'000;
            result += (scaled + half) / 1'000'000;
            break;
        }
        }
        const Rules& rules = rulesOf(e.quantity);
        *value = static_cast<std::int32_t>(std::clamp(result, rules.min, rules.max));
    }
}

} // namespace zanst::playback
