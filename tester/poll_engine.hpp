#pragma once
// The battery tester's poll tick: once a second (twice on "Calibration") it refreshes the cell
// table and the bank values from what came back since the last tick, then enumerates the
// balancers or polls their measurements (or, on "Calibration", their calibration data).

#include "bank/bank_snapshot.hpp"
#include "bank_computation.hpp"

#include "bus/port.hpp"
#include "bus/state.hpp"

#include <optional>

namespace zanst::tester {

// Inputs of the tab that the tick reads.
struct PollSettings {
    int systemVoltage = 12;                              // "System": 12, 24 or 48
    int setpointCorrection = kDefaultSetpointCorrection; // mV/A, always a valid value
};

enum class PollRequest { None, Info, CalibrationData, Measurement };

// What one tick did; the engine hands the snapshot and the bank values on, texts are made at the edge.
struct TickReport {
    bool polled = false;               // the selected tab polls; the table and bank values below are fresh
    bool busSilent = false;            // no frame for more than three ticks: the tables were emptied
    std::optional<bool> allInTestMode; // "Calibration" only, with balancers known
    PollRequest sent = PollRequest::None;
    bank::BankSnapshot snapshot;
    bank::BankValues bank;
};

class PollEngine {
  public:
    static constexpr int kSilentTicks = 3; // the bus counts as silent after more ticks than this

    PollEngine(bus::BusState& state, bus::BusPort& port) : state_(state), port_(port) {}

    PollSettings settings;

    TickReport timerBMS_Tick();

    // Engine state kept between ticks, under the system's names.
    bank::BankValues bank;
    int sysv = 12;
    bool getCalData = false;
    bool bToggleDataCal = false;

  private:
    bool anyBalancerInBootloader() const;
    // A request went out: unless a frame comes back before the next tick, it counts as unanswered.
    void sent();
    bool allBalancersInTestMode() const;

    bus::BusState& state_;
    bus::BusPort& port_;
    bool awaitingAnswer_ = false;
    std::uint64_t framesAtRequest_ = 0;
};

} // namespace zanst::tester
