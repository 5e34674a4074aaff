#pragma once
// A bank that plays a recording (zanst-sim bank --from FILE): the recorded balancers answer the
// master round the ring with the recorded serials, sensors and values. The first measurement
// request starts the recording at its first step; it goes on at the recorded pace and starts
// again after its end. Service commands are passed on without effect: a recording cannot say
// what its balancers would have done.

#include "playback/timeline.hpp"
#include "sim/frame_receiver.hpp"
#include "sim/simulated_bank.hpp"
#include "sim/time.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::sim {

class RecordedBank {
  public:
    explicit RecordedBank(playback::Timeline timeline);

    // What the ring passes back for one complete message from the master.
    Answer respond(Message request, TimePoint now);

    const playback::Timeline& timeline() const { return timeline_; }
    int balancers() const { return timeline_.cellCount; }
    // The serial balancer i + 1 reports: the recorded one, else one made up per battery.
    const std::string& serial(std::size_t i) const { return serials_[i]; }
    // The step that answers at `now`; the recording's clock starts at the first call.
    std::size_t stepAt(TimePoint now);
    // How often the recording has started again from its beginning.
    long passes() const { return passes_; }

  private:
    Answer answerInfo(const Message& request) const;
    Answer answerRecords(Message& request, std::uint8_t type, TimePoint now);

    playback::Timeline timeline_;
    std::vector<std::string> serials_;
    std::uint16_t productId_ = 0;
    std::uint16_t capacity_ = 0;
    std::optional<TimePoint> start_;
    long passes_ = 0;
};

} // namespace zanst::sim
