#include "sniffer_parser.hpp"

#include "bus/bytes.hpp"
#include "bus/hex.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"

#include <limits>
#include <utility>

namespace zanst::sniffer {

SnifferReport SnifferParser::receive(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        serialSnifferDataParser(b);
    }
    return takeReport();
}

void SnifferParser::commandByte(std::uint8_t command) {
    if (command == bus::cmd::kInfo) {
        state_.numCells = 0; // the BMS enumerates the balancers anew
    }
}

void SnifferParser::frameComplete(std::span<const std::uint8_t> frame, bus::FrameKind kind) {
    if (bus::clearsFlashBusy(kind, bus::ReceiverRole::Other)) {
        state_.flashBsy = false;
    }
    if (bus::recordsAck(kind)) {
        state_.ackReceived = framer_.state().command;
    }
    const bool valid = bus::crcValid(frame);
    burst_.frame(valid);
    // A corrupted frame shows nothing: the fields keep what the last good one said.
    if (kind == bus::FrameKind::Standard && valid) {
        decodeFrame(frame);
    }
}

void SnifferParser::report(BmsField field, const std::string& text) {
    report_.bmsInfoReceived.push_back({field, text});
}

void SnifferParser::decodeFrame(std::span<const std::uint8_t> frame) {
    // Only the bytes of this frame; a short frame leaves the fields it does not carry alone.
    const auto has = [&](std::size_t last) { return last < frame.size(); };
    const std::uint8_t command = framer_.state().command;
    if (command == bus::cmd::kInfo) {
        if (has(5)) {
            report(BmsField::Pid, bus::ConvertHex1(bus::getLe16(frame, 4), 4));
        }
        if (has(18)) {
            report(BmsField::Serial, bus::serialText(frame.subspan(8, 11)));
        }
    } else if (command == bus::cmd::kMeasurement) {
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
        if (has(9)) {
            report_.bmsMeasured.push_back({bus::getLe16(frame, 4), bus::getLe16(frame, 8) * 100,
                                           static_cast<std::int16_t>(bus::getLe16(frame, 6)) * 100});
        }
    }
}

void SnifferParser::recordComplete(std::span<const std::uint8_t> record) {
    // A corrupted record is counted and not copied; an info record still counts towards the
    // balancers, so the rows after it keep their places.
    const bool valid = burst_.record(record);
    switch (record[0]) {
    case bus::rec::kInfo: {
        // The address is compared before the 12-bit mask: upper bits set means not stored.
        const int address = record[2] + 256 * record[3];
        if (valid && address < static_cast<int>(bus::kTableEntries)) {
            bus::copyInfoRecord(state_.tables.balInfo[static_cast<std::size_t>(address)], record);
        }
        if (state_.numCells < std::numeric_limits<int>::max()) {
            ++state_.numCells;
        }
        break;
    }
    case bus::rec::kMeasurement: {
        const int address = (record[2] + 256 * record[3]) & 0xFFF;
        if (valid && address < static_cast<int>(bus::kTableEntries)) {
            auto& cell = state_.tables.balancer[static_cast<std::size_t>(address)];
            bus::copyMeasurementRecord(cell, record);
            state_.tables.balInfo[static_cast<std::size_t>(address)].id = cell.id;
            if (cell.id > state_.numCells) {
                state_.numCells = cell.id;
            }
        }
        break;
    }
    default:
        break; // calibration records are not decoded
    }
    if (framer_.hunting()) {
        burst_.burstEnded();
        report_.burstsEnded.push_back(bank::takeSnapshot(state_)); // the last record of the burst
    }
}

} // namespace zanst::sniffer
