#include "capture/traffic.hpp"

#include "bus/bytes.hpp"
#include "bus/hex.hpp"
#include "bus/number_text.hpp"
#include "bus/records.hpp"
#include "bus/tables.hpp"

namespace zanst::capture {

std::string commandName(std::uint8_t command) {
    namespace cmd = bus::cmd;
    switch (command) {
    case cmd::kInfo:
        return "Info";
    case cmd::kMeasurement:
        return "Measurement";
    case cmd::kCalibrationData:
        return "Calibration data";
    case cmd::kTestMode:
        return "Test mode";
    case cmd::kCalibrate:
        return "Calibrate";
    case cmd::kSaveCalibration:
        return "Save calibration";
    case cmd::kBatteryParameters:
        return "Battery parameters";
    case cmd::kReloadCalibration:
        return "Reload calibration";
    case cmd::kStartBootloader:
        return "Start boot loader";
    case cmd::kStartUpdate:
        return "Start update";
    case cmd::kEndUpdate:
        return "End update";
    case cmd::kDataBlock:
        return "Data block";
    case cmd::kCurrentAdjust:
        return "Current adjustment";
    case cmd::kPresetChanged:
        return "Model changed";
    case cmd::kMetrics:
        return "Metrics";
    case cmd::kAck80:
        return "Acknowledge";
    default:
        return bus::ConvertHex(command, 2);
    }
}

std::string rowCommandText(const TrafficRow& row) {
    switch (row.kind) {
    case RowKind::Frame:
        if (row.command == bus::cmd::kMetrics && bus::isMetricsAnswer(row.bytes)) {
            return "Metrics answer";
        }
        return commandName(row.command);
    case RowKind::Record:
        return commandName(row.command) + " record";
    case RowKind::CutOff:
        return "(cut off)";
    case RowKind::LineBytes:
        return "(line bytes)";
    }
    return {};
}

std::string rowFieldsText(const TrafficRow& row) {
    const std::span<const std::uint8_t> b(row.bytes);
    switch (row.kind) {
    case RowKind::Frame: {
        if (b.size() < 4) {
            return {};
        }
        const std::size_t payload = b.size() >= bus::kFrameOverhead ? b.size() - bus::kFrameOverhead : 0;
        return "payload " + std::to_string(payload) + " bytes, following " +
               std::to_string(b.size() >= 2 ? b[b.size() - 2] : 0);
    }
    case RowKind::Record: {
        if (row.crc != CrcVerdict::Good) {
            return {};
        }
        switch (row.command) {
        case bus::rec::kMeasurement: {
            bus::cellmeasurements m;
            bus::copyMeasurementRecord(m, b);
            const int mv = bus::cellVoltageMv(m.measurement);
            const int ma = bus::cellCurrentMa(m.measurement);
            const int tenths = bus::temperatureTenths(m.temperature);
            return "id " + std::to_string(m.id) + ": " + bus::scaledText(mv, 3) + " V, " +
                   bus::scaledText(ma, 3) + " A, " + bus::scaledText(tenths, 1) + " degC, flags " +
                   bus::ConvertHex(m.flags, 2);
        }
        case bus::rec::kInfo: {
            bus::balancerinfo info;
            bus::copyInfoRecord(info, b);
            return "id " + std::to_string(info.id) + ": serial " + bus::serialText(b.subspan(4, 11)) +
                   ", product " + bus::ConvertHex(info.productId, 4) + ", " + std::to_string(info.capacity) +
                   " Ah, firmware " + bus::ConvertHex(info.fwVersion, 8);
        }
        case bus::rec::kCalibration: {
            bus::calibrationdata cal;
            bus::copyCalibrationRecord(cal, b);
            return "id " + std::to_string(cal.id) + ": voltage gain " + std::to_string(cal.vGain) +
                   ", current gain " + std::to_string(cal.iGain) + ", current offset " +
                   std::to_string(static_cast<std::int16_t>(cal.iOffset));
        }
        default:
            return {};
        }
    }
    case RowKind::CutOff:
    case RowKind::LineBytes:
        return {};
    }
    return {};
}

// One direction: a framer under the simulator's limits (whole frames up to 3000 bytes, info
// records delimited), and the rows it reports.
class TrafficDecoder::Side final : private bus::FrameObserver {
  public:
    Side(Direction direction, bus::ReceiverRole role)
        : direction_(direction), framer_(rulesFor(role), *this, frameRx_) {}

    void feed(std::uint64_t timeUs, std::span<const std::uint8_t> bytes, std::vector<TrafficRow>& out) {
        out_ = &out;
        for (const std::uint8_t b : bytes) {
            timeUs_ = timeUs;
            reported_ = false;
            const bool wasHunting = framer_.hunting();
            if (wasHunting && b == bus::kStartByte) {
                flushLineBytes(out);
            }
            if (rowStartUs_ == kNoStart) {
                rowStartUs_ = timeUs;
            }
            unstored_ = false;
            const bool passing = framer_.passingOver();
            framer_.feed(b);
            if (passing) {
                // A frame too large for the buffer: its bytes are kept for one row, whole.
                oversized_.push_back(b);
                if (!framer_.passingOver()) {
                    pushOversized();
                }
                continue;
            }
            if (unstored_ || (wasHunting && framer_.hunting() && !reported_)) {
                lineBytes_.push_back(b);
                if (lineStartUs_ == kNoStart) {
                    lineStartUs_ = timeUs;
                }
                rowStartUs_ = kNoStart;
            }
        }
        out_ = nullptr;
    }

    void finish(std::vector<TrafficRow>& out) {
        flushLineBytes(out);
        if (framer_.passingOver()) {
            out_ = &out;
            pushOversized();
            out_ = nullptr;
            framer_.reset();
            return;
        }
        const auto pending = framer_.assembled();
        if (!pending.empty()) {
            out_ = &out;
            push(RowKind::CutOff, pending, framer_.inRecords() ? pending[0] : 0, -1);
            out_ = nullptr;
        }
        framer_.reset();
    }

    void flushLineBytes(std::vector<TrafficRow>& out) {
        if (lineBytes_.empty()) {
            return;
        }
        TrafficRow row;
        row.timeUs = lineStartUs_;
        row.direction = direction_;
        row.kind = RowKind::LineBytes;
        row.bytes = std::move(lineBytes_);
        out.push_back(std::move(row));
        lineBytes_.clear();
        lineStartUs_ = kNoStart;
    }

  private:
    static constexpr std::uint64_t kNoStart = ~std::uint64_t{0};

    static bus::FramerRules rulesFor(bus::ReceiverRole role) {
        bus::FramerRules rules;
        rules.role = role;
        return rules;
    }

    void frameStarted() override { reported_ = true; }
    void commandByte(std::uint8_t) override { reported_ = true; }
    void frameComplete(std::span<const std::uint8_t> frame, bus::FrameKind) override {
        push(RowKind::Frame, frame, frame.size() > 1 ? frame[1] : 0, -1);
    }
    void recordComplete(std::span<const std::uint8_t> record) override {
        push(RowKind::Record, record, record[0], bus::recordId(record));
    }
    void frameAbandoned(std::span<const std::uint8_t> bytes) override {
        // The byte that would have landed past the buffer is not among them: it is listed as a
        // line byte, so that every byte fed shows in some row.
        unstored_ = true;
        push(RowKind::CutOff, bytes, 0, -1);
    }
    void frameOversized(std::span<const std::uint8_t> head, std::size_t) override {
        reported_ = true;
        oversized_.assign(head.begin(), head.end());
        oversizedStartUs_ = rowStartUs_ == kNoStart ? timeUs_ : rowStartUs_;
    }
    // The whole oversized frame as one cut-off row, at the time of its first byte.
    void pushOversized() {
        rowStartUs_ = oversizedStartUs_;
        push(RowKind::CutOff, oversized_, oversized_.size() > 1 ? oversized_[1] : 0, -1);
        oversized_.clear();
    }
    void recordAbandoned(std::span<const std::uint8_t> bytes) override {
        push(RowKind::CutOff, bytes, bytes.empty() ? 0 : bytes[0], -1);
    }

    void push(RowKind kind, std::span<const std::uint8_t> bytes, std::uint8_t command, int id) {
        reported_ = true;
        if (out_ == nullptr) {
            return;
        }
        TrafficRow row;
        row.timeUs = rowStartUs_ == kNoStart ? timeUs_ : rowStartUs_;
        row.direction = direction_;
        row.kind = kind;
        row.command = command;
        row.balancerId = id;
        if (kind != RowKind::CutOff) {
            row.crc = bus::crcValid(bytes) ? CrcVerdict::Good : CrcVerdict::Bad;
        }
        row.bytes.assign(bytes.begin(), bytes.end());
        out_->push_back(std::move(row));
        rowStartUs_ = kNoStart;
    }

    Direction direction_;
    bool frameRx_ = false;
    bus::Framer framer_;
    std::vector<TrafficRow>* out_ = nullptr;
    std::vector<std::uint8_t> lineBytes_;
    std::vector<std::uint8_t> oversized_;
    std::uint64_t oversizedStartUs_ = 0;
    std::uint64_t lineStartUs_ = kNoStart;
    std::uint64_t rowStartUs_ = kNoStart;
    std::uint64_t timeUs_ = 0;
    bool reported_ = false;
    bool unstored_ = false;
};

TrafficDecoder::TrafficDecoder() {
    reset();
}

void TrafficDecoder::reset() {
    received_ = std::make_unique<Side>(Direction::Received, bus::ReceiverRole::Master);
    sent_ = std::make_unique<Side>(Direction::Sent, bus::ReceiverRole::Other);
}

TrafficDecoder::~TrafficDecoder() = default;

void TrafficDecoder::feed(Direction direction, std::uint64_t timeUs, std::span<const std::uint8_t> bytes,
                          std::vector<TrafficRow>& out) {
    (direction == Direction::Sent ? *sent_ : *received_).feed(timeUs, bytes, out);
}

void TrafficDecoder::flushLineBytes(std::vector<TrafficRow>& out) {
    received_->flushLineBytes(out);
    sent_->flushLineBytes(out);
}

void TrafficDecoder::finish(std::vector<TrafficRow>& out) {
    received_->finish(out);
    sent_->finish(out);
}

} // namespace zanst::capture
