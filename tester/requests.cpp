#include "requests.hpp"

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/protocol.hpp"

#include <algorithm>

namespace zanst::tester {

namespace {

constexpr std::uint8_t kMasterClearsBit6 = 0xBF;

bus::Bytes placeholders(const bus::BusState& state, std::uint8_t type, bool withMeasurement) {
    const int count = bus::walkableCells(state.numCells);
    bus::Bytes out;
    out.reserve(static_cast<std::size_t>(count) * bus::rec::kMeasurementSize);
    for (int id = 1; id <= count; ++id) {
        const auto& cell = state.tables.balancer[static_cast<std::size_t>(id)];
        bus::Bytes record = bus::makeRecord(type, bus::rec::kMeasurementSize, static_cast<std::uint16_t>(id));
        record[1] = static_cast<std::uint8_t>(cell.flags & kMasterClearsBit6);
        if (withMeasurement) {
            bus::putLe32(record, 4, static_cast<std::uint32_t>(cell.measurement));
            bus::putLe16(record, 8, static_cast<std::uint16_t>(cell.temperature));
        }
        bus::seal(record, id < count ? type : 0);
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}

} // namespace

bus::Bytes buildInfoRequest() {
    return bus::buildIdentityFrame(bus::cmd::kInfo);
}

bus::Bytes buildCalibrationRequest() {
    bus::Bytes frame = bus::makeFrame(bus::cmd::kCalibrationData, 12);
    bus::putAscii(frame, 4, bus::identity::kMasterSerial);
    bus::seal(frame, bus::rec::kCalibration);
    return frame;
}

bus::Bytes buildMeasurementRequest(int balancerSetpoint, int batVoltage) {
    bus::Bytes frame = bus::makeFrame(bus::cmd::kMeasurement, 20);
    bus::putLe16(frame, 4, static_cast<std::uint16_t>(std::clamp(balancerSetpoint, 0, 0xFFFF)));
    bus::putLe16(frame, 8, static_cast<std::uint16_t>(std::clamp(batVoltage, 0, 0xFFFF)));
    bus::putAscii(frame, 12, bus::identity::kMasterSerial);
    bus::seal(frame, bus::rec::kMeasurement);
    return frame;
}

bus::Bytes measurementPlaceholders(const bus::BusState& state) {
    return placeholders(state, bus::rec::kMeasurement, true);
}

bus::Bytes calibrationPlaceholders(const bus::BusState& state) {
    return placeholders(state, bus::rec::kCalibration, false);
}

} // namespace zanst::tester
