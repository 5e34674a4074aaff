#pragma once
// Bank computation of the battery tester: bank voltage, bank current and the balancing setpoint
// that every measurement poll hands to the balancers. Integer arithmetic, divisions truncate.

#include "bank/bank_values.hpp"
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

// Parallel strings of a bank of `batteries` batteries with `nominalVolts` each in a `sysv` system.
int parallelStrings(int sysv, int nominalVolts, int batteries);

// Bank current from the low- and high-range sensors' averages (mA); a range without sensors is empty.
int bankCurrent(std::optional<int> lowAverage, std::optional<int> highAverage);

// CalcBMSParams: recomputes `bank` from balancers 1..numCells (at most 255) and rebuilds the
// battery table. `correction` must lie in 1..1000 (mV/A); anything else counts as the default.
void CalcBMSParams(bus::BusState& state, int sysv, int correction, bank::BankValues& bank);

// The "Setpoint correction" text: a number whose integer part lies in 1..1000, read with '.' or
// the locale's decimal point. Returns the integer part, or nothing when the text is not valid.
std::optional<int> parseSetpointCorrection(std::string_view text, char decimalPoint = '.');

} // namespace zanst::tester
