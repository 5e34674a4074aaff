#pragma once
// The emulator's side of the bus: stands in for the balancers of the emulated bank and answers
// a real BMS, which is the bus master. Fed the received bytes on the bus thread; answers at once
// through the port.

#include "bank_editor.hpp"
#include "entries.hpp"
#include "played_bank.hpp"
#include "presets.hpp"

#include "bus/bytes.hpp"
#include "bus/framer.hpp"
#include "bus/port.hpp"
#include "bus/protocol.hpp"
#include "bus/state.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zanst::emulator {

// A BMS's identity from its info request.
struct BmsIdentity {
    std::uint16_t productId = 0;
    std::string serial; // as received, unprintable bytes as '?'
};

// A BMS's measurement request: the bank voltage (0.1 V) and current (0.1 A) it announces.
struct BmsMeasurement {
    std::uint16_t voltageTenths = 0;
    std::int16_t currentTenths = 0;
};

// What one receive pass of the responder did.
struct ResponderReport {
    std::optional<BmsIdentity> identityReceived;
    std::optional<BmsMeasurement> measurementReceived;
    // tbNumBat was read as a whole number: above 10 it reads "10", and "Bat in parallel" follows it.
    std::optional<BatteriesInParallel> batteriesInParallelRead;
    // A measurement answer was built from the settings: their texts are the values sent.
    bool measurementAnswered = false;
    // An info request found no firmware version chosen: "v1.02" is reported from now on.
    bool firmwareVersionDefaulted = false;
    // The bus keeps returning the responder's own answers (it is wired into a ring instead of to a
    // BMS), or, with `false`, a real request was answered again after that.
    std::optional<bool> ownAnswersReturning;

    bool empty() const {
        return !identityReceived && !measurementReceived && !batteriesInParallelRead &&
               !measurementAnswered && !firmwareVersionDefaulted && !ownAnswersReturning;
    }
};

class BmsResponder final : private bus::FrameObserver {
  public:
    // Info records are not delimited here: their bytes run on to the buffer limit.
    static constexpr bus::FramerRules kRules{bus::ReceiverRole::Other, 3000,
                                             bus::LimitRule::AbandonOnOverflow, false};
    static constexpr int kInfoEchoSize = 22;
    // A frame identical to one sent this recently is the responder's own, come back round a ring.
    static constexpr std::chrono::milliseconds kOwnEchoWindow{100};
    // This many own frames in a row mean the bus returns every answer.
    static constexpr int kOwnEchoesForWarning = 3;
    using Clock = std::chrono::steady_clock;

    BmsResponder(bus::BusState& state, bus::BusPort& port)
        : state_(state), port_(port), framer_(kRules, *this, frameRx_) {}

    // One receive pass, byte by byte; answers go out as the bytes come in.
    ResponderReport serialBMSdataParser(std::span<const std::uint8_t> bytes);
    ResponderReport receive(std::span<const std::uint8_t> bytes) { return serialBMSdataParser(bytes); }

    // The 0x31 frame that announces a changed bank, sent with the wake-up prefix.
    bool transmitPresetChanged();

    // For tests: the clock that stamps what is sent and received.
    void setClock(Clock::time_point (*now)()) { now_ = now; }
    long ownEchoes() const { return ownEchoes_; }

    // A new preset, published whole. Until the BMS asks for the info again, measurement
    // requests get only their echo.
    void setPreset(const BankPreset& preset);
    void setSettings(const BankSettings& settings) { settings_ = settings; }

    // While a recording drives the bank: every battery answers with its own cell values, the
    // number of batteries is the played bank's (tbNumBat is not read) and the current is its
    // current in mA. Nothing: the sliders' bank again. When this changes the number of emulated
    // balancers, the BMS must ask for the info again (as after a preset change; announcing it with
    // transmitPresetChanged() is the caller's choice); returns whether it did.
    bool setPlayedBank(const std::optional<PlayedBank>& bank);
    const std::optional<PlayedBank>& playedBank() const { return played_; }

    const BankPreset& preset() const { return preset_; }
    const BankSettings& settings() const { return settings_; }
    bool bmsTesterBalancersInfoReceived() const { return bmsTesterBalancersInfoReceived_; }
    std::uint8_t seqNum() const { return seqNum_; }
    bool frameRx() const { return frameRx_; }
    const bus::Framer& framer() const { return framer_; }
    void setFrameTap(bus::FrameObserver* tap) { framer_.setTap(tap); }

    // The cell values of the last measurement answer (cell beyond the preset's count: 0); of
    // battery 1 while a recording drives the bank.
    const std::array<std::int32_t, kMaxCells>& voltage() const { return voltage_; }
    const std::array<std::int32_t, kMaxCells>& temp() const { return temp_; }
    std::int32_t current() const { return current_; }

  private:
    void commandByte(std::uint8_t command) override;
    void frameComplete(std::span<const std::uint8_t> header, bus::FrameKind kind) override;
    void recordComplete(std::span<const std::uint8_t> record) override;
    void infoRequest(std::span<const std::uint8_t> header);
    void measurementRequest(std::span<const std::uint8_t> header);
    void measurementAnswer(std::span<const std::uint8_t> lastRecord);
    void echo(std::span<const std::uint8_t> header);
    // Sends a frame with the wake-up prefix and remembers it as the responder's own.
    bool sendFrame(std::span<const std::uint8_t> frame);
    bool isOwnFrame(std::span<const std::uint8_t> header) const;
    void answered();
    // Batteries the bank answers for: the played bank's, else tbNumBat's; nothing when tbNumBat
    // holds no whole number.
    std::optional<int> batteriesAnswering(const BankSettings& settings,
                                          const std::optional<PlayedBank>& played) const;
    void ownFrameSeen();

    bus::BusState& state_;
    bus::BusPort& port_;
    ResponderReport report_;

    BankPreset preset_;
    BankSettings settings_;
    std::optional<PlayedBank> played_;
    bool bmsTesterBalancersInfoReceived_ = false;

    bool frameRx_ = false;
    bus::Framer framer_;
    std::array<std::uint8_t, bus::Framer::kMaxBuffer> txBuffer_{};
    int txBytesCntr_ = 0;
    std::uint8_t seqNum_ = 0;
    int fwver_ = kDefaultFirmwareIndex;

    // The last frames sent, to recognise them when the bus brings them back.
    struct SentFrame {
        std::array<std::uint8_t, 32> head{}; // the first bytes; with the size and CRC enough to know it
        std::size_t size = 0;
        std::uint8_t crc = 0;
        Clock::time_point at{};
    };
    std::array<SentFrame, 4> sent_{};
    std::size_t nextSent_ = 0;
    Clock::time_point (*now_)() = &Clock::now;
    bool ignoringOwnFrame_ = false; // the open frame is our own: its records get no answer
    // A measurement echo looks like the BMS's request; only our own records behind it tell.
    bus::Bytes lastRecords_;
    Clock::time_point lastRecordsAt_{};
    bool ownChainCandidate_ = false;
    std::size_t chainRecords_ = 0;
    int ownEchoesInARow_ = 0;
    long ownEchoes_ = 0;
    bool warned_ = false;

    std::array<std::int32_t, kMaxCells> voltage_{};
    std::array<std::int32_t, kMaxCells> temp_{};
    std::int32_t current_ = 0;
    bus::Bytes answer_; // reused, so that an answer allocates nothing once warmed up
};

} // namespace zanst::emulator
