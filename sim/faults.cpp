#include "sim/faults.hpp"

#include <algorithm>

namespace zanst::sim {

FaultInjector::FaultInjector(const FaultConfig& config) : config_(config), rng_(config.seed ^ 0x5EEDu) {}

bus::Bytes FaultInjector::apply(std::span<const std::uint8_t> bytes) {
    if (!active()) {
        return {bytes.begin(), bytes.end()};
    }
    bus::Bytes out;
    out.reserve(bytes.size());
    std::uniform_int_distribution<int> mask(1, 255);
    for (std::uint8_t b : bytes) {
        if (config_.dropRate > 0 && chance_(rng_) < config_.dropRate) {
            ++dropped_;
            continue;
        }
        if (config_.corruptRate > 0 && chance_(rng_) < config_.corruptRate) {
            b = static_cast<std::uint8_t>(b ^ mask(rng_)); // never XOR 0: the byte really changes
            ++corrupted_;
        }
        out.push_back(b);
    }
    return out;
}

std::size_t OutputPacer::push(std::span<const std::uint8_t> bytes, TimePoint now) {
    if (queue_.empty() && nextSlot_ < now) {
        nextSlot_ = now; // an idle line sends the first byte at once
    }
    queue_.insert(queue_.end(), bytes.begin(), bytes.end());
    if (queue_.size() <= kMaxQueued) {
        return 0;
    }
    const std::size_t excess = queue_.size() - kMaxQueued;
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(excess));
    return excess;
}

std::size_t OutputPacer::due(TimePoint now) const {
    if (queue_.empty()) {
        return 0;
    }
    if (perByte_ == Duration::zero()) {
        return queue_.size();
    }
    if (now < nextSlot_) {
        return 0;
    }
    const auto slots = static_cast<std::size_t>((now - nextSlot_) / perByte_) + 1;
    return std::min(slots, queue_.size());
}

bus::Bytes OutputPacer::front(std::size_t count) const {
    count = std::min(count, queue_.size());
    return {queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count)};
}

void OutputPacer::consumed(std::size_t count) {
    count = std::min(count, queue_.size());
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    // A line keeps its rate: bytes held up by a late wake-up follow in a burst, as they would
    // have arrived back to back.
    nextSlot_ += perByte_ * static_cast<long>(count);
}

std::optional<TimePoint> OutputPacer::nextTime() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return nextSlot_;
}

} // namespace zanst::sim
