#pragma once
// Checks a bank's measurement answers against a recording: every cell's voltage within 1 mV and
// temperature within 0.1 degC, and the bank current (worked out from the answer's current sensors
// as the battery tester does) within 10 mA, at some step of the recording. Answers come at the
// BMS's own pace, so the matcher follows the recording: an answer may show the step matched last
// or any later one, and after the end the recording may start again (a loop).

#include "timeline.hpp"

#include "bus/bytes.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zanst::playback {

// A measurement answer's values, balancer i + 1 at index i.
struct AnswerValues {
    std::vector<CellValues> cells;
    std::int32_t bankMilliamps = 0;
};

// The values of measurement records; `infoFlags` (from the info answer, per balancer) tell the
// current sensors and their ranges.
AnswerValues answerValues(std::span<const bus::Bytes> records, std::span<const std::uint8_t> infoFlags);

struct Tolerance {
    int millivolts = 1;
    int tenthsCelsius = 1;
    int milliamps = 10;
};

struct MatchResult {
    bool matched = false;
    std::size_t step = 0;                 // the step matched, or the one the answer was held against
    std::vector<std::string> differences; // empty when matched: "cell 5: 3301 mV, recorded 3310 mV"
};

class AnswerMatcher {
  public:
    explicit AnswerMatcher(Timeline timeline, Tolerance tolerance = {});

    // Looks for the answer's values at the step matched last, at a later one, or from the first
    // step again. A mismatch is told against the step matched last or the next one, whichever
    // differs in fewer values.
    MatchResult check(const AnswerValues& answer);

    const Timeline& timeline() const { return timeline_; }
    long matches() const { return matches_; }
    long mismatches() const { return mismatches_; }
    long loops() const { return loops_; }         // times the answers went back to an earlier step
    long stepsSeen() const { return stepsSeen_; } // different steps matched

  private:
    bool fits(const AnswerValues& answer, const Step& step) const;
    std::vector<std::string> differences(const AnswerValues& answer, const Step& step) const;

    Timeline timeline_;
    Tolerance tolerance_;
    std::optional<std::size_t> last_; // the step matched last
    long matches_ = 0;
    long mismatches_ = 0;
    long loops_ = 0;
    long stepsSeen_ = 0;
    std::vector<bool> seen_;
};

} // namespace zanst::playback
