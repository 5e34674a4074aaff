#pragma once
// Bank computation of the battery tester: bank voltage, bank current and the balancing setpoint
// that every measurement poll hands to the balancers. Integer arithmetic, divisions truncate.

#include "bus/number_text.hpp"
#include "bus/state.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace zanst::tester {

inline constexpr int kSetpointMinMv = 3400;
inline constexpr int kSetpointMaxMv = 3600;
inline constexpr int kDefaultSetpointCorrection = 5; // mV per A
inline constexpr int kMinSetpointCorrection = 1;
inline constexpr int kMaxSetpointCorrection = 1000;
inline constexpr int kMaxBatVoltageMv = 65535; // the bank voltage travels in 16 bits

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

// Parallel strings of a bank of `batteries` batteries with `nominalVolts` each in a `sysv` system.
int parallelStrings(int sysv, int nominalVolts, int batteries);

// Bank current from the low- and high-range sensors' averages (mA); a range without sensors is empty.
int bankCurrent(std::optional<int> lowAverage, std::optional<int> highAverage);

// CalcBMSParams: recomputes `bank` from balancers 1..numCells (at most 255) and rebuilds the
// battery table. `correction` must lie in 1..1000 (mV/A); anything else counts as the default.
void CalcBMSParams(bus::BusState& state, int sysv, int correction, BankValues& bank);

// The "Setpoint correction" text: a number whose integer part lies in 1..1000, read with '.' or
// the locale's decimal point. Returns the integer part, or nothing when the text is not valid.
std::optional<int> parseSetpointCorrection(std::string_view text, char decimalPoint = '.');

} // namespace zanst::tester
