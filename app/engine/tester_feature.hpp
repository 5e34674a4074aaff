#pragma once
// The battery tester on the bus engine's thread: the poll timer `timerBMS` and its tick, which
// refreshes the cell table and the bank values and sends the next request. Used by "Battery
// tester" (every 1000 ms) and "Calibration" (every 500 ms); the mode switch starts and stops it.

#include "engine/metatypes.hpp"
#include "tester/poll_engine.hpp"

#include <QObject>
#include <QTimer>

namespace zanst::app {

class TesterFeature : public QObject {
    Q_OBJECT
  public:
    TesterFeature(bus::BusState& state, bus::BusPort& port, QObject* parent = nullptr);

    void startPolling(int periodMs);
    void stopPolling();
    bool pollTimerActive() const { return timerBMS_.isActive(); }
    int pollTimerInterval() const { return timerBMS_.interval(); }
    Qt::TimerType pollTimerType() const { return timerBMS_.timerType(); }
    const tester::PollEngine& poll() const { return poll_; }

    // Inputs of the "Battery tester" tab; values out of range are ignored.
    void setSetpointCorrection(int correction);
    void setSystemVoltage(int volts);

  signals:
    // Every tick that refreshed the tables (`polled`) or checked the test mode ("Calibration").
    void ticked(const zanst::tester::TickReport& report);

  private:
    void timerBMS_Tick();

    tester::PollEngine poll_;
    QTimer timerBMS_;
};

} // namespace zanst::app
