#include "sim/balancer.hpp"

#include "bus/frames.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zanst::sim {

namespace {

constexpr int kVoltageGainTolerance = 1000; // a voltage correction beyond 10 % is a wrong reference
constexpr int kMinCurrentGain = 5000;       // 0.5 .. 2.0
constexpr int kMaxCurrentGain = 20000;
constexpr int kMinCalibrationCurrentMa = 500; // below this the gain cannot be worked out
constexpr int kMaxOffsetMa = 2000;            // more than this is current flowing, not an offset
constexpr int kGainStep = 10;                 // 0.1 % per step unit of command 0x30

std::uint16_t clampGain(long v, int lo, int hi) {
    return static_cast<std::uint16_t>(std::clamp<long>(v, lo, hi));
}

} // namespace

// A sensor reading never wraps into the neighbouring field: it saturates at the field's ends.
std::uint32_t packMeasurement(int millivolts, int milliamps) {
    return bus::packMeasurement(std::clamp(millivolts, 1000, 1000 + 0xFFF),
                                std::clamp(milliamps, -(1 << 19), (1 << 19) - 1));
}

std::uint16_t packTemperature(int tenths) {
    return bus::packTemperature(std::clamp(tenths, -1024, 1023));
}

std::uint8_t Balancer::infoFlags() const {
    switch (sensor) {
    case Sensor::None:
        return 0;
    case Sensor::LowRange:
        return infoflag::kMeasuresCurrent;
    case Sensor::HighRange:
        return infoflag::kMeasuresCurrent | infoflag::kHighRange;
    }
    return 0;
}

std::uint8_t Balancer::statusFlags() const {
    std::uint8_t f = status::kFromBalancer;
    if (testMode) {
        f |= status::kTestMode;
    }
    if (loadOn) {
        f |= status::kLoadOn;
    }
    if (bleeding) {
        f |= status::kBleeding;
    }
    return f;
}

int Balancer::reportedMv() const {
    return static_cast<int>(std::lround(rawMv() * working.vGain / kGainUnity));
}

double Balancer::rawMa(double trueMa) const {
    const double limit = sensor == Sensor::LowRange ? kLowRangeLimitMa : kHighRangeLimitMa;
    return std::clamp(trueMa * (1.0 + iSensorError) + iZeroError, -limit, limit);
}

int Balancer::reportedMa(double trueMa) const {
    if (!measuresCurrent()) {
        return 0;
    }
    const double ma = (rawMa(trueMa) - working.iOffset) * working.iGain / kGainUnity;
    if (sensor == Sensor::HighRange) {
        return static_cast<int>(std::lround(ma / 10.0) * 10); // coarse sensor: 10 mA steps
    }
    return static_cast<int>(std::lround(ma));
}

bus::Bytes Balancer::infoRecord(std::uint8_t following) const {
    bus::Bytes r = bus::makeRecord(bus::rec::kInfo, bus::rec::kInfoSize, id);
    r[1] = infoFlags();
    bus::putAscii(r, 4, std::string_view(serial).substr(0, 11));
    bus::putLe16(r, 16, productId);
    bus::putLe16(r, 18, capacity);
    bus::putLe32(r, 20, fwVersion);
    bus::putLe32(r, 24, blVersion);
    r[28] = hwRevision;
    r[29] = bootMode ? 1 : 0;
    bus::seal(r, following);
    return r;
}

void Balancer::fillMeasurement(bus::Bytes& record, double trueMa, int voltageNoiseMv,
                               int currentNoiseMa) const {
    if (record.size() < bus::rec::kMeasurementSize) {
        return;
    }
    record[1] = statusFlags();
    const int ma = measuresCurrent() ? reportedMa(trueMa) + currentNoiseMa : 0;
    bus::putLe32(record, 4, packMeasurement(reportedMv() + voltageNoiseMv, ma));
    bus::putLe16(record, 8, packTemperature(static_cast<int>(std::lround(tempTenths))));
}

void Balancer::fillCalibration(bus::Bytes& record) const {
    if (record.size() < bus::rec::kCalibrationSize) {
        return;
    }
    record[1] = statusFlags();
    bus::putLe16(record, 4, working.vGain);
    bus::putLe16(record, 6, working.iGain);
    bus::putLe16(record, 8, static_cast<std::uint16_t>(working.iOffset));
}

std::string Balancer::calibrateVoltage(int referenceMv) {
    if (!testMode) {
        return "not in test mode";
    }
    const long gain = std::lround(referenceMv * static_cast<double>(kGainUnity) / rawMv());
    if (std::abs(gain - kGainUnity) > kVoltageGainTolerance) {
        return "reference " + std::to_string(referenceMv) + " mV is more than 10 % off the reading";
    }
    working.vGain = static_cast<std::uint16_t>(gain);
    return {};
}

std::string Balancer::calibrateCurrentGain(int referenceTenthsA, double trueMa) {
    if (!testMode) {
        return "not in test mode";
    }
    if (!measuresCurrent()) {
        return "no current sensor";
    }
    const double measured = std::abs(rawMa(trueMa) - working.iOffset);
    if (measured < kMinCalibrationCurrentMa) {
        return "too little current to calibrate (" + std::to_string(std::lround(measured)) + " mA)";
    }
    const long gain = std::lround(referenceTenthsA * 100.0 * kGainUnity / measured);
    if (gain < kMinCurrentGain || gain > kMaxCurrentGain) {
        return "reference " + std::to_string(referenceTenthsA / 10) + "." +
               std::to_string(referenceTenthsA % 10) + " A gives gain " + std::to_string(gain) +
               ", outside 5000..20000";
    }
    working.iGain = static_cast<std::uint16_t>(gain);
    return {};
}

std::string Balancer::calibrateCurrentOffset(double trueMa) {
    if (!testMode) {
        return "not in test mode";
    }
    if (!measuresCurrent()) {
        return "no current sensor";
    }
    const long raw = std::lround(rawMa(trueMa));
    if (std::abs(raw) > kMaxOffsetMa) {
        return "current is flowing (" + std::to_string(raw) + " mA): offset not taken";
    }
    working.iOffset = static_cast<std::int16_t>(raw);
    return {};
}

std::string Balancer::saveCalibration() {
    if (!testMode) {
        return "not in test mode";
    }
    saved = working;
    serial.clear();
    capacity = 0;
    productId = 0;
    return {};
}

std::string Balancer::setParameters(std::uint16_t newCapacity, std::uint16_t newProductId,
                                    const std::string& newSerial) {
    if (!testMode) {
        return "not in test mode";
    }
    serial = newSerial;
    capacity = newCapacity;
    productId = newProductId;
    return {};
}

std::string Balancer::adjustCurrent(int operation, int step, double trueMa) {
    if (!measuresCurrent()) {
        return "no current sensor";
    }
    switch (operation) {
    case adjust::kZeroCurrent: {
        const long raw = std::lround(rawMa(trueMa));
        if (std::abs(raw) > kMaxOffsetMa) {
            return "current is flowing (" + std::to_string(raw) + " mA): zero not taken";
        }
        working.iOffset = static_cast<std::int16_t>(raw);
        break;
    }
    case adjust::kDefaultGain:
        working.iGain = kGainUnity;
        break;
    case adjust::kIncreaseGain:
        working.iGain = clampGain(working.iGain + step * kGainStep, kMinCurrentGain, kMaxCurrentGain);
        break;
    case adjust::kDecreaseGain:
        working.iGain = clampGain(working.iGain - step * kGainStep, kMinCurrentGain, kMaxCurrentGain);
        break;
    default:
        return "operation " + std::to_string(operation) + " unknown";
    }
    saved.iGain = working.iGain;
    saved.iOffset = working.iOffset;
    return {};
}

void Balancer::factoryCalibrate() {
    working.vGain = static_cast<std::uint16_t>(std::lround(kGainUnity / (1.0 + vSensorError)));
    if (measuresCurrent()) {
        working.iGain = static_cast<std::uint16_t>(std::lround(kGainUnity / (1.0 + iSensorError)));
        working.iOffset = static_cast<std::int16_t>(iZeroError);
    } else {
        working.iGain = kGainUnity;
        working.iOffset = 0;
    }
    saved = working;
}

} // namespace zanst::sim
