#pragma once
// The bus engine: owns the byte source (the serial port), the bus state, the byte router with
// the master-side receiver, and the mode switch of the tab strip. Each feature (battery tester,
// BMS tester, data sniffer) is a QObject of its own beside it. Everything runs on the engine's
// thread, so echoes and answers leave at once whatever the window does; the window reaches the
// engine only through queued calls (engine/post.hpp) and queued signals.

#include "bus/master_receiver.hpp"
#include "bus/router.hpp"
#include "bus/state.hpp"
#include "engine/capture_feature.hpp"
#include "engine/emulator_feature.hpp"
#include "engine/health_report.hpp"
#include "engine/metrics_feature.hpp"
#include "engine/replay_source.hpp"
#include "engine/serial_link.hpp"
#include "engine/service_feature.hpp"
#include "engine/sniffer_feature.hpp"
#include "engine/tester_feature.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

namespace zanst::app {

class BusEngine : public QObject {
    Q_OBJECT
  public:
    enum class PortStatus { Idle, Opening, Failed, Open, Lost };
    Q_ENUM(PortStatus)

    static constexpr int kSettleMs = 500; // pause before a test-mode frame and after opening a port

    explicit BusEngine(QObject* parent = nullptr);

    // Engine thread only.
    bus::BusState& state() { return state_; }
    const bus::BusState& state() const { return state_; }
    ByteSource& source() { return *source_; }
    TesterFeature* tester() { return &tester_; }
    SnifferFeature* sniffer() { return &sniffer_; }
    EmulatorFeature* emulator() { return &emulator_; }
    ServiceFeature* service() { return &service_; }
    MetricsFeature* metrics() { return &metrics_; }
    CaptureFeature* capture() { return &capture_; }

    // Closes the open port, opens `name`, and reports Opening, then Failed at once or Open after
    // the settle pause. A newer selection cancels a pending report.
    void selectPort(const QString& name);
    void disconnectPort();
    // Mode switch for the selected tab. Refused while tab changes are vetoed. A tab that leaves
    // or enters test mode sends its frame 500 ms later, in selection order, each at least 500 ms
    // after the previous one, and only if the port was open when the tab was selected.
    void selectTab(bus::Tab tab);
    // While a recording runs the mode must not change, whatever the window does.
    void setTabChangesVetoed(bool vetoed) { tabChangesVetoed_ = vetoed; }
    bool tabChangesVetoed() const { return tabChangesVetoed_; }
    // "Get All Metrics": the poll timer stops and the fetch starts at instance 1.
    void getAllMetrics();
    // "Save capture...": every byte from now on, with the selected mode, into `path`.
    void startCapture(const QString& path) { capture_.startCapture(path, state_.selectedTab); }
    void stopCapture() { capture_.stopCapture(); }
    // Closes the port and plays the capture at `path` in its place (speed as ReplaySource::open).
    void openReplay(const QString& path, double speed);
    // Ends a replay; the engine is idle afterwards, as after "Disconnect".
    void stopReplay();
    // Lets a replay held at a mode record go on (the window could not select that mode).
    void resumeReplay() { replay_.resume(); }
    // Closes the port and stops the timers; the engine is idle afterwards.
    void shutdown();

    static constexpr int kHealthPeriodMs = 250;

  signals:
    void portStatusChanged(zanst::app::BusEngine::PortStatus status, const QString& name,
                           const QString& detail);
    // Every kHealthPeriodMs: what the status bar shows.
    void healthReported(const zanst::app::HealthReport& report);
    // The "Calibration" tab's mode step ran: test mode was requested and the 500 ms poll started.
    void calibrationEntered();
    // A replay started (`error` tells what part of a damaged file is played), reached a mode
    // record, ended, or could not start (`failed`).
    void replayStarted(const QString& name, const QString& error);
    void replayModeRequested(zanst::bus::Tab mode);
    void replayFinished(const QString& name, int records);
    void replayFailed(const QString& path, const QString& error);

  private:
    // The port the features send through: counts the frames the tool writes. The sniffer's echo
    // goes to the serial link directly, so it neither counts nor pays for counting.
    class SentFramesPort : public bus::BusPort {
      public:
        SentFramesPort(bus::BusPort& link, bus::BusHealth& health, CaptureFeature& capture)
            : link_(&link), health_(health), capture_(capture) {}
        bool isOpen() const override { return link_->isOpen(); }
        bool write(std::span<const std::uint8_t> bytes) override;
        void setLink(bus::BusPort& link) { link_ = &link; }

      private:
        bus::BusPort* link_;
        bus::BusHealth& health_;
        CaptureFeature& capture_;
    };

    // The replay's echo: the sniffer's bytes go nowhere, yet the sniffer sees them all.
    class DiscardPort : public bus::BusPort {
      public:
        bool isOpen() const override { return true; }
        bool write(std::span<const std::uint8_t>) override { return true; }
    };

    // The delayed part of a tab change.
    struct ModeStep {
        bus::Tab tab;
        quint64 selection; // which selection it belongs to
        bool portWasOpen;  // the port was open when the tab was selected
        qint64 selectedAtMs;
    };

    void onReadyRead();
    void onConnectionLost(const QString& name, const QString& reason);
    void useSource(ByteSource& source, bus::BusPort& echo);
    void onSentReplayed(std::uint64_t timeUs, std::span<const std::uint8_t> bytes);
    void scheduleModeStep();
    void runModeStep();
    void reportHealth();

    bus::BusState state_;
    SerialLink serial_{this};
    ReplaySource replay_{this};
    DiscardPort replayEcho_;
    ByteSource* source_ = &serial_;
    CaptureFeature capture_{this};
    SentFramesPort port_{serial_, state_.health, capture_};
    bus::MasterReceiver master_{state_};
    bus::ByteRouter router_{state_, master_, serial_};
    TesterFeature tester_{state_, port_, this};
    SnifferFeature sniffer_{state_, this};
    EmulatorFeature emulator_{state_, port_, this};
    ServiceFeature service_{state_, port_, this};
    MetricsFeature metrics_{state_, port_, this};
    bool tabChangesVetoed_ = false;

    QTimer modeStepTimer_;   // the pause before the next mode step
    QTimer portSettleTimer_; // the pause after opening a port
    QTimer healthTimer_;
    std::uint64_t validSeen_ = 0;
    qint64 lastValidAtMs_ = -1;
    QElapsedTimer clock_;
    std::deque<ModeStep> modeSteps_;
    quint64 selections_ = 0;
    quint64 pollingStoppedIn_ = 0; // the selection during which "Get All Metrics" stopped polling
    qint64 lastStepAtMs_ = -kSettleMs;
};

} // namespace zanst::app
