#include "actions.hpp"

#include "bus/crc8.hpp"
#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/protocol.hpp"
#include "bus/senders.hpp"

namespace zanst::service {

bus::Bytes buildReloadCalDataFrame() {
    bus::Bytes frame = bus::makeFrame(bus::cmd::kReloadCalibration, 10);
    bus::seal(frame, 0);
    return frame;
}

bus::Bytes buildGarbageBlock() {
    bus::Bytes block(kGarbageSize, 0);
    block[0] = bus::kStartByte;
    block[1] = bus::cmd::kStartBootloader;
    bus::calcCRC(block, 2);
    block[3] = 0x10;
    bus::putAscii(block, 4, bus::identity::kWordStartBootloader);
    bus::putAscii(block, 8, bus::identity::kMasterSerial);
    block[21] = 0xCC;
    return block;
}

bus::Bytes buildServiceFrame(ServiceAction action) {
    namespace id = bus::identity;
    switch (action) {
    case ServiceAction::EnableTestMode:
        return bus::buildTestModeFrame(id::kWordEnterTest);
    case ServiceAction::EndTestMode:
        return bus::buildTestModeFrame(id::kWordLeaveTest);
    case ServiceAction::BalancingLoadOn:
        return bus::buildTestModeFrame(id::kWordLoadOn);
    case ServiceAction::BalancingLoadOff:
        return bus::buildTestModeFrame(id::kWordLoadOff);
    case ServiceAction::ReloadCalData:
        return buildReloadCalDataFrame();
    case ServiceAction::Garbage:
        return buildGarbageBlock();
    }
    return {};
}

void sendServiceAction(bus::BusState& state, bus::BusPort& port, ServiceAction action) {
    bus::sendHexBmsCmd(port, state.frameReceiving, buildServiceFrame(action));
    if (action == ServiceAction::EnableTestMode || action == ServiceAction::EndTestMode) {
        state.balancersInfo = false;
    }
}

} // namespace zanst::service
