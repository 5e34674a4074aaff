#pragma once
// What the balancer tables hold of every known balancer, as numbers: taken on the bus thread,
// handed to the window, turned into texts at the edge.

#include "bus/state.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::bank {

struct BalancerReading {
    int id = 0;                    // the id of its info entry; 0 where no info arrived
    int cellId = 0;                // the id of its measurement entry; 0 before a measurement
    std::optional<int> millivolts; // empty while the measurement word is 0 (no measurement yet)
    int milliamps = 0;             // meaningful where the balancer measures current
    int tenthsCelsius = 0;
    std::uint8_t infoFlags = 0;   // bit 0: measures current; bit 1: high-range sensor
    std::uint8_t statusFlags = 0; // of the measurement; bit 7: test mode
    std::string serial;           // at most 11 characters
    std::uint16_t productId = 0;
    std::uint16_t capacity = 0;
    std::uint32_t fwVersion = 0;
    std::uint32_t blVersion = 0;
    std::uint8_t hwRevision = 0;
    std::uint8_t bootMode = 0;
    std::uint16_t vGain = 0; // the calibration entry
    std::uint16_t iGain = 0;
    std::uint16_t iOffset = 0;
    int battery = 0;                 // 0-based battery in id order: a new one at each change of serial
    std::uint32_t crcErrors = 0;     // this balancer's records that failed their CRC-8
    std::uint32_t missedAnswers = 0; // records it passed on without filling them in

    bool measuresCurrent() const { return (infoFlags & 0x01) != 0; }
    bool highRange() const { return (infoFlags & 0x02) != 0; }
};

// Balancers 1..min(numCells, 255); balancer i at index i - 1.
struct BankSnapshot {
    std::vector<BalancerReading> balancers;
};

BankSnapshot takeSnapshot(const bus::BusState& state);

} // namespace zanst::bank
