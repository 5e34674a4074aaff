#include "sim/expect_check.hpp"

#include "sim/answer_check.hpp"

namespace zanst::sim {

std::optional<std::string> ExpectCheck::check(const ExchangeReport& r) {
    if (r.kind != ExchangeReport::Kind::Measurement) {
        return std::nullopt;
    }
    const std::string head = "expect #" + std::to_string(r.number) + " ";
    if (!r.ok()) {
        ++unchecked_;
        return head + "not checked: the answer itself failed";
    }
    const playback::MatchResult m = matcher_.check(playback::answerValues(r.answerRecords, r.infoFlags));
    const playback::Timeline& t = matcher_.timeline();
    const std::string step = t.steps.empty() ? std::string()
                                             : "step " + std::to_string(m.step + 1) + " at " +
                                                   playback::clockText(t.steps[m.step].timeMs);
    if (m.matched) {
        return head + "match " + step;
    }
    return head + "MISMATCH near " + step + " errors=\"" + joinErrors(m.differences) + "\"";
}

std::string ExpectCheck::summary() const {
    return "expect summary matched=" + std::to_string(matcher_.matches()) +
           " mismatched=" + std::to_string(matcher_.mismatches()) +
           " unchecked=" + std::to_string(unchecked_) + " steps=" + std::to_string(matcher_.stepsSeen()) +
           "/" + std::to_string(matcher_.timeline().steps.size()) +
           " loops=" + std::to_string(matcher_.loops());
}

} // namespace zanst::sim
