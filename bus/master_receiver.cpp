#include "master_receiver.hpp"

#include <span>

namespace zanst::bus {

void MasterReceiver::feed(std::uint8_t b) {
    if (!state_.frameReceiving) {
        if (b == kStartByte) {
            state_.battCommTimeout = 0;
            rxBuffer_[0] = b;
            byteCounter_ = 1;
            followingFrames_ = 0;
            state_.frameReceiving = true;
            mCmdReceiving_ = true;
            cmdSize_ = kDefaultFrameSize;
        }
        return;
    }
    if (mCmdReceiving_) {
        feedFrame(b);
    } else {
        feedRecord(b);
    }
}

void MasterReceiver::abandon() {
    state_.frameReceiving = false;
    followingFrames_ = 0;
    mCmdReceiving_ = false;
}

void MasterReceiver::feedFrame(std::uint8_t b) {
    if (byteCounter_ < 0 || byteCounter_ >= kBufferSize) {
        abandon();
        return;
    }
    rxBuffer_[static_cast<std::size_t>(byteCounter_)] = b;
    if (byteCounter_ == 1) {
        state_.commandPending = b;
        if (b == cmd::kInfo) {
            state_.numCells = 0; // a new info list begins
        }
    }

    const auto command = static_cast<std::uint8_t>(state_.commandPending);
    const FrameKind kind = frameKind(command, ReceiverRole::Master);
    cmdSize_ = frameSizeAfter(kind, std::span<const std::uint8_t>(rxBuffer_), byteCounter_, cmdSize_);

    if (frameComplete(kind, byteCounter_, cmdSize_)) {
        mCmdReceiving_ = false;
        if (readsFollowing(kind)) {
            followingFrames_ = rxBuffer_[static_cast<std::size_t>(cmdSize_ - 2)];
            if (followingFrames_ != 0) {
                byteCounter_ = 0; // records follow
            } else {
                state_.frameReceiving = false;
            }
        } else {
            state_.frameReceiving = false;
            followingFrames_ = 0;
        }
        if (clearsFlashBusy(kind, ReceiverRole::Master)) {
            state_.flashBsy = false;
        }
        if (recordsAck(kind)) {
            state_.ackReceived = command;
        }
        if (kind == FrameKind::Preset22) {
            state_.balancersInfo = false; // the bank changed: ask for the info again
        }
    }
    if (mCmdReceiving_) {
        ++byteCounter_;
    }
}

void MasterReceiver::feedRecord(std::uint8_t b) {
    if (followingFrames_ != 0) {
        if (byteCounter_ < 0 || byteCounter_ >= kBufferSize) {
            abandon();
            return;
        }
        rxBuffer_[static_cast<std::size_t>(byteCounter_)] = b;
        ++byteCounter_;
        if (byteCounter_ >= kBufferSize) {
            followingFrames_ = 0;
            state_.frameReceiving = false;
        }
        const auto record = std::span<const std::uint8_t>(rxBuffer_).first(static_cast<std::size_t>(byteCounter_));
        switch (rxBuffer_[0]) {
        case rec::kInfo:
            if (record.size() == rec::kInfoSize) {
                state_.tables.storeInfo(record);
                ++state_.numCells; // counted whatever the id
                followingFrames_ = record[30];
                byteCounter_ = 0;
                if (followingFrames_ == 0) {
                    state_.balancersInfo = true;
                }
            }
            break;
        case rec::kMeasurement:
            if (record.size() == rec::kMeasurementSize) {
                state_.tables.storeMeasurement(record);
                followingFrames_ = record[10];
                byteCounter_ = 0;
            }
            break;
        case rec::kCalibration:
            if (record.size() == rec::kCalibrationSize) {
                state_.tables.storeCalibration(record);
                followingFrames_ = record[10];
                byteCounter_ = 0;
            }
            break;
        default:
            break;
        }
    }
    if (followingFrames_ == 0) {
        state_.frameReceiving = false;
    }
}

} // namespace zanst::bus
