#include "bank_history.hpp"

#include <algorithm>
#include <stdexcept>

namespace zanst::bank {

BankHistory::BankHistory(std::size_t capacity, std::int64_t spacingMs)
    : ring_(std::max<std::size_t>(capacity, 1)), spacingMs_(spacingMs) {}

bool BankHistory::add(std::int64_t atMs, const BankSnapshot& snapshot) {
    if (size_ > 0 && atMs - latest().atMs < spacingMs_ && atMs >= latest().atMs) {
        return false;
    }
    BankSample& s = ring_[head_];
    s.atMs = atMs;
    const std::size_t cells = snapshot.balancers.size();
    // assign() keeps the vector's storage when the bank keeps its size.
    s.millivolts.assign(cells, kNoReading);
    s.tenthsCelsius.assign(cells, kNoReading);
    for (std::size_t i = 0; i < cells; ++i) {
        const BalancerReading& r = snapshot.balancers[i];
        if (r.millivolts) {
            s.millivolts[i] = static_cast<std::int16_t>(std::clamp(*r.millivolts, -32767, 32767));
            s.tenthsCelsius[i] = static_cast<std::int16_t>(std::clamp(r.tenthsCelsius, -32767, 32767));
        }
    }
    s.bankMv = bankMv_;
    s.bankMa = bankMa_;
    head_ = (head_ + 1) % ring_.size();
    size_ = std::min(size_ + 1, ring_.size());
    return true;
}

void BankHistory::setBank(int millivolts, int milliamps) {
    bankMv_ = millivolts;
    bankMa_ = milliamps;
}

const BankSample& BankHistory::at(std::size_t i) const {
    if (i >= size_) {
        throw std::out_of_range("BankHistory::at");
    }
    const std::size_t oldest = (head_ + ring_.size() - size_) % ring_.size();
    return ring_[(oldest + i) % ring_.size()];
}

std::size_t BankHistory::firstAtOrAfter(std::int64_t fromMs) const {
    // Samples are in time order unless the clock stepped back; a linear fallback is not needed
    // for the plots, which only lose the older part of a stepped history.
    std::size_t lo = 0;
    std::size_t hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (at(mid).atMs < fromMs) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

void BankHistory::clear() {
    head_ = 0;
    size_ = 0;
}

} // namespace zanst::bank
