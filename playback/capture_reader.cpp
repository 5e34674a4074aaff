#include "capture_reader.hpp"

#include "bank/bank_snapshot.hpp"
#include "bus/master_receiver.hpp"
#include "bus/mode.hpp"
#include "bus/port.hpp"
#include "bus/router.hpp"
#include "bus/state.hpp"
#include "sniffer/sniffer_parser.hpp"

#include <array>
#include <set>

namespace zanst::playback {

namespace {

constexpr std::array<const char*, 7> kModeNames{"Connection", "Actions",      "Calibration", "Battery tester",
                                                "BMS tester", "Data Sniffer", "Metrics"};

// The sniffer's echo of a replayed byte goes nowhere.
class NowherePort final : public bus::BusPort {
  public:
    bool isOpen() const override { return true; }
    bool write(std::span<const std::uint8_t>) override { return true; }
};

// Sees a receiver's reports after the receiver did: the end of a measurement burst is a step.
class BurstEnd final : public bus::FrameObserver {
  public:
    BurstEnd(const bus::Framer& framer, const bus::BusState& state, TimelineBuilder& builder,
             const std::uint64_t& nowUs)
        : framer_(framer), state_(state), builder_(builder), nowUs_(nowUs) {}

    void recordComplete(std::span<const std::uint8_t> record) override {
        if (record[0] == bus::rec::kMeasurement && framer_.hunting()) {
            builder_.add(static_cast<std::int64_t>(nowUs_ / 1000), bank::takeSnapshot(state_));
            ++steps;
        }
    }

    long steps = 0;

  private:
    const bus::Framer& framer_;
    const bus::BusState& state_;
    TimelineBuilder& builder_;
    const std::uint64_t& nowUs_;
};

class CaptureDecoder {
  public:
    CaptureDecoder() {
        master_.setFrameTap(&masterEnd_);
        sniffer_.setFrameTap(&snifferEnd_);
        answers_.setFrameTap(&answersEnd_);
    }

    void mode(std::uint8_t byte) {
        const auto selected = bus::modeFromByte(byte);
        if (!selected) {
            return; // not a mode this program has: the mode stays, as in a replay
        }
        // What selecting the mode does to the receivers' state, as the engine's mode switch does it.
        const bus::ModeRules& rules = *bus::rulesOf(*selected);
        live_.selectedMode = *selected;
        live_.bBatteryMode = rules.emulates;
        live_.bSniffer = rules.sniffs;
        if (rules.step == bus::ModeStep::EnterTestMode || rules.clearsTables) {
            live_.balancersInfo = false;
        }
        if (rules.clearsTables) {
            live_.tables.clearData();
            live_.frameReceiving = false;
            live_.numCells = 0;
        }
    }

    void received(std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
        nowUs_ = timeUs;
        const long before = steps();
        // BMS tester: the BMS's requests go to no one here; the tool's answers tell the values.
        router_.route(bytes, [this](std::uint8_t b) { sniffer_.serialSnifferDataParser(b); });
        (void)sniffer_.takeReport(); // the steps come from the tap; the texts are not wanted
        noteMode(before);
    }

    void sent(std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
        nowUs_ = timeUs;
        // The tool's sender cleared the in-frame flag before every command (wake-up bytes first).
        const bool command = bytes.front() == 0x00 || bytes.front() == bus::kStartByte;
        if (live_.bBatteryMode) {
            const long before = steps();
            if (command) {
                answerState_.frameReceiving = false;
            }
            for (const std::uint8_t b : bytes) {
                answers_.feed(b);
            }
            noteMode(before);
        } else if (command && bus::routeFor(live_) == bus::Route::Master) {
            live_.frameReceiving = false;
        }
    }

    long steps() const { return masterEnd_.steps + snifferEnd_.steps + answersEnd_.steps; }
    std::uint64_t crcErrors() const { return live_.health.crcErrors + answerState_.health.crcErrors; }
    const std::set<int>& modesWithSteps() const { return modesWithSteps_; }
    std::uint64_t firstStepUs() const { return firstStepUs_; }
    TimelineBuilder& builder() { return builder_; }

  private:
    void noteMode(long before) {
        if (steps() > before) {
            if (modesWithSteps_.empty()) {
                firstStepUs_ = nowUs_;
            }
            modesWithSteps_.insert(static_cast<int>(live_.selectedMode));
        }
    }

    std::uint64_t nowUs_ = 0;
    TimelineBuilder builder_;
    NowherePort nowhere_;
    bus::BusState live_; // the master side and the sniffer share the tables, as in the tool
    bus::MasterReceiver master_{live_};
    sniffer::SnifferParser sniffer_{live_};
    bus::ByteRouter router_{live_, master_, nowhere_};
    bus::BusState answerState_; // the emulated bank's answers, read as a BMS reads them
    bus::MasterReceiver answers_{answerState_};
    BurstEnd masterEnd_{master_.framer(), live_, builder_, nowUs_};
    BurstEnd snifferEnd_{sniffer_.framer(), live_, builder_, nowUs_};
    BurstEnd answersEnd_{answers_.framer(), answerState_, builder_, nowUs_};
    std::set<int> modesWithSteps_;
    std::uint64_t firstStepUs_ = 0;
};

} // namespace

ReadResult readCaptureTimeline(const capture::Capture& capture) {
    ReadResult result;
    if (capture.status == capture::ReadStatus::NotACapture ||
        capture.status == capture::ReadStatus::UnsupportedVersion) {
        result.error = capture.message;
        return result;
    }
    CaptureDecoder decoder;
    for (const capture::Record& r : capture.records) {
        const auto bytes = capture.bytes(r);
        switch (r.kind) {
        case capture::RecordKind::Mode:
            decoder.mode(bytes.front());
            break;
        case capture::RecordKind::Received:
            decoder.received(r.timeUs, bytes);
            break;
        case capture::RecordKind::Sent:
            decoder.sent(r.timeUs, bytes);
            break;
        }
    }

    std::vector<std::string> notes;
    if (!capture.message.empty()) {
        notes.push_back(capture.message);
    }
    if (const std::uint64_t bad = decoder.crcErrors(); bad > 0) {
        notes.push_back(std::to_string(bad) + (bad == 1 ? " frame or record" : " frames or records") +
                        " failed the CRC-8 check and were left out, as the tool does live");
    }
    if (decoder.builder().steps() == 0) {
        result.error =
            "The capture holds no measurement answers of a bank (" + std::to_string(capture.records.size()) +
            " records read); captures made in \"Battery tester\", \"Data Sniffer\" or \"BMS tester\" "
            "mode while the bank was polled can be played";
        if (!capture.message.empty()) {
            result.error += ". " + capture.message;
        }
        return result;
    }
    std::string source = "capture (";
    bool first = true;
    for (const int mode : decoder.modesWithSteps()) {
        source += (first ? "" : ", ") + std::string(kModeNames[static_cast<std::size_t>(mode)]);
        first = false;
    }
    source += ")";
    const std::int64_t start =
        capture.header.startUnixMs + static_cast<std::int64_t>(decoder.firstStepUs() / 1000);
    return decoder.builder().finish(std::move(source), start, std::move(notes));
}

ReadResult readCaptureTimelineFile(const std::string& path) {
    return readCaptureTimeline(capture::readCaptureFile(path));
}

} // namespace zanst::playback
