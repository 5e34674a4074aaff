#pragma once
// Frames and firmware blocks lost on the ring on request (--swallow-command, --swallow-block), so
// that the master's repeats and time-outs can be watched: a lost message reaches no balancer and
// does not come back.

#include "sim/frame_receiver.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::sim {

struct LossConfig {
    std::vector<std::uint8_t> commands; // the first frame of each of these commands is lost
    std::vector<int> blocks;            // the first 0x23 block with each of these numbers is lost

    bool empty() const { return commands.empty() && blocks.empty(); }
};

class RingLoss {
  public:
    explicit RingLoss(LossConfig config = {}) : config_(std::move(config)) {}

    // Whether `m` is lost; each listed command and block is lost once, the first time it comes.
    // The text says what was lost.
    std::optional<std::string> take(const Message& m);

  private:
    LossConfig config_;
};

} // namespace zanst::sim
