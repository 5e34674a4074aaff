#pragma once
// Plays a timeline at its recorded pace, twice or ten times as fast, or one step at a time,
// with pause, loop and seek. It keeps no timer of its own: its owner asks update() at
// nextDue() (a single-shot timer on the engine's thread) and drives the bank with the step it
// gets. Positions are worked out from one anchor (the moment and place of the last play,
// pace change or seek), so timer lateness never accumulates over a long recording.

#include "timeline.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zanst::playback {

using PlayClock = std::chrono::steady_clock;

// Where the player takes the time from; tests give it a clock they move by hand.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual PlayClock::time_point now() const = 0;
};

class SteadyClock final : public Clock {
  public:
    PlayClock::time_point now() const override { return PlayClock::now(); }
};

enum class Pace { Recorded, Double, Tenfold, Step };
// How much recording time passes per unit of real time: 1, 2, 10; 0 for one step at a time.
int paceFactor(Pace pace);

enum class PlayState {
    Stopped,  // not started, or stopped: the bank keeps the values it had
    Playing,  // the position moves with the clock (in Pace::Step only with step())
    Paused,   // the position stands
    Finished, // the end was reached without loop: the last step stays
};

class Player {
  public:
    // Takes the step times and the length of `timeline`; the timeline itself is not kept.
    Player(const Timeline& timeline, const Clock& clock);

    // From Stopped or Finished: from the first step. From Paused: on from where it stands.
    void play();
    void pause();
    // Ends the playback where it stands; the step last returned stays the bank's values.
    void stop();
    void setPace(Pace pace);
    void setLoop(bool on) { loop_ = on; }
    // To a place of the recording (clamped into it); a finished player pauses there.
    void seek(std::int64_t positionMs);
    // `by` whole steps on (or back); past either end with loop it wraps, without loop it stays
    // at the end. A stopped or finished player pauses on the new step; a playing one plays on from it.
    void step(int by = 1);

    // The step due now, when it is not the one returned last (the first call returns step 0).
    std::optional<std::size_t> update();
    // When update() has something new: the next step or the end of the recording. Nothing while
    // the position does not move by itself (paused, stopped, finished, one step at a time).
    std::optional<PlayClock::time_point> nextDue() const;

    std::size_t currentStep() const { return current_; }
    std::int64_t positionMs() const;
    std::int64_t lengthMs() const { return lengthMs_; }
    PlayState state() const { return state_; }
    Pace pace() const { return pace_; }
    bool loop() const { return loop_; }
    // How often a looping playback has started again from the beginning.
    long loops() const { return loops_; }

  private:
    using Ns = std::int64_t;

    // The position at `now` in nanoseconds of recording time, not wrapped.
    Ns rawPosition(PlayClock::time_point now) const;
    // Handles the end of the recording (loop or finish) up to `now`.
    void advance(PlayClock::time_point now);
    void anchor(Ns position, PlayClock::time_point now);
    std::size_t stepAtNs(Ns position) const;
    bool moving() const { return state_ == PlayState::Playing && paceFactor(pace_) > 0; }

    const Clock& clock_;
    std::vector<std::int64_t> timesMs_;
    std::int64_t lengthMs_ = 0;
    PlayState state_ = PlayState::Stopped;
    Pace pace_ = Pace::Recorded;
    bool loop_ = false;
    long loops_ = 0;
    Ns anchorPos_ = 0;
    PlayClock::time_point anchorAt_{};
    std::size_t current_ = 0;
    std::optional<std::size_t> reported_;
};

} // namespace zanst::playback
