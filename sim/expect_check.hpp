#pragma once
// The simulated BMS's check of every measurement answer against a recording (zanst-sim bms
// --expect FILE): each cell within 1 mV and 0.1 degC and the bank current within 10 mA, at the
// recorded step the bank has reached (playback::AnswerMatcher).

#include "playback/answer_match.hpp"
#include "sim/bms.hpp"

#include <optional>
#include <string>

namespace zanst::sim {

class ExpectCheck {
  public:
    explicit ExpectCheck(playback::Timeline timeline) : matcher_(std::move(timeline)) {}

    // A line for a measurement exchange; nothing for an info exchange. An exchange that failed
    // its own checks (or timed out) is not held against the recording.
    std::optional<std::string> check(const ExchangeReport& exchange);
    std::string summary() const;

  private:
    playback::AnswerMatcher matcher_;
    long unchecked_ = 0;
};

} // namespace zanst::sim
