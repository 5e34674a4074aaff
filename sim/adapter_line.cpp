#include "sim/adapter_line.hpp"

#include <algorithm>

namespace zanst::sim {

AdapterLine::AdapterLine(const AdapterConfig& config, TimePoint start)
    : config_(config), lastArrival_(start - config.byteTime), timerStart_(start) {
    config_.latency = std::max(config_.latency, Duration(1ms));
    config_.packetBytes = std::max<std::size_t>(config_.packetBytes, 1);
}

void AdapterLine::push(std::span<const std::uint8_t> bytes, TimePoint now) {
    TimePoint at = std::max(now, lastArrival_ + config_.byteTime);
    for (std::uint8_t b : bytes) {
        held_.push_back({at, b});
        lastArrival_ = at;
        at += config_.byteTime;
    }
}

std::optional<std::pair<TimePoint, std::size_t>> AdapterLine::nextPacket() const {
    if (held_.empty()) {
        return std::nullopt;
    }
    // The first expiry of the timer at or after the first waiting byte's arrival.
    const Duration since = held_.front().arrival - timerStart_;
    auto periods = since.count() <= 0 ? 1 : (since + config_.latency - Duration(1)) / config_.latency;
    periods = std::max<decltype(periods)>(periods, 1);
    const TimePoint expiry = timerStart_ + config_.latency * periods;
    const std::size_t full = config_.packetBytes;
    if (held_.size() >= full && held_[full - 1].arrival <= expiry) {
        return std::pair{std::max(held_[full - 1].arrival, timerStart_), full};
    }
    std::size_t count = 0;
    while (count < held_.size() && count < full && held_[count].arrival <= expiry) {
        ++count;
    }
    return std::pair{expiry, count};
}

bus::Bytes AdapterLine::take(TimePoint now) {
    bus::Bytes out;
    for (auto packet = nextPacket(); packet && packet->first <= now; packet = nextPacket()) {
        const auto [at, count] = *packet;
        longestHold_ = std::max(longestHold_, at - held_.front().arrival);
        for (std::size_t i = 0; i < count; ++i) {
            out.push_back(held_.front().byte);
            held_.pop_front();
        }
        timerStart_ = at;
        ++packets_;
        bytes_ += static_cast<long>(count);
    }
    return out;
}

std::optional<TimePoint> AdapterLine::nextRelease() const {
    const auto packet = nextPacket();
    return packet ? std::optional<TimePoint>(packet->first) : std::nullopt;
}

void AdapterLine::clear() {
    held_.clear();
}

} // namespace zanst::sim
