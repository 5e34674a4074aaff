#pragma once
// A recorded bank as a sequence of steps: at each recorded moment every balancer's voltage,
// temperature and current, and the bank current the tool works out from the current sensors.
// Readers of captures and CSV recordings build it; the player walks it.

#include "bank/bank_snapshot.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zanst::playback {

// What a measurement record carries, in the bus's own units.
struct CellValues {
    std::int32_t millivolts = 0;
    std::int32_t tenthsCelsius = 0;
    std::int32_t milliamps = 0; // meaningful where the balancer measures current

    bool operator==(const CellValues&) const = default;
};

struct Step {
    std::int64_t timeMs = 0;        // since the recording's first step
    std::vector<CellValues> cells;  // balancer i + 1 at index i
    std::int32_t bankMilliamps = 0; // from the current sensors, as the battery tester computes it
};

// One battery of the recorded bank: consecutive balancers with the same serial.
struct Battery {
    std::string serial; // empty where the recording holds no balancer info
    int firstCell = 0;  // 0-based index of its first balancer
    int cells = 0;
};

struct Timeline {
    std::string source;           // what was read: "capture (Data Sniffer)", "CSV recording"
    std::int64_t startUnixMs = 0; // wall clock of the first step, UTC; 0 when unknown
    int cellCount = 0;
    std::vector<Battery> batteries;
    bool structureKnown = false;            // the batteries come from serials, not from a guess
    std::vector<std::uint8_t> cellFlags;    // per balancer: bit 0 measures current, bit 1 high range
    std::optional<std::uint16_t> productId; // of the first battery, where an info record said it
    std::optional<std::uint16_t> capacity;
    std::vector<Step> steps;
    std::vector<std::string> notes; // what the reader left out or assumed, for the user

    // The last step lasts as long as the usual gap between steps (a second for a single step).
    std::int64_t lastStepMs() const;
    // From the first step to the end of the last one.
    std::int64_t lengthMs() const;
    // The step shown at `positionMs`: the last one that began at or before it.
    std::size_t stepAt(std::int64_t positionMs) const;
};

// A reader's answer: a timeline, or why there is nothing to play.
struct ReadResult {
    std::optional<Timeline> timeline;
    std::string error;

    bool ok() const { return timeline.has_value(); }
};

// Collects one snapshot per recorded measurement and makes a timeline of them.
class TimelineBuilder {
  public:
    // A moment of the recording: balancer i + 1 of the snapshot at index i. Balancers without a
    // measurement (empty millivolts) take their nearest recorded values.
    void add(std::int64_t timeMs, const bank::BankSnapshot& snapshot);
    std::size_t steps() const { return steps_.size(); }
    // The recording says of every balancer whether and how it measures current (a CSV's current
    // range column), whether or not it holds balancer info.
    void sensorsRecorded(bool known) { sensorsKnown_ = known; }

    // Fills the gaps, finds the batteries and the bank current. `notes` go before the builder's own.
    ReadResult finish(std::string source, std::int64_t startUnixMs, std::vector<std::string> notes);

  private:
    struct RawCell {
        CellValues values;
        bool measured = false;
    };
    struct RawStep {
        std::int64_t timeMs = 0;
        std::vector<RawCell> cells;
    };
    std::vector<RawStep> steps_;
    bank::BankSnapshot structure_; // the latest snapshot with the most balancers
    std::size_t smallestBank_ = 0;
    bool sensorsKnown_ = false;
};

// The bank current the battery tester shows for these values: the sensors' averages, low range
// blended into high range between 30 and 50 A.
std::int32_t bankCurrentOf(const std::vector<CellValues>& cells, const std::vector<std::uint8_t>& flags);

// "01:02:03" for 3723000 ms; ".250" follows when there are milliseconds.
std::string clockText(std::int64_t ms);
// "H:MM:SS", "MM:SS" or "SS", each with an optional ".f" to ".fff"; nothing for anything else.
std::optional<std::int64_t> parseClock(std::string_view text);

} // namespace zanst::playback
