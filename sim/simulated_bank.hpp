#pragma once
// A ring of simulated balancers: a bank of identical batteries in parallel, one balancer per
// cell. It moves its cell values over time and answers what a master sends around the ring.

#include "sim/balancer.hpp"
#include "sim/frame_receiver.hpp"
#include "sim/presets.hpp"
#include "sim/time.hpp"

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zanst::sim {

inline constexpr int kMaxBatteries = 10;

struct BankConfig {
    Preset preset = kDefaultPreset;
    int batteries = 1;
    double currentA = 0.0; // through every battery; positive charges
    std::uint32_t seed = 1;
    bool noise = true; // a little measurement noise, as real readings have
    // Balancers with higher ids still answer the enumeration but pass measurement and
    // calibration records on unfilled: a ring that answers only up to here. 0: all answer.
    int deadAfter = 0;
    int metricsSilent = 0; // the battery that leaves its metrics request unanswered; 0: none
};

// What comes back around the ring for one request, and a line for the log.
struct Answer {
    bus::Bytes bytes; // empty when the balancers swallow the frame
    std::string line;
};

// The balancers' boot loaders, which all hear the same broadcast update.
struct UpdateState {
    enum class Phase { Idle, BootLoader, Receiving, Failed };
    Phase phase = Phase::Idle;
    int nextBlock = 0;
    std::uint32_t imageVersion = 0;
    bool applicationErased = false; // set by a started update until one completes
    std::string failure;
    TimePoint lastTraffic{};
};

class Bank {
  public:
    // A boot loader that has received no update traffic for this long starts the application again,
    // provided no started update erased it.
    static constexpr Duration kBootLoaderIdle = 30s;
    // Balancers balance against the master's setpoint only while it keeps sending it.
    static constexpr Duration kSetpointLifetime = 10s;

    Bank(const BankConfig& config, TimePoint start);

    // Moves the cell values on to `now`.
    void advance(TimePoint now);

    // Handles one complete message from the master and returns what the ring passes back.
    Answer respond(Message request, TimePoint now);
    // A block of a running update was lost on the ring: the balancers miss part of the image, so
    // the update has failed.
    void loseBlock(const std::string& why);

    const BankConfig& config() const { return config_; }
    const std::vector<Balancer>& balancers() const { return balancers_; }
    std::vector<Balancer>& balancers() { return balancers_; }
    const UpdateState& update() const { return update_; }
    std::optional<int> setpointMv(TimePoint now) const;
    double batteryCurrentMa() const { return config_.currentA * 1000.0; }

    // The serial a battery (0-based) reports: SIM, product id, B, battery number, 11 characters.
    static std::string serialFor(std::uint16_t productId, int battery);

  private:
    void step(double dt);
    void updateBleeding(TimePoint now);

    Answer answerInfo(const Message& request);
    Answer answerRecords(Message& request, std::uint8_t type, TimePoint now);
    Answer handleTestMode(const Message& request);
    Answer handleCalibrate(const Message& request);
    Answer handleSaveCalibration(const Message& request);
    Answer handleParameters(const Message& request);
    Answer handleReload(const Message& request);
    Answer handleBootLoader(const Message& request, TimePoint now);
    Answer handleStartUpdate(const Message& request, TimePoint now);
    Answer handleBlock(const Message& request, TimePoint now);
    Answer handleEndUpdate(const Message& request, TimePoint now);
    Answer handleCurrentAdjust(const Message& request);
    Answer answerMetrics(const Message& request); // bank_metrics.cpp

    int voltageNoise();
    int currentNoise(const Balancer& b);

    BankConfig config_;
    std::vector<Balancer> balancers_;
    UpdateState update_;
    std::mt19937 rng_;
    TimePoint now_;
    double baseMv_;
    std::optional<int> setpoint_;
    std::vector<int> slotOf_; // record index by balancer id while a poll is answered, else -1
    TimePoint setpointAt_{};
};

// The whole message as it travelled: frame, then records.
bus::Bytes flatten(const Message& m);

} // namespace zanst::sim
