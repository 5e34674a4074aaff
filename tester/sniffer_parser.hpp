#pragma once
// The data monitor's parser: fed every byte the tool repeats on the ring, it picks out the
// BMS's command frames and the records the balancers append, fills the balancer tables, and
// reports the BMS's announced values and the end of every burst.

#include "bus/number_text.hpp"

#include "bus/router.hpp"
#include "bus/state.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace zanst::tester {

// The six "BMS info" fields.
enum class BmsField : int { Serial = 0, Pid, SystemVbat, BmsCurrent, BalancerSetpoint, Status };
inline constexpr int kBmsFieldCount = 6;

class SnifferListener {
  public:
    virtual ~SnifferListener() = default;
    virtual void bmsInfoChanged(BmsField field, const std::string& text) = 0;
    // The last record of a burst arrived: the cell table is to be refreshed.
    virtual void burstEnded() = 0;
};

class SnifferParser : public bus::BusListener {
  public:
    static constexpr int kBufferSize = 100;

    SnifferParser(bus::BusState& state, SnifferListener* listener) : state_(state), listener_(listener) {}

    bus::TextFormat format;

    void receive(std::span<const std::uint8_t> bytes) override;
    void serialSnifferDataParser(std::uint8_t b);

    int byteCounter() const { return byteCounter_; }
    bool frameRx() const { return frameRx_; }
    bool receivingCommand() const { return mCmdReceiving_; }
    int cmdSize() const { return cmdSize_; }
    int followingFrames() const { return followingFrames_; }

  private:
    void dropAll();
    void commandByte(std::uint8_t b);
    void recordByte(std::uint8_t b);
    void endFrame(bus::FrameKind kind);
    void endRecord(std::uint8_t following);
    void decodeFrame();
    void report(BmsField field, const std::string& text);

    bus::BusState& state_;
    SnifferListener* listener_;
    std::array<std::uint8_t, kBufferSize> rxBuffer_{};
    int byteCounter_ = 0;
    bool frameRx_ = false;
    bool mCmdReceiving_ = false;
    int cmdSize_ = 0;
    int followingFrames_ = 0;
    std::uint8_t command_ = 0;
};

} // namespace zanst::tester
