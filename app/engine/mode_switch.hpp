#pragma once
// The mode switch: what selecting a mode does. The flags and tables change at once; a mode that
// leaves or enters test mode sends its frame 500 ms later, in selection order, each at least
// 500 ms after the previous one, and only if the port was open when the mode was selected (a
// blocking pause would have kept the user from opening it in between). A command the user gives
// while a step is pending (a fetch, a service action, a calibration, the updater's start) waits
// behind it, in order, as it waited behind the blocking pause. While a recording runs the mode
// must not change, whatever the window does.

#include "bus/mode.hpp"
#include "bus/port.hpp"
#include "bus/state.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <variant>

namespace zanst::app {

class CaptureFeature;
class MetricsFeature;
class PortControl;
class SnifferFeature;
class TesterFeature;

class ModeSwitch : public QObject {
    Q_OBJECT
  public:
    static constexpr int kSettleMs = 500; // pause before a test-mode frame

    struct Parts {
        bus::BusState& state;
        bus::BusPort& port; // the test-mode frames go out here
        PortControl& ports;
        TesterFeature& tester;
        SnifferFeature& sniffer;
        MetricsFeature& metrics;
        CaptureFeature& capture;
    };

    explicit ModeSwitch(const Parts& parts, QObject* parent = nullptr);

    // Refused while mode changes are vetoed, and for a value that is no mode.
    void selectMode(bus::Mode mode);
    void setVetoed(bool vetoed) { vetoed_ = vetoed; }
    bool vetoed() const { return vetoed_; }
    // Runs `command` now, or after the mode steps pending now, in the order given.
    void afterModeSteps(std::function<void()> command);
    bool stepsPending() const { return !pending_.empty(); }
    // "Get All Metrics", after the pending mode steps: the poll timer stops and the fetch starts at
    // instance 1.
    void getAllMetrics();
    void shutdown();

  signals:
    // A mode was selected: its health counts from now.
    void modeSelected(zanst::bus::Mode mode);
    // The "Calibration" mode step ran: test mode was requested and the 500 ms poll started.
    void calibrationEntered();

  private:
    // The delayed part of a selection.
    struct ModeStep {
        bus::Mode mode;
        quint64 selection; // which selection it belongs to
        bool portWasOpen;  // the port was open when the mode was selected
        qint64 selectedAtMs;
    };

    // Runs the commands at the front of the queue and arms the timer for the next step.
    void scheduleModeStep();
    void runModeStep();
    void startMetricsFetch();

    Parts parts_;
    bool vetoed_ = false;
    QTimer modeStepTimer_;
    QElapsedTimer clock_;
    // Mode steps and the commands given after them, in order.
    std::deque<std::variant<ModeStep, std::function<void()>>> pending_;
    quint64 selections_ = 0;
    qint64 lastStepAtMs_ = -kSettleMs;
};

} // namespace zanst::app
