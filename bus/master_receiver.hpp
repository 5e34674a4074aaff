#pragma once
// Master-side receiver: what comes back along the ring, cut into frames and records by the
// framer, goes into the balancer tables. A record whose CRC-8 fails is counted, not copied: the
// balancer keeps its last good values. Fed one byte at a time on the bus thread.

#include "framer.hpp"
#include "state.hpp"

#include <cstdint>

namespace zanst::bus {

// Takes the completed frames of one command as they come back along the ring (the metrics fetch
// its answers). The span is valid during the call only.
class ReturnedFrameSink {
  public:
    virtual void frameReturned(std::span<const std::uint8_t> frame) = 0;

  protected:
    ~ReturnedFrameSink() = default;
};

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
    // Completed frames with command `command` also go to `sink` (nullptr: to nobody).
    void setFrameSink(std::uint8_t command, ReturnedFrameSink* sink) {
        sinkCommand_ = command;
        sink_ = sink;
    }

  private:
    void frameStarted() override { state_.battCommTimeout = 0; }
    void commandByte(std::uint8_t command) override;
    void frameComplete(std::span<const std::uint8_t> frame, FrameKind kind) override;
    void recordComplete(std::span<const std::uint8_t> record) override;

    BusState& state_;
    BurstHealth burst_;
    bool infoListDamaged_ = false; // an info record of the list being received failed its CRC
    Framer framer_;
    ReturnedFrameSink* sink_ = nullptr;
    std::uint8_t sinkCommand_ = 0;
};

} // namespace zanst::bus
