#include "cli/check.hpp"

#include "recording/csv_recording.hpp"

#include <algorithm>

namespace zanst::cli {

namespace {

using recording::fixedPoint;

std::string volts(int mv) {
    return fixedPoint(mv, 3) + " V";
}

std::string degrees(int tenths) {
    return fixedPoint(tenths, 1) + " degC";
}

const std::string kNoVoltage = "no cell reported a voltage";

} // namespace

CheckLimits CheckLimits::from(const CheckArgs& a) {
    return {a.cells, a.minMv, a.maxMv, a.maxSpreadMv, a.maxTempTenths, a.maxCrcErrors};
}

int CheckReport::failures() const {
    return static_cast<int>(
        std::count_if(cases.begin(), cases.end(), [](const CheckCase& c) { return !c.passed; }));
}

void CheckEvaluator::observe(const bank::BankSnapshot& snapshot) {
    ++ticks_;
    lastCount_ = static_cast<int>(snapshot.balancers.size());
    lastMeasured_ = 0;
    lastCrcErrors_ = 0;
    std::optional<Extreme> low;
    std::optional<Extreme> high;
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        const bank::BalancerReading& r = snapshot.balancers[i];
        lastCrcErrors_ += r.crcErrors;
        if (!r.millivolts) {
            continue;
        }
        ++lastMeasured_;
        const int cell = static_cast<int>(i) + 1;
        const int mv = *r.millivolts;
        if (!low || mv < low->value) {
            low = Extreme{mv, cell, ticks_};
        }
        if (!high || mv > high->value) {
            high = Extreme{mv, cell, ticks_};
        }
        if (!hottest_ || r.tenthsCelsius > hottest_->value) {
            hottest_ = Extreme{r.tenthsCelsius, cell, ticks_};
        }
    }
    if (!low) {
        return;
    }
    if (!lowest_ || low->value < lowest_->value) {
        lowest_ = low;
    }
    if (!highest_ || high->value > highest_->value) {
        highest_ = high;
    }
    const int spread = high->value - low->value;
    if (!widestSpread_ || spread > widestSpread_->value) {
        widestSpread_ = Extreme{spread, low->cell, ticks_};
        widestSpreadHighCell_ = high->cell;
    }
}

CheckReport CheckEvaluator::finish(double seconds) const {
    CheckReport report;
    report.seconds = seconds;
    report.ticks = ticks_;

    CheckCase count{"balancer count", false, "", ""};
    count.measured =
        std::to_string(lastCount_) + " balancers, " + std::to_string(lastMeasured_) + " with a voltage";
    if (ticks_ == 0) {
        count.failure = "no poll completed";
    } else if (lastCount_ != limits_.cells) {
        count.failure = std::to_string(lastCount_) + " balancers answered, " + std::to_string(limits_.cells) +
                        " expected";
    } else if (lastMeasured_ != limits_.cells) {
        count.failure = std::to_string(limits_.cells - lastMeasured_) + " of " +
                        std::to_string(limits_.cells) + " balancers reported no voltage";
    } else {
        count.passed = true;
    }
    report.cases.push_back(count);

    if (limits_.minMv) {
        CheckCase c{"minimum cell voltage", false, "", ""};
        if (!lowest_) {
            c.failure = kNoVoltage;
        } else {
            c.measured = "lowest " + volts(lowest_->value) + " (cell " + std::to_string(lowest_->cell) + ")";
            c.passed = lowest_->value >= *limits_.minMv;
            if (!c.passed) {
                c.failure = "cell " + std::to_string(lowest_->cell) + " at " + volts(lowest_->value) +
                            ", below " + volts(*limits_.minMv);
            }
        }
        report.cases.push_back(c);
    }
    if (limits_.maxMv) {
        CheckCase c{"maximum cell voltage", false, "", ""};
        if (!highest_) {
            c.failure = kNoVoltage;
        } else {
            c.measured =
                "highest " + volts(highest_->value) + " (cell " + std::to_string(highest_->cell) + ")";
            c.passed = highest_->value <= *limits_.maxMv;
            if (!c.passed) {
                c.failure = "cell " + std::to_string(highest_->cell) + " at " + volts(highest_->value) +
                            ", above " + volts(*limits_.maxMv);
            }
        }
        report.cases.push_back(c);
    }
    if (limits_.maxSpreadMv) {
        CheckCase c{"cell voltage spread", false, "", ""};
        if (!widestSpread_) {
            c.failure = kNoVoltage;
        } else {
            c.measured = "widest " + std::to_string(widestSpread_->value) + " mV (cells " +
                         std::to_string(widestSpread_->cell) + " and " +
                         std::to_string(widestSpreadHighCell_) + ")";
            c.passed = widestSpread_->value <= *limits_.maxSpreadMv;
            if (!c.passed) {
                c.failure = "spread " + std::to_string(widestSpread_->value) + " mV between cells " +
                            std::to_string(widestSpread_->cell) + " and " +
                            std::to_string(widestSpreadHighCell_) + ", above " +
                            std::to_string(*limits_.maxSpreadMv) + " mV";
            }
        }
        report.cases.push_back(c);
    }
    if (limits_.maxTempTenths) {
        CheckCase c{"maximum cell temperature", false, "", ""};
        if (!hottest_) {
            c.failure = "no cell reported a temperature";
        } else {
            c.measured =
                "hottest " + degrees(hottest_->value) + " (cell " + std::to_string(hottest_->cell) + ")";
            c.passed = hottest_->value <= *limits_.maxTempTenths;
            if (!c.passed) {
                c.failure = "cell " + std::to_string(hottest_->cell) + " at " + degrees(hottest_->value) +
                            ", above " + degrees(*limits_.maxTempTenths);
            }
        }
        report.cases.push_back(c);
    }
    if (limits_.maxCrcErrors) {
        CheckCase c{"CRC errors", false, "", ""};
        c.measured = std::to_string(lastCrcErrors_) + " records failed their CRC-8";
        if (ticks_ == 0) {
            c.failure = "no poll completed";
        } else {
            c.passed = lastCrcErrors_ <= *limits_.maxCrcErrors;
            if (!c.passed) {
                c.failure = std::to_string(lastCrcErrors_) + " records failed their CRC-8, at most " +
                            std::to_string(*limits_.maxCrcErrors) + " allowed";
            }
        }
        report.cases.push_back(c);
    }
    return report;
}

} // namespace zanst::cli
