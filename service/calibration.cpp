#include "calibration.hpp"

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/protocol.hpp"

namespace zanst::service {

namespace {

constexpr std::uint64_t kMaxField = 0xFFFF; // the 16-bit value field of the calibrate frame

constexpr InputOutcome ok(std::uint64_t value) {
    return {InputStatus::Ok, static_cast<std::uint16_t>(value), {}};
}
constexpr InputOutcome invalid() {
    return {InputStatus::Invalid, 0, {}};
}
constexpr InputOutcome empty(std::string_view prompt) {
    return {InputStatus::Empty, 0, prompt};
}

// A number with at most one decimal separator, split into its whole part (held at `wholeLimit`
// + 1) and the first `keptDecimals` decimals.
struct Decimal {
    bool valid = false;
    bool separator = false;
    int decimalDigits = 0; // all digits after the separator
    std::uint64_t whole = 0;
    std::uint64_t kept = 0; // the first keptDecimals of them, padded with zeros
};

Decimal parseDecimal(std::string_view text, std::uint64_t wholeLimit, int keptDecimals) {
    Decimal d;
    bool anyDigit = false;
    for (char c : text) {
        if (isDecimalSeparator(c)) {
            if (d.separator) {
                return {};
            }
            d.separator = true;
            continue;
        }
        if (!isDecimalDigit(c)) {
            return {};
        }
        anyDigit = true;
        if (!d.separator) {
            d.whole = pushDigit(d.whole, c, wholeLimit);
        } else if (d.decimalDigits++ < keptDecimals) {
            d.kept = d.kept * 10 + static_cast<std::uint64_t>(c - '0');
        }
    }
    for (int i = d.decimalDigits; i < keptDecimals; ++i) {
        d.kept *= 10;
    }
    d.valid = anyDigit;
    return d;
}

bus::Bytes addressedFrame(std::uint8_t command, std::uint8_t address) {
    bus::Bytes frame = bus::makeFrame(command, 20);
    frame[4] = address;
    bus::putAscii(frame, 12, bus::identity::kMasterSerial);
    return frame;
}

CalibrateRequest calibrate(int row, InputOutcome input, std::string_view prompt, CalibrationKind kind) {
    const auto address = balancerAddress(row);
    if (!address) {
        return {empty(prompt), {}};
    }
    if (input.status != InputStatus::Ok) {
        return {input, {}};
    }
    return {input, buildCalibrateFrame(*address, kind, input.value)};
}

} // namespace

BoxView boxView(const InputOutcome& outcome) {
    switch (outcome.status) {
    case InputStatus::Ok:
        return blackBox();
    case InputStatus::Empty:
        return redText(outcome.prompt);
    case InputStatus::Invalid:
        break;
    }
    return redBox();
}

InputOutcome readCellVoltage(std::string_view text) {
    if (text.empty()) {
        return empty(kPromptVoltage);
    }
    const Decimal d = parseDecimal(text, kMaxField / 1000, 3);
    if (!d.valid) {
        return invalid();
    }
    const std::uint64_t millivolts = d.whole * 1000 + d.kept;
    return millivolts <= kMaxField ? ok(millivolts) : invalid();
}

InputOutcome readCalibrationCurrent(std::string_view text) {
    if (text.empty()) {
        return empty(kPromptCurrent);
    }
    const Decimal d = parseDecimal(text, kMaxField / 10, 1);
    if (!d.valid || (d.separator && d.decimalDigits == 0)) {
        return invalid();
    }
    const std::uint64_t tenths = d.whole * 10 + d.kept;
    return tenths <= kMaxField ? ok(tenths) : invalid();
}

std::optional<std::uint8_t> balancerAddress(int row) {
    if (row < 0 || row >= bus::kMaxBalancerId) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(row + 1);
}

bus::Bytes buildCalibrateFrame(std::uint8_t address, CalibrationKind kind, std::uint16_t value) {
    bus::Bytes frame = addressedFrame(bus::cmd::kCalibrate, address);
    bus::putLe16(frame, 6, value);
    frame[8] = static_cast<std::uint8_t>(kind);
    bus::seal(frame, 0);
    return frame;
}

bus::Bytes buildSaveCalibrationFrame(std::uint8_t address) {
    bus::Bytes frame = addressedFrame(bus::cmd::kSaveCalibration, address);
    bus::seal(frame, 0);
    return frame;
}

CalibrateRequest calibrateVoltage(int row, std::string_view text) {
    return calibrate(row, readCellVoltage(text), kPromptVoltage, CalibrationKind::Voltage);
}

CalibrateRequest calibrateGain(int row, std::string_view text) {
    return calibrate(row, readCalibrationCurrent(text), kPromptCurrent, CalibrationKind::CurrentGain);
}

std::optional<bus::Bytes> calibrateOffset(int row) {
    if (const auto address = balancerAddress(row)) {
        return buildCalibrateFrame(*address, CalibrationKind::CurrentOffset, 0);
    }
    return std::nullopt;
}

std::optional<bus::Bytes> saveCalibration(int row) {
    if (const auto address = balancerAddress(row)) {
        return buildSaveCalibrationFrame(*address);
    }
    return std::nullopt;
}

bus::Bytes buildCurrentAdjustFrame(GainOperation operation, std::string_view batterySerial) {
    bus::Bytes frame = bus::makeFrame(bus::cmd::kCurrentAdjust, 20);
    bus::putAscii(frame, 4, bus::identity::kWordCurrentAdjust);
    frame[8] = static_cast<std::uint8_t>(operation);
    const bool step = operation == GainOperation::IncreaseGain || operation == GainOperation::DecreaseGain;
    frame[10] = step ? 2 : 0;
    bus::putAscii(frame, 12, batterySerial.substr(0, bus::kSerialLength));
    bus::seal(frame, 0);
    return frame;
}

std::optional<bus::Bytes> currentAdjustment(const bus::BalancerTables& tables, int row,
                                            GainOperation operation) {
    const auto address = balancerAddress(row);
    if (!address) {
        return std::nullopt;
    }
    return buildCurrentAdjustFrame(operation, tables.balInfo[*address].serialBytes());
}

} // namespace zanst::service
