#pragma once
// Per-byte echo delay through a pseudo-terminal at the line rate, shared by the echo benchmarks:
// one thread writes a pattern at 25,000 bytes/s, another reads what comes back and times it.

#include "bus/bytes.hpp"

#include <cstddef>

namespace zanst::bench {

inline constexpr double kBytesPerSecond = 25000.0;

struct PhaseResult {
    std::size_t sent = 0;
    std::size_t received = 0;
    std::size_t mismatches = 0;
    double p50us = 0;
    double p99us = 0;
    double maxus = 0;
};

void makeRaw(int fd);

// Sends `pattern` cyclically into writeFd at 25,000 bytes/s, one byte per write, and reads the
// bytes coming back on readFd; returns the per-byte delays.
PhaseResult runPhase(int writeFd, int readFd, const bus::Bytes& pattern, double seconds);

// The same through socat relaying between two pseudo-terminals; `ran` is false without socat.
PhaseResult socatPhase(const bus::Bytes& pattern, double seconds, bool& ran);

// The same through the plainest echo there is: one thread on one pseudo-terminal that polls, reads
// and writes back what it read (the shape of the tool's echo, without anything else).
PhaseResult echoLoopPhase(const bus::Bytes& pattern, double seconds);

void print(const char* name, const PhaseResult& r);

// A BMS polling 160 balancers: an info burst, then measurement bursts with quiet between them.
bus::Bytes snifferPattern();

} // namespace zanst::bench
