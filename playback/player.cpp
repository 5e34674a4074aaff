#include "player.hpp"

#include <algorithm>

namespace zanst::playback {

namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;

} // namespace

int paceFactor(Pace pace) {
    switch (pace) {
    case Pace::Recorded:
        return 1;
    case Pace::Double:
        return 2;
    case Pace::Tenfold:
        return 10;
    case Pace::Step:
        return 0;
    }
    return 0;
}

Player::Player(const Timeline& timeline, const Clock& clock) : clock_(clock), lengthMs_(timeline.lengthMs()) {
    timesMs_.reserve(timeline.steps.size());
    for (const Step& s : timeline.steps) {
        timesMs_.push_back(s.timeMs);
    }
}

Player::Ns Player::rawPosition(PlayClock::time_point now) const {
    if (!moving()) {
        return anchorPos_;
    }
    const Ns elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchorAt_).count();
    return anchorPos_ + std::max<Ns>(elapsed, 0) * paceFactor(pace_);
}

std::size_t Player::stepAtNs(Ns position) const {
    const auto after = std::upper_bound(timesMs_.begin(), timesMs_.end(), position,
                                        [](Ns p, std::int64_t t) { return p < t * kNsPerMs; });
    return after == timesMs_.begin() ? 0 : static_cast<std::size_t>(after - timesMs_.begin()) - 1;
}

void Player::anchor(Ns position, PlayClock::time_point now) {
    anchorPos_ = position;
    anchorAt_ = now;
}

void Player::advance(PlayClock::time_point now) {
    if (!moving() || timesMs_.empty()) {
        return;
    }
    const Ns length = lengthMs_ * kNsPerMs;
    const Ns position = rawPosition(now);
    if (position >= length) {
        if (!loop_) {
            anchor(length, now);
            state_ = PlayState::Finished;
            current_ = timesMs_.size() - 1;
            return;
        }
        // Every pass over the end starts again from the beginning; the place within the pass is kept exactly.
        const Ns over = position - length;
        loops_ += static_cast<long>(1 + over / length);
        anchor(over % length, now);
    }
    current_ = stepAtNs(rawPosition(now));
}

void Player::play() {
    const auto now = clock_.now();
    switch (state_) {
    case PlayState::Stopped:
    case PlayState::Finished:
        anchor(0, now);
        current_ = 0;
        state_ = PlayState::Playing;
        break;
    case PlayState::Paused:
        anchor(anchorPos_, now);
        state_ = PlayState::Playing;
        break;
    case PlayState::Playing:
        break;
    }
}

void Player::pause() {
    if (state_ != PlayState::Playing) {
        return;
    }
    const auto now = clock_.now();
    advance(now);
    if (state_ == PlayState::Playing) {
        anchor(rawPosition(now), now);
        state_ = PlayState::Paused;
    }
}

void Player::stop() {
    const auto now = clock_.now();
    advance(now);
    anchor(rawPosition(now), now);
    state_ = PlayState::Stopped;
}

void Player::setPace(Pace pace) {
    const auto now = clock_.now();
    advance(now);
    const Ns position = rawPosition(now);
    pace_ = pace;
    anchor(position, now);
}

void Player::seek(std::int64_t positionMs) {
    if (timesMs_.empty()) {
        return;
    }
    const auto now = clock_.now();
    const std::int64_t at = std::clamp<std::int64_t>(positionMs, 0, lengthMs_ - 1);
    anchor(at * kNsPerMs, now);
    current_ = stepAtNs(anchorPos_);
    if (state_ == PlayState::Finished || state_ == PlayState::Stopped) {
        state_ = PlayState::Paused;
    }
}

void Player::step(int by) {
    if (timesMs_.empty()) {
        return;
    }
    const auto now = clock_.now();
    advance(now);
    if (moving()) {
        current_ = stepAtNs(rawPosition(now));
    }
    const auto count = static_cast<long long>(timesMs_.size());
    long long next = static_cast<long long>(current_) + by;
    if (next >= count) {
        if (loop_) {
            loops_ += static_cast<long>(next / count);
            next %= count;
        } else {
            next = count - 1;
        }
    } else if (next < 0) {
        next = loop_ ? (next % count + count) % count : 0;
    }
    current_ = static_cast<std::size_t>(next);
    anchor(timesMs_[current_] * kNsPerMs, now);
    if (state_ == PlayState::Finished || state_ == PlayState::Stopped) {
        state_ = PlayState::Paused;
    }
}

std::optional<std::size_t> Player::update() {
    if (timesMs_.empty()) {
        return std::nullopt;
    }
    advance(clock_.now());
    if (reported_ == current_) {
        return std::nullopt;
    }
    reported_ = current_;
    return current_;
}

std::optional<PlayClock::time_point> Player::nextDue() const {
    if (!moving() || timesMs_.empty()) {
        return std::nullopt;
    }
    const Ns next = current_ + 1 < timesMs_.size() ? timesMs_[current_ + 1] * kNsPerMs : lengthMs_ * kNsPerMs;
    const int factor = paceFactor(pace_);
    // The first instant at which the position has reached `next`.
    const Ns wait = std::max<Ns>(next - anchorPos_, 0);
    return anchorAt_ + std::chrono::nanoseconds((wait + factor - 1) / factor);
}

std::int64_t Player::positionMs() const {
    if (state_ == PlayState::Finished) {
        return lengthMs_;
    }
    Ns position = rawPosition(clock_.now());
    const Ns length = lengthMs_ * kNsPerMs;
    if (moving() && position >= length && length > 0) {
        position = loop_ ? position % length : length;
    }
    return position / kNsPerMs;
}

} // namespace zanst::playback
