#pragma once
// The bank values a measurement poll sends and a BMS announces: setpoint, bank voltage and bank
// current, as numbers; their texts are made at the edge.

#include "bus/number_text.hpp"

#include <string>

namespace zanst::bank {

// The values a measurement poll sends and the tab shows; they keep their last values between ticks.
struct BankValues {
    int balancerSetpoint = 0; // mV
    int batVoltage = 0;       // mV
    int batCurrent = 0;       // mA
};

// The three read-only boxes: setpoint and bank voltage in V, bank current in A, 3 decimals.
struct BankTexts {
    std::string setpoint;
    std::string voltage;
    std::string current;
};

BankTexts bankTexts(const BankValues& bank, const bus::TextFormat& format);

} // namespace zanst::bank
