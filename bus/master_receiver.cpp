#include "master_receiver.hpp"

namespace zanst::bus {

void MasterReceiver::commandByte(std::uint8_t command) {
    state_.commandPending = command;
    if (command == cmd::kInfo) {
        state_.numCells = 0; // a new info list begins
    }
}

void MasterReceiver::frameComplete(std::span<const std::uint8_t> frame, FrameKind kind) {
    if (clearsFlashBusy(kind, ReceiverRole::Master)) {
        state_.flashBsy = false;
    }
    if (recordsAck(kind)) {
        state_.ackReceived = state_.commandPending;
    }
    if (kind == FrameKind::Preset22) {
        state_.balancersInfo = false; // the bank changed: ask for the info again
    }
    if (sink_ != nullptr && frame.size() > 1 && frame[1] == sinkCommand_) {
        sink_->frameReturned(frame);
    }
}

void MasterReceiver::recordComplete(std::span<const std::uint8_t> record) {
    switch (record[0]) {
    case rec::kInfo:
        state_.tables.storeInfo(record);
        ++state_.numCells; // counted whatever the id
        if (framer_.state().followingFrames == 0) {
            state_.balancersInfo = true;
        }
        break;
    case rec::kMeasurement:
        state_.tables.storeMeasurement(record);
        break;
    case rec::kCalibration:
        state_.tables.storeCalibration(record);
        break;
    default:
        break;
    }
}

} // namespace zanst::bus
