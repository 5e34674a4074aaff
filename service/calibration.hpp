#pragma once
// Calibration of one balancer's voltage and current measurement ("Calibration" tab) and the
// current-gain steps of a whole battery ("Gain" group): the inputs the buttons read and the
// frames they send with the command sender.

#include "input_text.hpp"

#include "bus/bytes.hpp"
#include "bus/tables.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

namespace zanst::service {

inline constexpr std::string_view kPromptVoltage = "measured voltage";
inline constexpr std::string_view kPromptCurrent = "measured current";

// How a calibrate button found its input box.
enum class InputStatus {
    Ok,      // `value` is what goes out; the text turns black
    Empty,   // the box shows `prompt` in red; nothing is sent
    Invalid, // the text turns red; nothing is sent
};

struct InputOutcome {
    InputStatus status = InputStatus::Invalid;
    std::uint16_t value = 0;
    std::string_view prompt; // with Empty

    bool operator==(const InputOutcome&) const = default;
};

BoxView boxView(const InputOutcome& outcome);

// "Cell voltage" in V, "." or "," as decimal point, as mV; decimals beyond the third are cut.
// Empty: "measured voltage". Invalid: another character, more than one separator, no digit, or
// more than 65535 mV.
InputOutcome readCellVoltage(std::string_view text);

// "2:Current" in A, "." or "," as decimal point, as tenths of an ampere; decimals beyond the
// first are cut. Empty: "measured current". Invalid: another character, more than one
// separator, a separator without a digit after it, or more than 6553.5 A.
InputOutcome readCalibrationCurrent(std::string_view text);

// Bus address of the balancer in a table row (row r shows balancer r + 1). None without a
// current row (-1) and from row 255 on, whose address does not fit the address byte.
std::optional<std::uint8_t> balancerAddress(int row);

enum class CalibrationKind : std::uint8_t { Voltage = 1, CurrentGain = 2, CurrentOffset = 3 };

// 0x11, 26 bytes: address, value, kind, master serial.
bus::Bytes buildCalibrateFrame(std::uint8_t address, CalibrationKind kind, std::uint16_t value);

// 0x12, 26 bytes: address, master serial.
bus::Bytes buildSaveCalibrationFrame(std::uint8_t address);

// What "calibrate voltage" or "calibrate gain" does with the current row and its box: without
// an addressed balancer the box shows the prompt, as for an empty box.
struct CalibrateRequest {
    InputOutcome input;
    bus::Bytes frame; // empty when nothing is sent
};

CalibrateRequest calibrateVoltage(int row, std::string_view text);
CalibrateRequest calibrateGain(int row, std::string_view text);

// "calibrate offset" (value 0, taken with no current flowing) and "save calibration"; nothing
// without an addressed balancer.
std::optional<bus::Bytes> calibrateOffset(int row);
std::optional<bus::Bytes> saveCalibration(int row);

enum class GainOperation : std::uint8_t {
    ZeroCurrent = 3,
    DefaultGain = 4,
    IncreaseGain = 5,
    DecreaseGain = 6
};

// 0x30, 26 bytes: the current-adjustment word, operation, step (2 for increase and decrease),
// the battery's serial.
bus::Bytes buildCurrentAdjustFrame(GainOperation operation, std::string_view batterySerial);

// "Zero Current", "Default gain", "Inc Gain", "Dec Gain" on the tester table's current row: the
// battery is addressed by the serial of that row's balancer, all 11 bytes as its info record
// carried them (a zero byte inside does not end it). Nothing without one.
std::optional<bus::Bytes> currentAdjustment(const bus::BalancerTables& tables, int row,
                                            GainOperation operation);

} // namespace zanst::service
