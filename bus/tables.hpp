#pragma once
// The balancer and battery tables. Entries are laid out like the bus records they are copied from.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zanst::bus {

inline constexpr std::size_t kTableEntries = 256; // indexed by balancer id
inline constexpr int kMaxBalancerId = 255;        // highest id a table can hold
inline constexpr std::size_t kMaxBatteries = 32;
inline constexpr std::size_t kSerialLength = 11; // characters of a battery serial

// One balancer's identity; layout of the 32-byte info record.
struct balancerinfo {
    std::uint8_t type = 0;  // not filled by the receivers
    std::uint8_t flags = 0; // bit 0: measures current; bit 1: high-range sensor
    std::uint16_t id = 0;
    std::array<char, 12> serial{}; // 11 characters and a terminating zero
    std::uint16_t productId = 0;
    std::uint16_t capacity = 0;
    std::uint32_t fwVersion = 0;
    std::uint32_t blVersion = 0;
    std::uint8_t hwRevision = 0;
    std::uint8_t bootMode = 0;
    std::uint8_t following = 0; // not stored
    std::uint8_t crc = 0;

    std::string_view serialText() const {
        return {serial.data(), std::char_traits<char>::length(serial.data())};
    }
    // All 11 bytes as the record carried them, zero bytes included: what a frame addressed to
    // the battery must send back.
    std::string_view serialBytes() const { return {serial.data(), kSerialLength}; }
    bool measuresCurrent() const { return (flags & 0x01) != 0; }
    bool highRange() const { return (flags & 0x02) != 0; }
};

// One balancer's latest measurement; layout of the 12-byte measurement record.
struct cellmeasurements {
    std::uint8_t type = 0;
    std::uint8_t flags = 0; // bit 7: test mode; bit 6: set by balancers, cleared by the master
    std::uint16_t id = 0;
    std::int32_t measurement = 0; // bits 0..11: mV - 1000; bits 12..31: mA, signed
    std::int16_t temperature = 0; // bits 5..15: 0.1 degC, signed
    std::uint8_t following = 0;
    std::uint8_t crc = 0;

    bool inTestMode() const { return (flags & 0x80) != 0; }
};

// One balancer's calibration constants; layout of the 12-byte calibration record.
struct calibrationdata {
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::uint16_t id = 0;
    std::uint16_t vGain = 0;
    std::uint16_t iGain = 0;
    std::uint16_t iOffset = 0;
    std::uint8_t following = 0;
    std::uint8_t crc = 0;
};

// One battery of the bank.
struct batData {
    std::array<char, 12> serial{};
};

static_assert(sizeof(balancerinfo) == 32 && offsetof(balancerinfo, fwVersion) == 20 &&
              offsetof(balancerinfo, bootMode) == 29);
static_assert(sizeof(cellmeasurements) == 12 && offsetof(cellmeasurements, temperature) == 8);
static_assert(sizeof(calibrationdata) == 12 && offsetof(calibrationdata, iOffset) == 8);

// Balancer id of a record: the low 12 bits of bytes 2..3.
std::uint16_t recordId(std::span<const std::uint8_t> record);

// Field-by-field copies of received records into an entry (id masked to 12 bits).
void copyInfoRecord(balancerinfo& entry, std::span<const std::uint8_t> record);
void copyMeasurementRecord(cellmeasurements& entry, std::span<const std::uint8_t> record);
void copyCalibrationRecord(calibrationdata& entry, std::span<const std::uint8_t> record);

// The number of table entries a consumer may walk for a balancer count: ids 1..min(numCells, 255).
constexpr int walkableCells(int numCells) {
    return std::clamp(numCells, 0, kMaxBalancerId);
}

struct BalancerTables {
    std::array<balancerinfo, kTableEntries> balInfo{};
    std::array<cellmeasurements, kTableEntries> balancer{};
    std::array<calibrationdata, kTableEntries> balCalData{};
    std::array<batData, kMaxBatteries> batteryData{};

    // Copy a record into the entry of its id; ids of 256 and more change nothing. Returns whether stored.
    bool storeInfo(std::span<const std::uint8_t> record);
    bool storeMeasurement(std::span<const std::uint8_t> record);
    bool storeCalibration(std::span<const std::uint8_t> record);

    // Zeroes balInfo and balancer; calibration and battery tables stay.
    void clearData();
};

} // namespace zanst::bus
