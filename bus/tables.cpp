#include "tables.hpp"

#include "bytes.hpp"
#include "protocol.hpp"

namespace zanst::bus {

std::uint16_t recordId(std::span<const std::uint8_t> record) {
    return static_cast<std::uint16_t>(getLe16(record, 2) & 0x0FFF);
}

void copyInfoRecord(balancerinfo& entry, std::span<const std::uint8_t> record) {
    if (record.size() < rec::kInfoSize) {
        return;
    }
    entry.flags = record[1];
    entry.id = recordId(record);
    for (std::size_t i = 0; i < kSerialLength; ++i) {
        entry.serial[i] = static_cast<char>(record[4 + i]);
    }
    entry.serial[kSerialLength] = '\0';
    entry.productId = getLe16(record, 16);
    entry.capacity = getLe16(record, 18);
    entry.fwVersion = getLe32(record, 20);
    entry.blVersion = getLe32(record, 24);
    entry.hwRevision = record[28];
    entry.bootMode = record[29];
    entry.crc = record[31];
}

void copyMeasurementRecord(cellmeasurements& entry, std::span<const std::uint8_t> record) {
    if (record.size() < rec::kMeasurementSize) {
        return;
    }
    entry.flags = record[1];
    entry.id = recordId(record);
    entry.measurement = static_cast<std::int32_t>(getLe32(record, 4));
    entry.temperature = static_cast<std::int16_t>(getLe16(record, 8));
    entry.following = record[10];
    entry.crc = record[11];
}

void copyCalibrationRecord(calibrationdata& entry, std::span<const std::uint8_t> record) {
    if (record.size() < rec::kCalibrationSize) {
        return;
    }
    entry.flags = record[1];
    entry.id = recordId(record);
    entry.vGain = getLe16(record, 4);
    entry.iGain = getLe16(record, 6);
    entry.iOffset = getLe16(record, 8);
    entry.following = record[10];
    entry.crc = record[11];
}

namespace {
// Copies a record into the entry of its id; ids of 256 and more change nothing.
template <typename Entry, std::size_t N>
bool storeById(std::array<Entry, N>& table, std::span<const std::uint8_t> record,
               void (*copy)(Entry&, std::span<const std::uint8_t>)) {
    const auto id = recordId(record);
    if (id >= N) {
        return false;
    }
    copy(table[id], record);
    return true;
}
} // namespace

bool BalancerTables::storeInfo(std::span<const std::uint8_t> record) {
    return storeById(balInfo, record, copyInfoRecord);
}

bool BalancerTables::storeMeasurement(std::span<const std::uint8_t> record) {
    return storeById(balancer, record, copyMeasurementRecord);
}

bool BalancerTables::storeCalibration(std::span<const std::uint8_t> record) {
    return storeById(balCalData, record, copyCalibrationRecord);
}

void BalancerTables::clearData() {
    balInfo.fill(balancerinfo{});
    balancer.fill(cellmeasurements{});
}

} // namespace zanst::bus
