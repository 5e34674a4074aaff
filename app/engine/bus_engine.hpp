#pragma once
// The bus engine: owns the serial port, the bus state and tables, the receivers and the poll
// timer, and runs on its own thread so that echoes and answers leave at once whatever the
// window does. The window talks to it only through queued slots and signals.

#include "bus/master_receiver.hpp"
#include "bus/router.hpp"
#include "bus/state.hpp"
#include "engine/emulator_link.hpp"
#include "engine/serial_link.hpp"
#include "engine/tester_link.hpp"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace zanst::app {

class BusEngine : public QObject {
    Q_OBJECT
public:
    enum class PortStatus { Idle, Opening, Failed, Open, Lost };
    Q_ENUM(PortStatus)

    static constexpr int kPollPeriodMs = 1000;
    static constexpr int kCalibrationPollPeriodMs = 500;
    static constexpr int kSettleMs = 500; // pause before a test-mode frame and after opening a port

    explicit BusEngine(QObject* parent = nullptr);

    // Engine thread only.
    bus::BusState& state() { return state_; }
    const bus::BusState& state() const { return state_; }
    SerialLink& link() { return link_; }
    const bus::MasterReceiver& masterReceiver() const { return master_; }
    // The BMS tester's responder; its object lives on the engine's thread.
    EmulatorLink* emulator() { return &emulator_; }
    bool pollTimerActive() const { return timerBMS_.isActive(); }
    TesterLink& tester() { return tester_; }
    int pollTimerInterval() const { return timerBMS_.interval(); }

public slots:
    // Closes the open port, opens `name`, and reports Opening, then Failed at once or Open after
    // the settle pause. A newer selection cancels a pending report.
    void selectPort(const QString& name);
    void disconnectPort();
    // Mode switch for the tab at this strip index (bus::Tab).
    void selectTab(int tab);
    void setRecording(bool dataMonitor, bool active);
    // "Setpoint correction" in mV/A (1..1000) and "System" in V (12, 24, 48); others are ignored.
    void setSetpointCorrection(int correction);
    void setSystemVoltage(int volts);
    // Closes the port and stops the timers; the engine is idle afterwards.
    void shutdown();

signals:
    void portStatusChanged(zanst::app::BusEngine::PortStatus status, const QString& name, const QString& detail);
    // The sniffer's six "BMS info" fields are to be emptied.
    void snifferInfoCleared();
    // Test mode was requested on the Calibration tab: calibration buttons off, label red.
    void testModeRequested();
    void pollTicked();
    // The rows of the tester and data monitor tables, after every poll tick and sniffed burst.
    void cellTableChanged(const zanst::tester::CellTable& table);
    // The battery tester's bank values: setpoint and voltage in V, current in A.
    void bankValuesChanged(const QString& setpoint, const QString& voltage, const QString& current);
    // One of the sniffer's "BMS info" fields (tester::BmsField) got a new text.
    void snifferInfoChanged(int field, const QString& text);

private:
    void onReadyRead();
    void onConnectionLost(const QString& name, const QString& reason);
    void timerBMS_Tick();
    void afterSettle(std::function<void()> step);
    void sendTestMode(std::string_view word);

    bus::BusState state_;
    bus::MasterReceiver master_;
    SerialLink link_;
    bus::ByteRouter router_;
    EmulatorLink emulator_{state_, link_, this};
    TesterLink tester_;

    QTimer timerBMS_;
    QTimer modeSwitchTimer_; // the pause of a tab change; a newer change restarts it
    QTimer portSettleTimer_; // the pause after opening a port
    std::function<void()> pendingModeStep_;
};

} // namespace zanst::app
