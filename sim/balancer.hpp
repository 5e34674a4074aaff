#pragma once
// One simulated balancer board: its identity as info records report it, its measurement chain
// (true cell value -> sensor with its own error -> calibration constants -> reported value) and
// the service commands that change it.

#include "bus/bytes.hpp"

#include <cstdint>
#include <string>

namespace zanst::sim {

// Gains are parts per kGainUnity: 10000 reads the sensor unchanged.
inline constexpr int kGainUnity = 10000;

inline constexpr std::uint32_t kFactoryFirmware = 0x000104FF;   // v01.04
inline constexpr std::uint32_t kBootLoaderVersion = 0x000201FF; // v02.01
inline constexpr std::uint8_t kHardwareRevision = 3;

// Info record flags.
namespace infoflag {
inline constexpr std::uint8_t kMeasuresCurrent = 0x01;
inline constexpr std::uint8_t kHighRange = 0x02;
} // namespace infoflag

// Status flags of measurement and calibration records.
namespace status {
inline constexpr std::uint8_t kTestMode = 0x80;
inline constexpr std::uint8_t kFromBalancer = 0x40; // set in every record a balancer fills
inline constexpr std::uint8_t kLoadOn = 0x02;       // balancing load switched on by command
inline constexpr std::uint8_t kBleeding = 0x01;     // the balancing load is drawing current
} // namespace status

// Current-adjustment operations (command 0x30, byte 8).
namespace adjust {
inline constexpr int kZeroCurrent = 3;
inline constexpr int kDefaultGain = 4;
inline constexpr int kIncreaseGain = 5;
inline constexpr int kDecreaseGain = 6;
} // namespace adjust

enum class Sensor { None, LowRange, HighRange };

// A low-range sensor saturates here; a high-range one reads up to what the 20-bit field holds.
inline constexpr int kLowRangeLimitMa = 60000;
inline constexpr int kHighRangeLimitMa = 500000;

struct CalibrationConstants {
    std::uint16_t vGain = kGainUnity;
    std::uint16_t iGain = kGainUnity;
    std::int16_t iOffset = 0; // raw sensor reading in mA at zero current

    bool operator==(const CalibrationConstants&) const = default;
};

struct Balancer {
    // Identity, as the info record reports it.
    std::uint16_t id = 0;
    Sensor sensor = Sensor::None;
    std::string serial; // 11 characters; empty after a calibration save until parameters are set
    std::uint16_t productId = 0;
    std::uint16_t capacity = 0;
    std::uint32_t fwVersion = kFactoryFirmware;
    std::uint32_t blVersion = kBootLoaderVersion;
    std::uint8_t hwRevision = kHardwareRevision;
    bool bootMode = false;

    // Measurement chain. The factory calibrated the constants against the sensor errors.
    double vSensorError = 0.0; // relative error of the voltage input
    double iSensorError = 0.0; // relative error of the current sensor
    int iZeroError = 0;        // mA the current sensor reads with no current
    CalibrationConstants working;
    CalibrationConstants saved;

    // Cell and board state.
    double offsetMv = 0.0;   // this cell's voltage above the bank's open-circuit level
    double driftShare = 0.0; // relative capacity deviation: how fast the cell drifts with current
    bool runsHigh = false;   // the cell creeps upwards unless balanced
    double trueMv = 3300.0;  // cell voltage as a reference meter would read it
    double tempOffset = 0.0; // 0.1 degC of this cell above the bank
    double tempTenths = 200.0;
    bool testMode = false;
    bool loadOn = false;
    bool bleeding = false;

    bool measuresCurrent() const { return sensor != Sensor::None; }
    std::uint8_t infoFlags() const;
    std::uint8_t statusFlags() const;

    double rawMv() const { return trueMv * (1.0 + vSensorError); }
    int reportedMv() const;
    double rawMa(double trueMa) const;
    // 0 for a balancer without current sensor.
    int reportedMa(double trueMa) const;

    bus::Bytes infoRecord(std::uint8_t following) const;
    // Writes status, measurement and temperature into a 12-byte record; type, id and trailer stay.
    void fillMeasurement(bus::Bytes& record, double trueMa, int voltageNoiseMv, int currentNoiseMa) const;
    void fillCalibration(bus::Bytes& record) const;

    // Service commands. Each returns an empty text when done, else why the balancer refused.
    std::string calibrateVoltage(int referenceMv);
    std::string calibrateCurrentGain(int referenceTenthsA, double trueMa);
    std::string calibrateCurrentOffset(double trueMa);
    // Writes the calibration page; that clears the battery parameters until they are set again.
    std::string saveCalibration();
    void reloadCalibration() { working = saved; }
    std::string setParameters(std::uint16_t newCapacity, std::uint16_t newProductId,
                              const std::string& newSerial);
    // Field adjustments of the current gain; they are stored at once.
    std::string adjustCurrent(int operation, int step, double trueMa);

    // The factory state of the constants for this board's sensor errors.
    void factoryCalibrate();
};

// The record words of bus::packMeasurement and bus::packTemperature, each value clamped into its field.
std::uint32_t packMeasurement(int millivolts, int milliamps);
std::uint16_t packTemperature(int tenths);

} // namespace zanst::sim
