#pragma once
// The three parts the simulator can play on its pseudo-terminal. Each takes the bytes the far
// side sent and the passing of time, and leaves bytes to send and lines to print; the program's
// loop does the reading, writing and printing.

#include "sim/bms.hpp"
#include "sim/expect_check.hpp"
#include "sim/faults.hpp"
#include "sim/frame_receiver.hpp"
#include "sim/recorded_bank.hpp"
#include "sim/ring_loss.hpp"
#include "sim/simulated_bank.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zanst::sim {

class Role {
  public:
    explicit Role(const FaultConfig& faults) : faults_(faults) {}
    virtual ~Role() = default;
    Role(const Role&) = delete;
    Role& operator=(const Role&) = delete;

    virtual const char* name() const = 0;
    // Bytes that arrived from the far side at `now`.
    virtual void received(std::span<const std::uint8_t> bytes, TimePoint now) = 0;
    // Called once nextDeadline() has passed (and may be called earlier).
    virtual void tick(TimePoint now) = 0;
    virtual std::optional<TimePoint> nextDeadline() const = 0;
    // The far side opened or closed the port.
    virtual void peerChanged(bool connected, TimePoint now);
    // Everything emitted so far has gone out on the line.
    virtual void drained(TimePoint now);
    // The simulator is about to stop: lines still held back are due now.
    virtual void stopping(TimePoint now);
    // Closing lines: totals of the run.
    virtual std::vector<std::string> summary() const = 0;

    bus::Bytes takeOutput();
    std::vector<std::string> takeLines();

  protected:
    // Queues bytes for the line through the fault injector; returns what will reach the line.
    bus::Bytes emit(std::span<const std::uint8_t> bytes);
    void log(std::string line) { lines_.push_back(std::move(line)); }
    std::string faultTotals() const;
    bool connected_ = false;

  private:
    FaultInjector faults_;
    bus::Bytes output_;
    std::vector<std::string> lines_;
};

// A bank of balancers answering a master (the tool in "Battery tester" mode).
class BankRole : public Role {
  public:
    BankRole(const BankConfig& bank, const FaultConfig& faults, TimePoint start, bool quiet);

    const char* name() const override { return "bank"; }
    void received(std::span<const std::uint8_t> bytes, TimePoint now) override;
    void tick(TimePoint now) override;
    std::optional<TimePoint> nextDeadline() const override { return receiver_.deadline(); }
    std::vector<std::string> summary() const override;

    const Bank& bank() const { return bank_; }
    // Frames and blocks to lose on the ring.
    void setLosses(LossConfig losses) { loss_ = RingLoss(std::move(losses)); }
    // --from: the recorded bank answers instead of the simulated one.
    void playRecording(const playback::Timeline& timeline) { recorded_.emplace(timeline); }

  private:
    Bank bank_;
    std::optional<RecordedBank> recorded_;
    FrameReceiver receiver_;
    RingLoss loss_;
    bool quiet_;
    long requests_ = 0;
    long dropped_ = 0;
};

// A BMS polling a bank (the tool in "BMS tester" mode).
class BmsRole : public Role {
  public:
    BmsRole(const BmsConfig& bms, const FaultConfig& faults, TimePoint start);

    const char* name() const override { return "bms"; }
    void received(std::span<const std::uint8_t> bytes, TimePoint now) override;
    void tick(TimePoint now) override;
    std::optional<TimePoint> nextDeadline() const override;
    void peerChanged(bool connected, TimePoint now) override;
    void drained(TimePoint now) override { bms_.sent(now); }
    std::vector<std::string> summary() const override;

    const BmsMaster& bms() const { return bms_; }
    // --expect: every measurement answer is also held against a recording.
    void expectRecording(const playback::Timeline& timeline) { expect_.emplace(timeline); }

  private:
    void report(const ExchangeReport& r);

    BmsMaster bms_;
    std::optional<ExpectCheck> expect_;
};

// A BMS and a bank with the tool between them (the tool in "Data Sniffer" mode). The one
// pseudo-terminal is the rest of the ring: what the bank passes on is written to it, and what the
// tool repeats is read from it as the BMS's input and compared with what was written.
class RingRole : public Role {
  public:
    RingRole(const BankConfig& bank, const BmsConfig& bms, const FaultConfig& faults, TimePoint start);

    const char* name() const override { return "ring"; }
    void received(std::span<const std::uint8_t> bytes, TimePoint now) override;
    void tick(TimePoint now) override;
    std::optional<TimePoint> nextDeadline() const override;
    void peerChanged(bool connected, TimePoint now) override;
    void stopping(TimePoint now) override;
    std::vector<std::string> summary() const override;

    const Bank& bank() const { return bank_; }
    const BmsMaster& bms() const { return bms_; }
    // --from: the recorded bank answers instead of the simulated one.
    void playRecording(const playback::Timeline& timeline) { recorded_.emplace(timeline); }

    // The tool's echo of a request is judged until this long after it, even when the BMS gave up
    // sooner: bytes a slow adapter delivers late are late, not lost.
    static constexpr Duration kEchoWindow = 900ms;

  private:
    void report(const ExchangeReport& r, TimePoint now);
    void closePending();
    std::string echoText();

    Bank bank_;
    std::optional<RecordedBank> recorded_;
    FrameReceiver bankReceiver_;
    BmsMaster bms_;
    bus::Bytes written_; // what went towards the tool in the open exchange
    bus::Bytes echoed_;  // what the tool repeated in the open exchange
    bool segmentOpen_ = false;
    TimePoint echoDeadline_{};
    std::optional<std::string> pendingLine_; // a time-out waiting for the rest of the echo
    long sentTotal_ = 0;
    long backTotal_ = 0;
    long differTotal_ = 0;
    long badEchoes_ = 0;
    long stray_ = 0;
};

} // namespace zanst::sim
