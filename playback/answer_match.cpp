#include "answer_match.hpp"

#include "bus/records.hpp"

#include <cstdlib>

namespace zanst::playback {

namespace {

// `value` / 10^decimals with exactly `decimals` digits after the point.
std::string scaled(std::int64_t value, int decimals) {
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const std::int64_t magnitude = value < 0 ? -value : value;
    std::string fraction = std::to_string(magnitude % scale);
    fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
    return (value < 0 ? "-" : "") + std::to_string(magnitude / scale) + "." + fraction;
}

} // namespace

AnswerValues answerValues(std::span<const bus::Bytes> records, std::span<const std::uint8_t> infoFlags) {
    AnswerValues out;
    out.cells.reserve(records.size());
    for (const bus::Bytes& r : records) {
        const auto word = static_cast<std::int32_t>(bus::getLe32(r, 4));
        const auto temperature = static_cast<std::int16_t>(bus::getLe16(r, 8));
        out.cells.push_back(
            {bus::cellVoltageMv(word), bus::temperatureTenths(temperature), bus::cellCurrentMa(word)});
    }
    const std::vector<std::uint8_t> flags(infoFlags.begin(), infoFlags.end());
    out.bankMilliamps = bankCurrentOf(out.cells, flags);
    return out;
}

AnswerMatcher::AnswerMatcher(Timeline timeline, Tolerance tolerance)
    : timeline_(std::move(timeline)), tolerance_(tolerance), seen_(timeline_.steps.size(), false) {}

bool AnswerMatcher::fits(const AnswerValues& answer, const Step& step) const {
    if (answer.cells.size() != step.cells.size() ||
        std::abs(answer.bankMilliamps - step.bankMilliamps) > tolerance_.milliamps) {
        return false;
    }
    for (std::size_t c = 0; c < step.cells.size(); ++c) {
        if (std::abs(answer.cells[c].millivolts - step.cells[c].millivolts) > tolerance_.millivolts ||
            std::abs(answer.cells[c].tenthsCelsius - step.cells[c].tenthsCelsius) >
                tolerance_.tenthsCelsius) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> AnswerMatcher::differences(const AnswerValues& answer, const Step& step) const {
    std::vector<std::string> out;
    if (answer.cells.size() != step.cells.size()) {
        out.push_back(std::to_string(answer.cells.size()) + " cells answered, the recording has " +
                      std::to_string(step.cells.size()));
        return out;
    }
    for (std::size_t c = 0; c < step.cells.size(); ++c) {
        const CellValues& got = answer.cells[c];
        const CellValues& want = step.cells[c];
        const std::string cell = "cell " + std::to_string(c + 1) + ": ";
        if (std::abs(got.millivolts - want.millivolts) > tolerance_.millivolts) {
            out.push_back(cell + std::to_string(got.millivolts) + " mV, recorded " +
                          std::to_string(want.millivolts) + " mV");
        }
        if (std::abs(got.tenthsCelsius - want.tenthsCelsius) > tolerance_.tenthsCelsius) {
            out.push_back(cell + scaled(got.tenthsCelsius, 1) + " degC, recorded " +
                          scaled(want.tenthsCelsius, 1) + " degC");
        }
    }
    if (std::abs(answer.bankMilliamps - step.bankMilliamps) > tolerance_.milliamps) {
        out.push_back("current " + scaled(answer.bankMilliamps, 3) + " A, recorded " +
                      scaled(step.bankMilliamps, 3) + " A");
    }
    return out;
}

MatchResult AnswerMatcher::check(const AnswerValues& answer) {
    MatchResult result;
    const std::size_t count = timeline_.steps.size();
    if (count == 0) {
        result.differences.push_back("the recording has no step");
        ++mismatches_;
        return result;
    }
    const std::size_t from = last_.value_or(0);
    for (std::size_t i = 0; i < count; ++i) {
        // From the step matched last to the end, then from the first step again.
        const std::size_t at = (from + i) % count;
        if (fits(answer, timeline_.steps[at])) {
            if (at < from) {
                ++loops_;
            }
            last_ = at;
            ++matches_;
            if (!seen_[at]) {
                seen_[at] = true;
                ++stepsSeen_;
            }
            result.matched = true;
            result.step = at;
            return result;
        }
    }
    // Told against the step matched last or the one after it, whichever it comes closer to.
    result.step = last_ ? (*last_ + 1) % count : 0;
    result.differences = differences(answer, timeline_.steps[result.step]);
    if (last_) {
        std::vector<std::string> againstLast = differences(answer, timeline_.steps[*last_]);
        if (againstLast.size() < result.differences.size()) {
            result.step = *last_;
            result.differences = std::move(againstLast);
        }
    }
    ++mismatches_;
    return result;
}

} // namespace zanst::playback
