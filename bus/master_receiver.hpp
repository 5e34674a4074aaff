#pragma once
// Master-side receiver: what comes back along the ring, cut into frames and records by the
// framer, goes into the balancer tables. A record whose CRC-8 fails is counted, not copied: the
// balancer keeps its last good values. Fed one byte at a time on the bus thread.

#include "bytes.hpp"
#include "framer.hpp"
#include "state.hpp"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace zanst::bus {

class MasterReceiver final : private FrameObserver {
  public:
    // 0x31 is 22 bytes here; every record type is delimited.
    static constexpr FramerRules kRules{ReceiverRole::Master, 3000, LimitRule::AbandonOnOverflow, true};

    // The in-frame flag is the program-wide BusState::frameReceiving, which the command sender clears.
    explicit MasterReceiver(BusState& state)
        : state_(state), burst_(state.health), framer_(kRules, *this, state.frameReceiving) {}

    void feed(std::uint8_t b) { framer_.feed(b); }

    // Sniffer mode restarts the master-side assembly position on every receive pass.
    void resetByteCounter() { framer_.resetByteCounter(); }

    const Framer& framer() const { return framer_; }
    void setFrameTap(FrameObserver* tap) { framer_.setTap(tap); }
    // Completed frames with command `command` are kept whole for takeReturnedFrames() (the metrics
    // fetch takes its answers so).
    void watchFrames(std::uint8_t command) { watchedCommand_ = command; }
    // The watched frames completed since the last call, in order.
    std::vector<Bytes> takeReturnedFrames() { return std::exchange(returned_, {}); }

  private:
    void frameStarted() override { state_.battCommTimeout = 0; }
    void commandByte(std::uint8_t command) override;
    void frameComplete(std::span<const std::uint8_t> frame, FrameKind kind) override;
    void recordComplete(std::span<const std::uint8_t> record) override;

    BusState& state_;
    BurstHealth burst_;
    bool infoListDamaged_ = false; // an info record of the list being received failed its CRC
    Framer framer_;
    std::optional<std::uint8_t> watchedCommand_;
    std::vector<Bytes> returned_;
};

} // namespace zanst::bus
