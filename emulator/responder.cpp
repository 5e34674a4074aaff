#include "responder.hpp"

#include "entries.hpp"

#include "bus/crc8.hpp"
#include "bus/frames.hpp"
#include "bus/hex.hpp"
#include "bus/number_text.hpp"
#include "bus/records.hpp"
#include "bus/senders.hpp"
#include "bus/tables.hpp"

#include <algorithm>

namespace zanst::emulator {

namespace {

using bus::rec::kInfoSize;
using bus::rec::kMeasurementSize;

constexpr std::uint8_t kMeasurementStatus = 0x40; // bit 6: set by balancers in their answers
constexpr std::uint32_t kBootloaderVersion = 0x00020006;

// Capability flags of the emulated balancers: every fourth measures current, and every other
// one of those has the high-range sensor.
constexpr std::uint8_t capabilityFlags(int i) {
    switch (i % 4) {
    case 0:
        return 0x01;
    case 2:
        return 0x03;
    default:
        return 0x00;
    }
}

void writeInfoRecord(std::span<std::uint8_t> r, const BankPreset& preset, int i, int fwver, bool last) {
    std::fill(r.begin(), r.end(), std::uint8_t{0});
    const int cells = std::max(preset.info.cellsInSeries, 1);
    r[0] = bus::rec::kInfo;
    r[1] = capabilityFlags(i);
    bus::putLe16(r, 2, static_cast<std::uint16_t>(i + 1));
    for (std::size_t k = 0; k < 10; ++k) {
        r[4 + k] = static_cast<std::uint8_t>(preset.batserial[k]);
    }
    r[14] = static_cast<std::uint8_t>(batteryDigit(i / cells));
    bus::putLe16(r, 16, static_cast<std::uint16_t>(preset.info.productId));
    bus::putLe16(r, 18, static_cast<std::uint16_t>(std::max(preset.info.capacityAh, kMinReportedCapacityAh)));
    r[20] = 0xFF; // a release, not a beta
    r[21] = static_cast<std::uint8_t>(fwver);
    r[22] = 0x01;
    r[23] = 0x00;
    bus::putLe32(r, 24, kBootloaderVersion);
    r[30] = last ? 0x00 : bus::rec::kInfo;
    bus::calcCRC(r, kInfoSize - 1);
}

void writeMeasurementRecord(std::span<std::uint8_t> r, int cellsInSeries, int b, int c,
                            std::int32_t voltageMv, std::int32_t tempTenths, std::int32_t currentMa,
                            std::uint8_t seqNum, std::uint8_t byte3Low, bool last) {
    std::fill(r.begin(), r.end(), std::uint8_t{0});
    r[0] = bus::rec::kMeasurement;
    r[1] = kMeasurementStatus;
    r[2] = static_cast<std::uint8_t>((b * cellsInSeries + c + 1) & 0xFF);
    r[3] = static_cast<std::uint8_t>(((seqNum & 0x0F) << 4) | (byte3Low & 0x0F));
    bus::putLe32(r, 4, bus::packMeasurement(voltageMv, currentMa));
    bus::putLe16(r, 8, bus::packTemperature(tempTenths));
    r[10] = last ? 0x00 : bus::rec::kMeasurement;
    bus::calcCRC(r, kMeasurementSize - 1);
}

} // namespace

bool transmitPresetChanged(bus::BusPort& port, bool& frameReceiving) {
    return bus::sendHexBmsCmd(port, frameReceiving, bus::buildIdentityFrame(bus::cmd::kPresetChanged));
}

void BmsResponder::setPreset(const BankPreset& preset) {
    preset_ = preset;
    bmsTesterBalancersInfoReceived_ = false;
}

void BmsResponder::serialBMSdataParser(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t x : bytes) {
        framer_.feed(x);
    }
}

void BmsResponder::commandByte(std::uint8_t command) {
    if (command == bus::cmd::kInfo) {
        state_.numCells = 0; // the BMS starts a new info list
    }
}

void BmsResponder::frameComplete(std::span<const std::uint8_t> header, bus::FrameKind kind) {
    const std::uint8_t command = framer_.state().command;
    if (bus::recordsAck(kind)) {
        state_.ackReceived = command;
    }
    if (bus::clearsFlashBusy(kind, bus::ReceiverRole::Other)) {
        state_.flashBsy = false;
    }
    switch (command) {
    case bus::cmd::kInfo:
        infoRequest(header);
        break;
    case bus::cmd::kMeasurement:
        measurementRequest(header);
        break;
    default:
        echo(header);
        break;
    }
}

void BmsResponder::recordComplete(std::span<const std::uint8_t> record) {
    switch (record[0]) {
    case bus::rec::kCalibration:
        state_.tables.storeCalibration(record); // ids of 256 and more change nothing
        break;
    case bus::rec::kMeasurement:
        if (framer_.hunting()) {
            measurementAnswer(record); // the BMS's last record
        }
        break;
    default:
        break;
    }
}

void BmsResponder::echo(std::span<const std::uint8_t> h) {
    if (h.size() < 2) {
        return;
    }
    answer_.assign(h.begin(), h.end());
    bus::calcCRC(answer_, answer_.size() - 1);
    bus::sendHexBmsCmd(port_, state_.frameReceiving, answer_);
}

void BmsResponder::infoRequest(std::span<const std::uint8_t> h) {
    std::string serial;
    for (std::size_t k = 8; k <= 18 && k < h.size() && h[k] != 0; ++k) {
        serial.push_back(static_cast<char>(h[k]));
    }
    if (listener_ != nullptr) {
        listener_->bmsIdentityShown(bus::ConvertHex1(bus::getLe16(h, 4), 4), serial);
    }

    // The echo is built in a buffer of a regular info request's size; a longer one gets nothing.
    if (h.size() > static_cast<std::size_t>(kInfoEchoSize) || h.size() < bus::kFrameOverhead) {
        return;
    }
    std::array<std::uint8_t, kInfoEchoSize> echoFrame{};
    std::copy(h.begin(), h.end(), echoFrame.begin());
    echoFrame[h.size() - 2] = bus::cmd::kInfo; // records follow
    bus::calcCRC(echoFrame, h.size() - 1);
    bus::sendHexBmsCmd(port_, state_.frameReceiving,
                       std::span<const std::uint8_t>(echoFrame).first(h.size()));

    // One snapshot of the preset and the settings for the whole answer.
    const BankPreset preset = preset_;
    const BankSettings settings = settings_;
    const auto numbat = readBatteriesInParallel(settings.numBatText);
    if (!numbat) {
        return; // not a whole number: the echo stands alone
    }
    if (listener_ != nullptr) {
        listener_->batteriesInParallelRead(*numbat);
    }
    if (settings.fwVersionIndex < 0 || settings.fwVersionIndex >= kFirmwareVersions) {
        fwver_ = kDefaultFirmwareIndex;
        if (settings.fwVersionIndex < 0) {
            settings_.fwVersionIndex = kDefaultFirmwareIndex; // the selector shows it from now on
            if (listener_ != nullptr) {
                listener_->firmwareVersionDefaulted();
            }
        }
    } else {
        fwver_ = settings.fwVersionIndex;
    }

    const int cells = preset.valid() ? preset.info.cellsInSeries : 0;
    const int count = numbat->count * cells;
    if (count > 0) {
        answer_.resize(static_cast<std::size_t>(count) * kInfoSize);
        for (int i = 0; i < count; ++i) {
            writeInfoRecord(std::span(answer_).subspan(static_cast<std::size_t>(i) * kInfoSize, kInfoSize),
                            preset, i, fwver_, i == count - 1);
        }
        bus::sendHexBms(port_, answer_);
    }
    bmsTesterBalancersInfoReceived_ = true;
}

void BmsResponder::measurementRequest(std::span<const std::uint8_t> h) {
    if (listener_ != nullptr) {
        const auto current = static_cast<std::int16_t>(bus::getLe16(h, 6));
        listener_->bmsMeasurementShown(bus::tenthsText(bus::getLe16(h, 8)), bus::groupedTenthsText(current));
    }
    std::copy(h.begin(), h.end(), txBuffer_.begin());
    txBytesCntr_ = static_cast<int>(h.size());
}

void BmsResponder::measurementAnswer(std::span<const std::uint8_t> lastRecord) {
    if (txBytesCntr_ > 0) {
        bus::sendHexBmsCmd(
            port_, state_.frameReceiving,
            std::span<const std::uint8_t>(txBuffer_).first(static_cast<std::size_t>(txBytesCntr_)));
    }
    if (listener_ != nullptr) {
        listener_->cellTextsRefreshed();
    }

    // One snapshot of the preset and the settings for the whole answer.
    const BankPreset preset = preset_;
    const BankSettings settings = settings_;
    const int cells = preset.valid() ? std::clamp(preset.info.cellsInSeries, 0, kMaxCells) : 0;
    for (std::size_t n = 0; n < static_cast<std::size_t>(kMaxCells); ++n) {
        const bool present = static_cast<int>(n) < cells;
        voltage_[n] = present ? settings.voltageMv[n] : 0;
        temp_[n] = present ? settings.tempTenths[n] : 0;
    }
    current_ = settings.currentA * 1000;

    const auto numbat = readBatteriesInParallel(settings.numBatText);
    if (!numbat) {
        return; // not a whole number: the echo stands alone and the answer is not counted
    }
    if (listener_ != nullptr) {
        listener_->batteriesInParallelRead(*numbat);
    }

    const int count = numbat->count * cells;
    if (bmsTesterBalancersInfoReceived_ && count > 0) {
        const auto byte3Low = static_cast<std::uint8_t>(lastRecord[3] & 0x0F);
        answer_.resize(static_cast<std::size_t>(count) * kMeasurementSize);
        for (int b = 0; b < numbat->count; ++b) {
            for (int c = 0; c < cells; ++c) {
                const int at = b * cells + c;
                writeMeasurementRecord(std::span(answer_).subspan(
                                           static_cast<std::size_t>(at) * kMeasurementSize, kMeasurementSize),
                                       cells, b, c, voltage_[static_cast<std::size_t>(c)],
                                       temp_[static_cast<std::size_t>(c)], current_, seqNum_, byte3Low,
                                       at == count - 1);
            }
        }
        bus::sendHexBms(port_, answer_);
    }
    seqNum_ = static_cast<std::uint8_t>((seqNum_ + 1) & 0x0F);
}

} // namespace zanst::emulator
