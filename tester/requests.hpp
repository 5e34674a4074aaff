#pragma once
// The battery tester's poll requests and the placeholder records that follow them, one per
// known balancer, which every balancer fills in as they travel round the ring.

#include "bus/bytes.hpp"
#include "bus/state.hpp"

#include <cstdint>

namespace zanst::tester {

// 0x01, 22 bytes: product id, master serial; following 0 (the balancers append their info).
bus::Bytes buildInfoRequest();

// 0x08, 18 bytes: master serial; following 8.
bus::Bytes buildCalibrationRequest();

// 0x02, 26 bytes: setpoint (mV), bank voltage (mV, capped at 65535), master serial; following 2.
bus::Bytes buildMeasurementRequest(int balancerSetpoint, int batVoltage);

// One 12-byte record per balancer 1..numCells (at most 255), back to back: the balancer's own
// flags with bit 6 cleared, its id, and for measurement polls its last measurement and
// temperature; following = the record type, 0 on the last one.
bus::Bytes measurementPlaceholders(const bus::BusState& state);
bus::Bytes calibrationPlaceholders(const bus::BusState& state);

} // namespace zanst::tester
