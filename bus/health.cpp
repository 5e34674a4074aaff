#include "health.hpp"

#include "protocol.hpp"
#include "records.hpp"

namespace zanst::bus {

namespace {

constexpr std::uint8_t kFilledByBalancer = 0x40; // status bit 6: set by the balancer that filled the record

BalancerHealth* at(BusHealth& health, int place) {
    if (place < 1 || place >= static_cast<int>(kTableEntries)) {
        return nullptr;
    }
    return &health.balancers[static_cast<std::size_t>(place)];
}

} // namespace

void BurstHealth::frame(bool valid) {
    ++health_.framesReceived;
    ++(valid ? health_.validReceived : health_.crcErrors);
    place_ = 0;
    lastAnswered_ = 0;
    missedAfter_ = 0;
    placeholders_ = 0;
}

bool BurstHealth::record(std::span<const std::uint8_t> record) {
    ++place_;
    BalancerHealth* balancer = at(health_, place_);
    if (!crcValid(record)) {
        ++health_.crcErrors;
        if (balancer != nullptr) {
            ++balancer->crcErrors;
        }
        return false;
    }
    ++health_.validReceived;
    // Info records are appended by the balancers themselves; placeholders carry the fill mark.
    if (record[0] == rec::kMeasurement || record[0] == rec::kCalibration) {
        ++placeholders_;
        if ((record[1] & kFilledByBalancer) != 0) {
            lastAnswered_ = place_;
            missedAfter_ = 0;
        } else {
            ++missedAfter_;
            if (balancer != nullptr) {
                ++balancer->missedAnswers;
            }
        }
    }
    return true;
}

void BurstHealth::burstEnded() {
    if (placeholders_ > 0) { // an enumeration has no placeholders and tells nothing of the ring
        health_.noAnswerAfter = missedAfter_ > 0 ? lastAnswered_ : -1;
    }
}

} // namespace zanst::bus
