#include "timeline.hpp"

#include "emulator/presets.hpp"
#include "tester/bank_computation.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace zanst::playback {

namespace {

constexpr std::int64_t kSingleStepMs = 1000;
constexpr int kMaxGuessedBatteries = 10;

bool hasInfo(const bank::BalancerReading& r) {
    return !r.serial.empty() || r.productId != 0;
}

bool sameStructure(const bank::BalancerReading& a, const bank::BalancerReading& b) {
    return a.serial == b.serial && a.infoFlags == b.infoFlags && a.productId == b.productId &&
           a.capacity == b.capacity;
}

// Reads a run of decimal digits as a whole number; nothing for an empty or too long run.
std::optional<std::int64_t> digits(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto done = std::from_chars(text.data(), text.data() + text.size(), value);
    if (done.ec != std::errc() || done.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::int64_t Timeline::lastStepMs() const {
    if (steps.size() < 2) {
        return kSingleStepMs;
    }
    std::vector<std::int64_t> gaps;
    gaps.reserve(steps.size() - 1);
    for (std::size_t i = 1; i < steps.size(); ++i) {
        gaps.push_back(steps[i].timeMs - steps[i - 1].timeMs);
    }
    const auto middle = gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2);
    std::nth_element(gaps.begin(), middle, gaps.end());
    return std::max<std::int64_t>(*middle, 1);
}

std::int64_t Timeline::lengthMs() const {
    if (steps.empty()) {
        return 0;
    }
    return steps.back().timeMs + lastStepMs();
}

std::size_t Timeline::stepAt(std::int64_t positionMs) const {
    const auto after = std::upper_bound(steps.begin(), steps.end(), positionMs,
                                        [](std::int64_t t, const Step& s) { return t < s.timeMs; });
    return after == steps.begin() ? 0 : static_cast<std::size_t>(after - steps.begin()) - 1;
}

void TimelineBuilder::add(std::int64_t timeMs, const bank::BankSnapshot& snapshot) {
    RawStep step;
    step.timeMs = timeMs;
    step.cells.reserve(snapshot.balancers.size());
    for (const bank::BalancerReading& r : snapshot.balancers) {
        RawCell cell;
        cell.measured = r.millivolts.has_value();
        cell.values = {r.millivolts.value_or(0), r.tenthsCelsius, r.milliamps};
        step.cells.push_back(cell);
    }
    const std::size_t size = snapshot.balancers.size();
    smallestBank_ = steps_.empty() ? size : std::min(smallestBank_, size);
    steps_.push_back(std::move(step));

    // The structure is kept from the latest snapshot with the most balancers; copied only when it differs.
    const auto& known = structure_.balancers;
    if (size > known.size() ||
        (size == known.size() &&
         !std::equal(known.begin(), known.end(), snapshot.balancers.begin(), sameStructure))) {
        structure_ = snapshot;
    }
}

ReadResult TimelineBuilder::finish(std::string source, std::int64_t startUnixMs,
                                   std::vector<std::string> notes) {
    ReadResult result;
    if (steps_.empty()) {
        result.error = "The recording holds no measurement of the bank";
        return result;
    }
    const auto& info = structure_.balancers;
    const int count = static_cast<int>(info.size());
    if (count == 0) {
        result.error = "The recording holds no balancer";
        return result;
    }

    Timeline t;
    t.source = std::move(source);
    t.cellCount = count;
    t.notes = std::move(notes);
    t.steps.resize(steps_.size());
    const std::int64_t first = steps_.front().timeMs;
    t.startUnixMs = startUnixMs;
    for (std::size_t s = 0; s < steps_.size(); ++s) {
        t.steps[s].timeMs = steps_[s].timeMs - first;
        t.steps[s].cells.resize(static_cast<std::size_t>(count));
    }

    // Every balancer takes its nearest recorded values where a step has none: before its first
    // measurement the first one, after that the last one (a record that failed its CRC).
    std::vector<bool> currentSeen(static_cast<std::size_t>(count), false);
    for (int c = 0; c < count; ++c) {
        const auto cell = static_cast<std::size_t>(c);
        const auto firstMeasured = std::find_if(steps_.begin(), steps_.end(), [&](const RawStep& s) {
            return cell < s.cells.size() && s.cells[cell].measured;
        });
        if (firstMeasured == steps_.end()) {
            result.error = "Balancer " + std::to_string(c + 1) + " has no measurement in the recording";
            return result;
        }
        CellValues last = firstMeasured->cells[cell].values;
        for (std::size_t s = 0; s < steps_.size(); ++s) {
            const auto& raw = steps_[s].cells;
            if (cell < raw.size() && raw[cell].measured) {
                last = raw[cell].values;
            }
            t.steps[s].cells[cell] = last;
            currentSeen[cell] = currentSeen[cell] || last.milliamps != 0;
        }
    }
    if (smallestBank_ < info.size()) {
        t.notes.push_back(
            "The bank grew from " + std::to_string(smallestBank_) + " to " + std::to_string(count) +
            " balancers during the recording; each plays its first values until it was measured");
    }

    // Sensors: from the info records; a balancer without one counts as a sensor when it ever
    // reported a current.
    t.cellFlags.resize(static_cast<std::size_t>(count));
    int withoutInfo = 0;
    for (std::size_t c = 0; c < info.size(); ++c) {
        const bool known = hasInfo(info[c]);
        withoutInfo += known ? 0 : 1;
        if (known || sensorsKnown_) {
            t.cellFlags[c] = info[c].infoFlags & 0x03;
        } else {
            t.cellFlags[c] = currentSeen[c] ? 0x01 : 0x00;
        }
    }
    const std::string guessedSensors =
        sensorsKnown_ ? std::string() : ", and balancers that reported a current count as current sensors";

    for (const bank::BalancerReading& r : info) {
        if (!hasInfo(r)) {
            continue;
        }
        if (!t.productId) {
            t.productId = r.productId;
            if (r.capacity != 0) {
                t.capacity = r.capacity; // a CSV does not record it
            }
        } else if (*t.productId != r.productId) {
            t.notes.push_back("The batteries report different product ids; the first battery's counts");
            break;
        }
    }

    // Batteries: a new one at each change of serial, as the battery tester counts them.
    int withoutSerial = 0;
    for (const bank::BalancerReading& r : info) {
        withoutSerial += r.serial.empty() ? 1 : 0;
    }
    if (withoutSerial < count) {
        t.structureKnown = withoutSerial == 0;
        for (int c = 0; c < count; ++c) {
            const std::string& serial = info[static_cast<std::size_t>(c)].serial;
            if (t.batteries.empty() || t.batteries.back().serial != serial) {
                t.batteries.push_back({serial, c, 0});
            }
            ++t.batteries.back().cells;
        }
        if (withoutSerial > 0) {
            t.notes.push_back(std::to_string(withoutSerial) + " balancers have no serial in the recording" +
                              (withoutInfo > 0 ? guessedSensors : std::string()));
        }
    } else {
        // No serials (the BMS enumerated before the recording began, or a CSV without them):
        // batteries of the recorded model's cells, else the largest battery that divides the bank
        // into at most ten.
        int per = 0;
        for (const emulator::BatteryPresetInfo& p : emulator::batteryInfoArray) {
            if (t.productId && p.productId == *t.productId && count % p.cellsInSeries == 0) {
                per = p.cellsInSeries;
            }
        }
        for (const int cells : {16, 8, 4}) {
            if (per == 0 && count % cells == 0 && count / cells <= kMaxGuessedBatteries) {
                per = cells;
            }
        }
        per = per == 0 ? count : per;
        for (int begin = 0; begin < count; begin += per) {
            t.batteries.push_back({std::string(), begin, std::min(per, count - begin)});
        }
        t.notes.push_back(
            "The recording holds no serials: the bank is taken as " + std::to_string(t.batteries.size()) +
            (t.batteries.size() == 1 ? " battery" : " batteries") + " of " + std::to_string(per) + " cells" +
            (withoutInfo > 0 ? guessedSensors : std::string()));
    }

    for (Step& s : t.steps) {
        s.bankMilliamps = bankCurrentOf(s.cells, t.cellFlags);
    }
    result.timeline = std::move(t);
    return result;
}

std::int32_t bankCurrentOf(const std::vector<CellValues>& cells, const std::vector<std::uint8_t>& flags) {
    long long lowSum = 0;
    long long highSum = 0;
    int lowCount = 0;
    int highCount = 0;
    for (std::size_t c = 0; c < cells.size() && c < flags.size(); ++c) {
        if ((flags[c] & 0x01) == 0) {
            continue;
        }
        if ((flags[c] & 0x02) != 0) {
            highSum += cells[c].milliamps;
            ++highCount;
        } else {
            lowSum += cells[c].milliamps;
            ++lowCount;
        }
    }
    const auto low = lowCount > 0 ? std::optional<int>(static_cast<int>(lowSum / lowCount)) : std::nullopt;
    const auto high =
        highCount > 0 ? std::optional<int>(static_cast<int>(highSum / highCount)) : std::nullopt;
    return tester::bankCurrent(low, high);
}

std::string clockText(std::int64_t ms) {
    ms = std::max<std::int64_t>(ms, 0);
    const std::int64_t seconds = ms / 1000;
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    std::string out = text.data();
    if (ms % 1000 != 0) {
        std::snprintf(text.data(), text.size(), ".%03lld", static_cast<long long>(ms % 1000));
        out += text.data();
    }
    return out;
}

std::optional<std::int64_t> parseClock(std::string_view text) {
    std::int64_t fractionMs = 0;
    if (const auto dot = text.find('.'); dot != std::string_view::npos) {
        const std::string_view fraction = text.substr(dot + 1);
        const auto value = digits(fraction, 3);
        if (!value) {
            return std::nullopt;
        }
        fractionMs = *value;
        for (std::size_t i = fraction.size(); i < 3; ++i) {
            fractionMs *= 10;
        }
        text = text.substr(0, dot);
    }
    std::array<std::int64_t, 3> parts{};
    std::size_t count = 0;
    while (true) {
        const auto colon = text.find(':');
        const std::string_view part = text.substr(0, colon);
        if (count == parts.size()) {
            return std::nullopt;
        }
        // The leading part may run on (90 seconds, 100 hours); the ones after it are two digits below 60.
        const auto value = digits(part, count == 0 ? 7 : 2);
        if (!value || (count > 0 && (part.size() != 2 || *value >= 60))) {
            return std::nullopt;
        }
        parts[count++] = *value;
        if (colon == std::string_view::npos) {
            break;
        }
        text = text.substr(colon + 1);
    }
    std::int64_t seconds = 0;
    for (std::size_t i = 0; i < count; ++i) {
        seconds = seconds * 60 + parts[i];
    }
    return seconds * 1000 + fractionMs;
}

} // namespace zanst::playback
