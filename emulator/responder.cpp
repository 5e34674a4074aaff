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
#include <utility>

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

bool BmsResponder::transmitPresetChanged() {
    return sendFrame(bus::buildIdentityFrame(bus::cmd::kPresetChanged));
}

bool BmsResponder::sendFrame(std::span<const std::uint8_t> frame) {
    const bool sent = bus::sendHexBmsCmd(port_, state_.frameReceiving, frame);
    if (sent && !frame.empty()) {
        SentFrame& slot = sent_[nextSent_];
        nextSent_ = (nextSent_ + 1) % sent_.size();
        const std::size_t head = std::min(frame.size(), slot.head.size());
        std::copy_n(frame.begin(), head, slot.head.begin());
        slot.size = frame.size();
        slot.crc = frame.back();
        slot.at = now_();
    }
    return sent;
}

bool BmsResponder::isOwnFrame(std::span<const std::uint8_t> header) const {
    const Clock::time_point now = now_();
    for (const SentFrame& s : sent_) {
        const std::size_t head = std::min(header.size(), s.head.size());
        if (s.size == header.size() && !header.empty() && s.crc == header.back() &&
            now - s.at <= kOwnEchoWindow &&
            std::equal(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(head), s.head.begin())) {
            return true;
        }
    }
    return false;
}

void BmsResponder::ownFrameSeen() {
    ++ownEchoes_;
    if (++ownEchoesInARow_ >= kOwnEchoesForWarning && !warned_) {
        warned_ = true;
        report_.ownAnswersReturning = true;
    }
}

void BmsResponder::answered() {
    ownEchoesInARow_ = 0;
    if (warned_) {
        warned_ = false;
        report_.ownAnswersReturning = false;
    }
}

void BmsResponder::setPreset(const BankPreset& preset) {
    preset_ = preset;
    bmsTesterBalancersInfoReceived_ = false;
}

std::optional<int> BmsResponder::batteriesAnswering(const BankSettings& settings,
                                                    const std::optional<PlayedBank>& played) const {
    if (played) {
        return std::clamp(played->batteries, 0, kMaxBatteriesInParallel);
    }
    if (const auto numbat = readBatteriesInParallel(settings.numBatText)) {
        return numbat->count;
    }
    return std::nullopt;
}

bool BmsResponder::setPlayedBank(const std::optional<PlayedBank>& bank) {
    const std::optional<int> before = batteriesAnswering(settings_, played_);
    played_ = bank;
    if (played_) {
        played_->batteries = std::clamp(played_->batteries, 0, kMaxBatteriesInParallel);
    }
    const bool changed = batteriesAnswering(settings_, played_) != before;
    if (changed) {
        bmsTesterBalancersInfoReceived_ = false; // the BMS knows another number of balancers
    }
    return changed;
}

ResponderReport BmsResponder::serialBMSdataParser(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t x : bytes) {
        framer_.feed(x);
    }
    return std::exchange(report_, {});
}

void BmsResponder::commandByte(std::uint8_t command) {
    if (command == bus::cmd::kInfo) {
        state_.numCells = 0; // the BMS starts a new info list
    }
}

void BmsResponder::frameComplete(std::span<const std::uint8_t> header, bus::FrameKind kind) {
    ++state_.health.framesReceived;
    ++(bus::crcValid(header) ? state_.health.validReceived : state_.health.crcErrors);
    const std::uint8_t command = framer_.state().command;
    // Our own answer come back round a ring: answering it would answer forever. A measurement
    // echo is the BMS's request unchanged, so there the records behind it decide.
    const bool own = isOwnFrame(header);
    ignoringOwnFrame_ = own && command != bus::cmd::kMeasurement;
    ownChainCandidate_ = own && command == bus::cmd::kMeasurement;
    chainRecords_ = 0;
    if (ignoringOwnFrame_) {
        ownFrameSeen();
        return;
    }
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
    const bool valid = bus::crcValid(record);
    ++(valid ? state_.health.validReceived : state_.health.crcErrors);
    if (ignoringOwnFrame_) {
        return;
    }
    switch (record[0]) {
    case bus::rec::kCalibration:
        if (valid) {
            state_.tables.storeCalibration(record); // ids of 256 and more change nothing
        }
        break;
    case bus::rec::kMeasurement: {
        const std::size_t at = chainRecords_++ * bus::rec::kMeasurementSize;
        if (ownChainCandidate_ &&
            (at + record.size() > lastRecords_.size() || now_() - lastRecordsAt_ > kOwnEchoWindow ||
             !std::equal(record.begin(), record.end(),
                         lastRecords_.begin() + static_cast<std::ptrdiff_t>(at)))) {
            ownChainCandidate_ = false;
        }
        if (framer_.hunting()) {
            if (ownChainCandidate_ && chainRecords_ * bus::rec::kMeasurementSize == lastRecords_.size()) {
                ownFrameSeen(); // our own answer, records and all
            } else {
                measurementAnswer(record); // the BMS's last record
            }
        }
        break;
    }
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
    sendFrame(answer_);
    answered();
}

void BmsResponder::infoRequest(std::span<const std::uint8_t> h) {
    const auto serialBytes = h.size() > 8 ? h.subspan(8, std::min<std::size_t>(11, h.size() - 8))
                                          : std::span<const std::uint8_t>{};
    report_.identityReceived = BmsIdentity{bus::getLe16(h, 4), bus::serialText(serialBytes)};

    // The echo is built in a buffer of a regular info request's size; a longer one gets nothing.
    if (h.size() > static_cast<std::size_t>(kInfoEchoSize) || h.size() < bus::kFrameOverhead) {
        return;
    }
    std::array<std::uint8_t, kInfoEchoSize> echoFrame{};
    std::copy(h.begin(), h.end(), echoFrame.begin());
    echoFrame[h.size() - 2] = bus::cmd::kInfo; // records follow
    bus::calcCRC(echoFrame, h.size() - 1);
    sendFrame(std::span<const std::uint8_t>(echoFrame).first(h.size()));
    answered();

    // One snapshot of the preset and the settings for the whole answer.
    const BankPreset preset = preset_;
    const BankSettings settings = settings_;
    int batteries = 0;
    if (played_) {
        batteries = played_->batteries; // the recording's; tbNumBat is not read
    } else {
        const auto numbat = readBatteriesInParallel(settings.numBatText);
        if (!numbat) {
            return; // not a whole number: the echo stands alone
        }
        report_.batteriesInParallelRead = *numbat;
        batteries = numbat->count;
    }
    if (settings.fwVersionIndex < 0 || settings.fwVersionIndex >= kFirmwareVersions) {
        fwver_ = kDefaultFirmwareIndex;
        if (settings.fwVersionIndex < 0) {
            settings_.fwVersionIndex = kDefaultFirmwareIndex; // the selector shows it from now on
            report_.firmwareVersionDefaulted = true;
        }
    } else {
        fwver_ = settings.fwVersionIndex;
    }

    const int cells = preset.valid() ? preset.info.cellsInSeries : 0;
    const int count = batteries * cells;
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
    report_.measurementReceived =
        BmsMeasurement{bus::getLe16(h, 8), static_cast<std::int16_t>(bus::getLe16(h, 6))};
    std::copy(h.begin(), h.end(), txBuffer_.begin());
    txBytesCntr_ = static_cast<int>(h.size());
}

void BmsResponder::measurementAnswer(std::span<const std::uint8_t> lastRecord) {
    // With no stored request this is the wake-up prefix alone, then the records.
    sendFrame(std::span<const std::uint8_t>(txBuffer_).first(static_cast<std::size_t>(txBytesCntr_)));
    answered();
    report_.measurementAnswered = true;

    // One snapshot of the preset and the settings (or the played bank) for the whole answer.
    const BankPreset preset = preset_;
    const BankSettings settings = settings_;
    const std::optional<PlayedBank> played = played_;
    const int cells = preset.valid() ? std::clamp(preset.info.cellsInSeries, 0, kMaxCells) : 0;
    for (std::size_t n = 0; n < static_cast<std::size_t>(kMaxCells); ++n) {
        const bool present = static_cast<int>(n) < cells;
        voltage_[n] = present ? (played ? played->voltageMv[0][n] : settings.voltageMv[n]) : 0;
        temp_[n] = present ? (played ? played->tempTenths[0][n] : settings.tempTenths[n]) : 0;
    }
    current_ = played ? played->currentMa : settings.currentA * 1000;

    int batteries = 0;
    if (played) {
        batteries = played->batteries;
    } else {
        const auto numbat = readBatteriesInParallel(settings.numBatText);
        if (!numbat) {
            return; // not a whole number: the echo stands alone and the answer is not counted
        }
        report_.batteriesInParallelRead = *numbat;
        batteries = numbat->count;
    }

    const int count = batteries * cells;
    if (bmsTesterBalancersInfoReceived_ && count > 0) {
        const auto byte3Low = static_cast<std::uint8_t>(lastRecord[3] & 0x0F);
        answer_.resize(static_cast<std::size_t>(count) * kMeasurementSize);
        for (int b = 0; b < batteries; ++b) {
            // Every battery its own cells while played; the same cells for all of them from the sliders.
            const auto battery = static_cast<std::size_t>(b);
            const BatteryCells& mv = played ? played->voltageMv[battery] : voltage_;
            const BatteryCells& tenths = played ? played->tempTenths[battery] : temp_;
            for (int c = 0; c < cells; ++c) {
                const int at = b * cells + c;
                writeMeasurementRecord(std::span(answer_).subspan(
                                           static_cast<std::size_t>(at) * kMeasurementSize, kMeasurementSize),
                                       cells, b, c, mv[static_cast<std::size_t>(c)],
                                       tenths[static_cast<std::size_t>(c)], current_, seqNum_, byte3Low,
                                       at == count - 1);
            }
        }
        if (bus::sendHexBms(port_, answer_)) {
            lastRecords_ = answer_;
            lastRecordsAt_ = now_();
        }
    }
    seqNum_ = static_cast<std::uint8_t>((seqNum_ + 1) & 0x0F);
}

} // namespace zanst::emulator
