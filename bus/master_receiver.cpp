#include "master_receiver.hpp"

#include "records.hpp"

namespace zanst::bus {

void MasterReceiver::commandByte(std::uint8_t command) {
    state_.commandPending = command;
    if (command == cmd::kInfo) {
        state_.numCells = 0; // a new info list begins
        infoListDamaged_ = false;
    }
}

void MasterReceiver::frameComplete(std::span<const std::uint8_t> frame, FrameKind kind) {
    burst_.frame(crcValid(frame));
    if (clearsFlashBusy(kind, ReceiverRole::Master)) {
        state_.flashBsy = false;
    }
    if (recordsAck(kind)) {
        state_.ackReceived = state_.commandPending;
        state_.acksSeen.set(static_cast<std::size_t>(state_.commandPending & 0xFF));
    }
    if (kind == FrameKind::Preset22) {
        state_.balancersInfo = false; // the bank changed: ask for the info again
    }
    if (watchedCommand_ && frame.size() > 1 && frame[1] == *watchedCommand_) {
        returned_.emplace_back(frame.begin(), frame.end());
    }
}

void MasterReceiver::recordComplete(std::span<const std::uint8_t> record) {
    const bool valid = burst_.record(record);
    switch (record[0]) {
    case rec::kInfo:
        if (valid) {
            state_.tables.storeInfo(record);
        } else {
            infoListDamaged_ = true;
        }
        ++state_.numCells; // counted whatever the id, so the records that follow keep their places
        // A list with a damaged record is asked for again at the next tick.
        if (framer_.state().followingFrames == 0 && !infoListDamaged_) {
            state_.balancersInfo = true;
        }
        break;
    case rec::kMeasurement:
        if (valid) {
            state_.tables.storeMeasurement(record);
        }
        break;
    case rec::kCalibration:
        if (valid) {
            state_.tables.storeCalibration(record);
        }
        break;
    default:
        break;
    }
    if (framer_.hunting()) {
        burst_.burstEnded();
    }
}

} // namespace zanst::bus
