#pragma once
// The state of the bus as the status bar shows it, sent by the engine a few times a second.

#include "bus/mode.hpp"

#include <QtGlobal>

#include <cstdint>

namespace zanst::app {

struct HealthReport {
    bus::Mode mode = bus::Mode::Connection;
    int balancers = 0; // found on the bus (numCells, at most 255)
    std::uint64_t framesSent = 0;
    std::uint64_t framesReceived = 0;
    std::uint64_t crcErrors = 0;
    std::uint64_t unansweredPolls = 0;
    int noAnswerAfter = -1;          // the ring answers only up to this balancer; -1: no break seen
    qint64 msSinceValid = -1;        // since the last frame or record with a valid CRC; -1: none yet
    std::uint64_t validReceived = 0; // frames and records with a valid CRC-8
};

} // namespace zanst::app
