#pragma once
// The data monitor's parser: fed every byte the tool repeats on the ring, it picks out the
// BMS's command frames and the records the balancers append, fills the balancer tables, and
// reports the BMS's announced values and the end of every burst.

#include "bus/number_text.hpp"

#include "bank/bank_snapshot.hpp"
#include "bank/bank_values.hpp"

#include "bus/framer.hpp"
#include "bus/state.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zanst::sniffer {

// The six "BMS info" fields.
enum class BmsField : int { Serial = 0, Pid, SystemVbat, BmsCurrent, BalancerSetpoint, Status };
inline constexpr int kBmsFieldCount = 6;

// A "BMS info" field as the BMS announced it.
struct BmsFieldText {
    BmsField field;
    std::string text;
};

// What one receive pass of the parser found, in order.
struct SnifferReport {
    std::vector<BmsFieldText> bmsInfoReceived;
    // Each whole measurement frame of the BMS: its setpoint, bank voltage and current as numbers,
    // for the plots and the summary, which never read the fields' texts.
    std::vector<bank::BankValues> bmsMeasured;
    // The balancer tables after the last record of each burst: the cell table is refreshed from them.
    std::vector<bank::BankSnapshot> burstsEnded;

    bool empty() const { return bmsInfoReceived.empty() && bmsMeasured.empty() && burstsEnded.empty(); }
};

class SnifferParser final : private bus::FrameObserver {
  public:
    // A 100-byte buffer whose byte counter runs on every byte, idle ones included.
    static constexpr bus::FramerRules kRules{bus::ReceiverRole::Other, 100,
                                             bus::LimitRule::DropAtCounterLimit, true};

    explicit SnifferParser(bus::BusState& state)
        : state_(state), burst_(state.health), framer_(kRules, *this, frameRx_) {}

    bus::TextFormat format;

    // One receive pass (the bytes already repeated), byte by byte.
    SnifferReport receive(std::span<const std::uint8_t> bytes);
    // One byte; what it completed is kept for takeReport().
    void serialSnifferDataParser(std::uint8_t b) { framer_.feed(b); }
    SnifferReport takeReport() { return std::exchange(report_, {}); }

    bool frameRx() const { return frameRx_; }
    const bus::Framer& framer() const { return framer_; }
    void setFrameTap(bus::FrameObserver* tap) { framer_.setTap(tap); }

  private:
    void commandByte(std::uint8_t command) override;
    void frameComplete(std::span<const std::uint8_t> frame, bus::FrameKind kind) override;
    void recordComplete(std::span<const std::uint8_t> record) override;
    void decodeFrame(std::span<const std::uint8_t> frame);
    void report(BmsField field, const std::string& text);

    bus::BusState& state_;
    SnifferReport report_;
    bus::BurstHealth burst_;
    bool frameRx_ = false;
    bus::Framer framer_;
};

} // namespace zanst::sniffer
