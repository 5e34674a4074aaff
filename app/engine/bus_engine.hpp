#pragma once
// The bus engine: puts the parts together and runs every received byte. It owns the bus state,
// the port control (serial port or replay), the tool's port that the features send through, the
// byte router with the master-side receiver, one QObject per feature and the mode switch, and it
// reports the bus's health. Everything runs on the engine's thread (EngineHost), so echoes and
// answers leave at once whatever a front end does; a front end reaches the engine only through
// queued calls (engine/post.hpp) and queued signals. It links no widget library.

#include "adapter/thread_priority.hpp"
#include "bus/master_receiver.hpp"
#include "bus/router.hpp"
#include "bus/state.hpp"
#include "engine/capture_feature.hpp"
#include "engine/emulator_feature.hpp"
#include "engine/health_report.hpp"
#include "engine/metrics_feature.hpp"
#include "engine/mode_switch.hpp"
#include "engine/playback_feature.hpp"
#include "engine/port_control.hpp"
#include "engine/service_feature.hpp"
#include "engine/sniffer_feature.hpp"
#include "engine/tester_feature.hpp"
#include "engine/tool_port.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace zanst::app {

class BusEngine : public QObject {
    Q_OBJECT
  public:
    static constexpr int kHealthPeriodMs = 250;

    explicit BusEngine(QObject* parent = nullptr);

    // Engine thread only.
    bus::BusState& state() { return state_; }
    const bus::BusState& state() const { return state_; }
    PortControl* ports() { return &ports_; }
    ModeSwitch* modes() { return &modes_; }
    TesterFeature* tester() { return &tester_; }
    SnifferFeature* sniffer() { return &sniffer_; }
    EmulatorFeature* emulator() { return &emulator_; }
    ServiceFeature* service() { return &service_; }
    MetricsFeature* metrics() { return &metrics_; }
    CaptureFeature* capture() { return &capture_; }
    PlaybackFeature* playback() { return &playback_; }

    // "Save capture...": every byte from now on, with the selected mode, into `path`.
    void startCapture(const QString& path) { capture_.startCapture(path, state_.selectedMode); }
    void stopCapture() { capture_.stopCapture(); }
    // Closes the port and stops the timers; the engine is idle afterwards.
    void shutdown();

  signals:
    // Every kHealthPeriodMs: what the status bar shows.
    void healthReported(const zanst::app::HealthReport& report);

  private:
    void onReadyRead();
    // The echo thread's bytes, already echoed ("Data Sniffer").
    void onEchoed();
    void takeEchoed(std::span<const std::uint8_t> bytes, std::int64_t readNs);
    // What the mode of a pass leaves to its feature; the sniffer's report waits for `snifferEnd`.
    void finishPass(const bus::ReceivePass& pass, bool snifferEnd);
    // The echo thread runs exactly while received bytes are sniffed.
    void followEchoPath();
    void onSentReplayed(std::uint64_t timeUs, std::span<const std::uint8_t> bytes);
    void reportHealth();

    bus::BusState state_;
    PortControl ports_{this};
    CaptureFeature capture_{this};
    ToolPort port_{ports_, state_.health, capture_};
    bus::MasterReceiver master_{state_};
    bus::ByteRouter router_{state_, master_, ports_.echoPort()};
    // In "BMS tester" the BMS waits for this thread's answers.
    adapter::ThreadPriority answerPriority_;
    TesterFeature tester_{state_, port_, this};
    SnifferFeature sniffer_{state_, this};
    EmulatorFeature emulator_{state_, port_, this};
    ServiceFeature service_{state_, port_, this};
    MetricsFeature metrics_{state_, port_, this};
    ModeSwitch modes_{{state_, port_, ports_, tester_, sniffer_, metrics_, capture_}, this};
    PlaybackFeature playback_{{state_, emulator_, capture_, modes_}, this};

    QTimer healthTimer_;
    std::uint64_t validSeen_ = 0;
    qint64 lastValidAtMs_ = -1;
    QElapsedTimer clock_;
};

} // namespace zanst::app
