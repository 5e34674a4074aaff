#pragma once
// How well the ring answers: counts kept by the receivers as frames and records arrive, read by
// the window as a status bar and per-balancer tooltips. Corrupted records are counted here
// instead of being copied into the tables.

#include "tables.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zanst::bus {

struct BalancerHealth {
    std::uint32_t crcErrors = 0;     // records of this balancer whose CRC-8 failed
    std::uint32_t missedAnswers = 0; // records it passed on without filling them in
};

struct BusHealth {
    std::uint64_t framesSent = 0;      // frames the tool wrote (not the sniffer's echo)
    std::uint64_t framesReceived = 0;  // complete frames, whatever their CRC
    std::uint64_t validReceived = 0;   // frames and records that arrived with a valid CRC-8
    std::uint64_t crcErrors = 0;       // frames and records whose CRC-8 failed
    std::uint64_t unansweredPolls = 0; // polls after which no frame came back before the next tick
    // The last burst with records: balancers after this one passed their records on unfilled
    // (the ring answers only up to here). -1: every balancer answered or nothing to tell.
    int noAnswerAfter = -1;
    std::array<BalancerHealth, kTableEntries> balancers{};
};

// The accounting of one burst of records (a frame and what follows it), shared by the receivers
// that fill the tables. Records are attributed to balancers by their place in the burst, which
// holds even when a corrupted record's id cannot be trusted: placeholders travel in id order.
class BurstHealth {
  public:
    explicit BurstHealth(BusHealth& health) : health_(health) {}

    // A frame completed; `valid` is its CRC verdict. Starts a new burst.
    void frame(bool valid);
    // A record completed at the next place of the burst. Returns whether its CRC is valid.
    bool record(std::span<const std::uint8_t> record);
    // The burst's last record arrived: tells where the ring stops answering.
    void burstEnded();

  private:
    BusHealth& health_;
    int place_ = 0;        // 1-based place of the last record in this burst
    int lastAnswered_ = 0; // place of the last record a balancer filled in
    int missedAfter_ = 0;  // records left unfilled after lastAnswered_
    int placeholders_ = 0; // measurement and calibration records in this burst
};

} // namespace zanst::bus
