#pragma once
// The data monitor's parser: fed every byte the tool repeats on the ring, it picks out the
// BMS's command frames and the records the balancers append, fills the balancer tables, and
// reports the BMS's announced values and the end of every burst.

#include "bus/number_text.hpp"

#include "bank/bank_snapshot.hpp"

#include "bus/framer.hpp"
#include "bus/router.hpp"
#include "bus/state.hpp"

#include <cstdint>
#include <span>
#include <string>

namespace zanst::sniffer {

// The six "BMS info" fields.
enum class BmsField : int { Serial = 0, Pid, SystemVbat, BmsCurrent, BalancerSetpoint, Status };
inline constexpr int kBmsFieldCount = 6;

class SnifferListener {
  public:
    virtual ~SnifferListener() = default;
    virtual void bmsInfoChanged(BmsField field, const std::string& text) = 0;
    // The last record of a burst arrived: the cell table is to be refreshed from `snapshot`.
    virtual void burstEnded(const bank::BankSnapshot& snapshot) = 0;
    // A whole measurement frame of the BMS: its setpoint, bank voltage and current as numbers
    // (mV, mV, mA), for the plots and the summary, which never read the fields' texts.
    virtual void bmsMeasured(int setpointMv, int bankMv, int bankMa) {
        (void)setpointMv;
        (void)bankMv;
        (void)bankMa;
    }
};

class SnifferParser final : public bus::BusListener, private bus::FrameObserver {
  public:
    // A 100-byte buffer whose byte counter runs on every byte, idle ones included.
    static constexpr bus::FramerRules kRules{bus::ReceiverRole::Other, 100,
                                             bus::LimitRule::DropAtCounterLimit, true};

    SnifferParser(bus::BusState& state, SnifferListener* listener)
        : state_(state), listener_(listener), burst_(state.health), framer_(kRules, *this, frameRx_) {}

    bus::TextFormat format;

    void receive(std::span<const std::uint8_t> bytes) override;
    void serialSnifferDataParser(std::uint8_t b) { framer_.feed(b); }

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
    SnifferListener* listener_;
    bus::BurstHealth burst_;
    bool frameRx_ = false;
    bus::Framer framer_;
};

} // namespace zanst::sniffer
