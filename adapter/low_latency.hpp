#pragma once
// Asking a USB adapter to hand received bytes on at once: the driver's low-latency flag and, where
// the driver has one, its latency timer set to 1 ms; then what really took effect, and what a
// technician can do when it is still too slow.

#include "adapter/identity.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zanst::adapter {

// Above this the echo of "Data Sniffer" holds the ring up noticeably.
inline constexpr int kLatencyAdviceAboveMs = 2;

inline constexpr const char* kLatencyRuleFile = "60-zanst-ftdi-latency.rules";
inline constexpr const char* kLatencyRuleDir = "/usr/lib/udev/rules.d";

struct LowLatencyResult {
    enum class Flag {
        Set,         // the driver took ASYNC_LOW_LATENCY
        AlreadySet,  // it was on before
        Ignored,     // accepted, but it reads back off
        Refused,     // TIOCSSERIAL failed
        Unsupported, // the driver has no serial settings (a pseudo-terminal, some USB drivers)
    };
    Flag flag = Flag::Unsupported;
    int flagErrno = 0;
    std::optional<int> timerBeforeMs;
    std::optional<int> timerAfterMs;
    bool timerWritten = false;
    std::string timerError;          // why 1 could not be written
    std::vector<std::string> lines;  // what happened, in words
    std::vector<std::string> advice; // empty unless the timer stays above kLatencyAdviceAboveMs

    bool slow() const { return timerAfterMs && *timerAfterMs > kLatencyAdviceAboveMs; }
};

// On an open port: sets the low-latency flag, writes 1 to the latency timer where this process may,
// reads both back and says what took effect.
LowLatencyResult requestLowLatency(int fd, const AdapterIdentity& id);

// The udev rule that sets a driver's latency timer to 1 ms whenever the adapter is plugged in.
std::string latencyRule(const std::string& driver);

// What a technician can do about a latency timer of `ms`: the command for now, the rule for good.
std::vector<std::string> latencyAdvice(const AdapterIdentity& id, int ms);

} // namespace zanst::adapter
