#include "sniffer_parser.hpp"

#include "bus/bytes.hpp"
#include "bus/hex.hpp"
#include "bus/protocol.hpp"

#include <limits>

namespace zanst::tester {

namespace {

// The BMS's 11-character serial; stops at a zero byte, unprintable bytes shown as '?'.
std::string serialText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        if (b == 0) {
            break;
        }
        text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
    }
    return text;
}

} // namespace

void SnifferParser::receive(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        serialSnifferDataParser(b);
    }
}

void SnifferParser::dropAll() {
    frameRx_ = false;
    mCmdReceiving_ = false;
    followingFrames_ = 0;
    byteCounter_ = 0;
}

void SnifferParser::serialSnifferDataParser(std::uint8_t b) {
    if (!frameRx_) {
        if (b == bus::kStartByte) {
            rxBuffer_[0] = b;
            followingFrames_ = 0;
            mCmdReceiving_ = true;
            frameRx_ = true;
            cmdSize_ = bus::kDefaultFrameSize;
            byteCounter_ = 0;
        }
    } else if (mCmdReceiving_) {
        commandByte(b);
    } else {
        recordByte(b);
    }
    ++byteCounter_;
    if (byteCounter_ >= kBufferSize) {
        dropAll();
    }
}

void SnifferParser::commandByte(std::uint8_t b) {
    if (byteCounter_ < 0 || byteCounter_ >= kBufferSize) {
        dropAll();
        return;
    }
    rxBuffer_[static_cast<std::size_t>(byteCounter_)] = b;
    if (byteCounter_ == 1) {
        command_ = b;
        if (b == bus::cmd::kInfo) {
            state_.numCells = 0; // the BMS enumerates the balancers anew
        }
    }
    const bus::FrameKind kind = bus::frameKind(command_, bus::ReceiverRole::Other);
    cmdSize_ = bus::frameSizeAfter(kind, std::span<const std::uint8_t>(rxBuffer_), byteCounter_, cmdSize_);
    if (bus::frameComplete(kind, byteCounter_, cmdSize_)) {
        endFrame(kind);
    }
}

void SnifferParser::endFrame(bus::FrameKind kind) {
    mCmdReceiving_ = false;
    if (bus::readsFollowing(kind)) {
        followingFrames_ = rxBuffer_[static_cast<std::size_t>(cmdSize_ - 2)];
        if (followingFrames_ != 0) {
            byteCounter_ = -1; // the first record goes to index 0
        } else {
            frameRx_ = false;
        }
    } else {
        frameRx_ = false;
        followingFrames_ = 0;
    }
    if (bus::clearsFlashBusy(kind, bus::ReceiverRole::Other)) {
        state_.flashBsy = false;
    }
    if (bus::recordsAck(kind)) {
        state_.ackReceived = command_;
    }
    if (kind == bus::FrameKind::Standard) {
        decodeFrame();
    }
}

void SnifferParser::report(BmsField field, const std::string& text) {
    if (listener_ != nullptr) {
        listener_->bmsInfoChanged(field, text);
    }
}

void SnifferParser::decodeFrame() {
    // Only the bytes of this frame; a short frame leaves the fields it does not carry alone.
    const auto frame = std::span<const std::uint8_t>(rxBuffer_).first(static_cast<std::size_t>(cmdSize_));
    const auto has = [&](std::size_t last) { return last < frame.size(); };
    if (command_ == bus::cmd::kInfo) {
        if (has(5)) {
            report(BmsField::Pid, bus::ConvertHex1(bus::getLe16(frame, 4), 4));
        }
        if (has(18)) {
            report(BmsField::Serial, serialText(frame.subspan(8, 11)));
        }
    } else if (command_ == bus::cmd::kMeasurement) {
        if (has(11)) {
            report(BmsField::Status, bus::ConvertHex1(bus::getLe16(frame, 10), 4));
        }
        if (has(5)) {
            report(BmsField::BalancerSetpoint, std::to_string(bus::getLe16(frame, 4)));
        }
        if (has(9)) {
            report(BmsField::SystemVbat, bus::scaledText(bus::getLe16(frame, 8), 1, format));
        }
        if (has(7)) {
            report(BmsField::BmsCurrent,
                   bus::scaledText(static_cast<std::int16_t>(bus::getLe16(frame, 6)), 1, format));
        }
    }
}

void SnifferParser::recordByte(std::uint8_t b) {
    if (followingFrames_ == 0) {
        return;
    }
    if (byteCounter_ < 0 || byteCounter_ >= kBufferSize) {
        dropAll();
        return;
    }
    rxBuffer_[static_cast<std::size_t>(byteCounter_)] = b;
    const auto record =
        std::span<const std::uint8_t>(rxBuffer_).first(static_cast<std::size_t>(byteCounter_ + 1));
    switch (rxBuffer_[0]) {
    case bus::rec::kInfo:
        if (record.size() == bus::rec::kInfoSize) {
            // The address is compared before the 12-bit mask: upper bits set means not stored.
            const int address = record[2] + 256 * record[3];
            if (address < static_cast<int>(bus::kTableEntries)) {
                bus::copyInfoRecord(state_.tables.balInfo[static_cast<std::size_t>(address)], record);
            }
            if (state_.numCells < std::numeric_limits<int>::max()) {
                ++state_.numCells;
            }
            endRecord(record[30]);
        }
        break;
    case bus::rec::kCalibration:
        if (record.size() == bus::rec::kCalibrationSize) {
            endRecord(record[10]);
        }
        break;
    case bus::rec::kMeasurement:
        if (record.size() == bus::rec::kMeasurementSize) {
            const int address = (record[2] + 256 * record[3]) & 0xFFF;
            if (address < static_cast<int>(bus::kTableEntries)) {
                auto& cell = state_.tables.balancer[static_cast<std::size_t>(address)];
                bus::copyMeasurementRecord(cell, record);
                state_.tables.balInfo[static_cast<std::size_t>(address)].id = cell.id;
                if (cell.id > state_.numCells) {
                    state_.numCells = cell.id;
                }
            }
            endRecord(record[10]);
        }
        break;
    default:
        break; // an unknown record is collected until the buffer limit drops it
    }
}

void SnifferParser::endRecord(std::uint8_t following) {
    followingFrames_ = following;
    byteCounter_ = -1;
    if (followingFrames_ == 0) {
        frameRx_ = false;
        if (listener_ != nullptr) {
            listener_->burstEnded();
        }
    }
}

} // namespace zanst::tester
