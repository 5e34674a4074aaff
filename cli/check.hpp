#pragma once
// The end-of-line test of `zanst-cli check`: every snapshot of the run is observed, and at the end
// each limit given becomes one test case (the balancer count always is one). A limit holds only
// when it held at every tick: one cell below the minimum for one tick fails the case.

#include "bank/bank_snapshot.hpp"
#include "cli/command_line.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::cli {

struct CheckLimits {
    int cells = 0;
    std::optional<int> minMv;
    std::optional<int> maxMv;
    std::optional<int> maxSpreadMv;
    std::optional<int> maxTempTenths;
    std::optional<std::uint32_t> maxCrcErrors;

    static CheckLimits from(const CheckArgs& args);
};

struct CheckCase {
    std::string name; // "minimum cell voltage"
    bool passed = false;
    std::string measured; // what was seen, e.g. "lowest 3.281 V (cell 4)"
    std::string failure;  // one line, empty when passed
};

struct CheckReport {
    std::vector<CheckCase> cases;
    double seconds = 0; // how long the bank was observed
    int ticks = 0;

    int failures() const;
    bool passed() const { return failures() == 0; }
};

class CheckEvaluator {
  public:
    explicit CheckEvaluator(CheckLimits limits) : limits_(limits) {}

    // Every snapshot the run shows, in order.
    void observe(const bank::BankSnapshot& snapshot);
    CheckReport finish(double seconds) const;

  private:
    struct Extreme {
        int value = 0;
        int cell = 0;
        int tick = 0;
    };
    CheckLimits limits_;
    int ticks_ = 0;
    int lastCount_ = 0;
    int lastMeasured_ = 0;
    std::uint64_t lastCrcErrors_ = 0;
    std::optional<Extreme> lowest_;
    std::optional<Extreme> highest_;
    std::optional<Extreme> widestSpread_; // cell: the lowest cell of that tick
    int widestSpreadHighCell_ = 0;
    std::optional<Extreme> hottest_;
};

} // namespace zanst::cli
