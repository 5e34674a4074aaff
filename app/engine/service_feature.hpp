#pragma once
// The service tools on the bus engine's thread: the one-shot calibration, parameter and action
// commands, and the firmware updater with its two timers (`timerUpdater` every 100 ms while an
// update runs, `fwtimer` every 10 ms while blocks are streamed). The window reads its inputs and
// the firmware file; what reaches the bus is built here from the engine's own tables.

#include "engine/metatypes.hpp"
#include "service/actions.hpp"
#include "service/battery_parameters.hpp"
#include "service/calibration.hpp"
#include "service/updater.hpp"

#include <QObject>
#include <QTimer>

namespace zanst::app {

class ServiceFeature : public QObject {
    Q_OBJECT
  public:
    ServiceFeature(bus::BusState& state, bus::BusPort& port, QObject* parent = nullptr);

    // "calibrate voltage", "calibrate gain" and "calibrate offset" for the balancer of a
    // calibration-table row; "save calibration" for it. Nothing without an addressed balancer.
    void calibrate(int row, service::CalibrationKind kind, quint16 value);
    void saveCalibration(int row);
    // "Zero Current", "Default gain", "Inc Gain", "Dec Gain" on the battery of a tester-table row,
    // addressed by the serial its balancer reported.
    void adjustCurrent(int row, service::GainOperation operation);
    void setBatteryParameters(const service::BatteryParameters& parameters);
    void runAction(service::ServiceAction action);

    // A firmware file, read on the window's thread.
    void fileRead(service::HexReadResult result);
    void setForceUpdate(bool force) { updater_.forceUpdate = force; }
    // The engine stops: no more ticks (an update in progress goes no further).
    void shutdown();

    const service::FirmwareUpdater& updater() const { return updater_; }
    bool updateTickActive() const { return timerUpdater_.isActive(); }
    bool blockSenderActive() const { return fwtimer_.isActive(); }
    Qt::TimerType updateTickType() const { return timerUpdater_.timerType(); }
    Qt::TimerType blockSenderType() const { return fwtimer_.timerType(); }

  signals:
    // What a call into the updater did: lines for its log, the end-update frame sent.
    void updaterReported(const zanst::service::UpdaterReport& report);

  private:
    void updaterTick();
    void timerFw_Tick();
    // Starts or stops each timer as the updater says (`restart` re-arms a running update tick)
    // and hands the report on.
    void settle(const service::UpdaterReport& report, bool restart = false);

    bus::BusState& state_;
    bus::BusPort& port_;
    service::FirmwareUpdater updater_;
    QTimer timerUpdater_;
    QTimer fwtimer_;
};

} // namespace zanst::app
