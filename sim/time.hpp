#pragma once
// Time as the simulator sees it. Every timed decision takes `now` as an argument, so tests
// drive the model and the timers with made-up time points instead of the wall clock.

#include <chrono>

namespace zanst::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

using namespace std::chrono_literals;

inline double seconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}
inline double millis(Duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace zanst::sim
