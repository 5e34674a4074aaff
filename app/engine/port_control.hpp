#pragma once
// Where the engine's bytes come from: the serial port, or a replayed capture in its place. Opens
// and closes them, reports the port's state, and hands out the source that is in use now.

#include "bus/mode.hpp"
#include "engine/byte_source.hpp"
#include "engine/replay_source.hpp"
#include "engine/serial_link.hpp"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace zanst::app {

enum class PortStatus { Idle, Opening, Failed, Open, Lost };

class PortControl : public QObject {
    Q_OBJECT
  public:
    static constexpr int kSettleMs = 500; // pause after opening a port

    explicit PortControl(QObject* parent = nullptr);

    // The source in use: the serial port, or the replay while one runs.
    ByteSource& source() { return *source_; }
    const ByteSource& source() const { return *source_; }
    bool replaying() const { return source_ == &replay_; }
    // Where the sniffer's echo goes: the port, or nowhere during a replay.
    bus::BusPort& echoPort() { return replaying() ? static_cast<bus::BusPort&>(replayEcho_) : serial_; }

    // Closes the open port, opens `name`, and reports Opening, then Failed at once or Open after
    // the settle pause. A newer selection cancels a pending report.
    void selectPort(const QString& name);
    void disconnectPort();
    // Closes the port and plays the capture at `path` in its place (speed as ReplaySource::open).
    void openReplay(const QString& path, double speed);
    // Ends a replay; the engine is idle afterwards, as after "Disconnect".
    void stopReplay();
    // Lets a replay held at a mode record go on (the window could not select that mode).
    void resumeReplay() { replay_.resume(); }
    void shutdown();

    // "Data Sniffer": every byte echoed by the port's own echo thread, where the port has one (a
    // serial port on Linux, not a replay); kept while the port is closed and reopened. Turning it
    // off hands what the thread read meanwhile to `leftovers`. Without the thread the router echoes.
    void setSnifferEcho(bool wanted, const SerialLink::EchoedBytes& leftovers);
    bool snifferEchoRunning() const { return serial_.echoing(); }
    // What the echo thread read, already echoed (after echoedReady()).
    void drainEchoed(const SerialLink::EchoedBytes& take) { serial_.drainEchoed(take); }
    // What the last opening of the serial port found.
    const adapter::PortReport& adapterReport() const { return serial_.report(); }

    // What the tool sent at the time, as a replay comes to it.
    std::function<void(std::uint64_t timeUs, std::span<const std::uint8_t> bytes)> sentReplayed;

  signals:
    // The source in use changed (a replay began or ended): the router's echo must follow.
    void sourceChanged();
    void readyRead();
    void portStatusChanged(zanst::app::PortStatus status, const QString& name, const QString& detail);
    // A replay started (`error` tells what part of a damaged file is played), reached a mode
    // record (it is held until that mode is selected or resumed), ended, or could not start.
    void replayStarted(const QString& name, const QString& error);
    void replayModeRequested(zanst::bus::Mode mode);
    void replayFinished(const QString& name, int records);
    void replayFailed(const QString& path, const QString& error);
    // The echo thread has bytes for drainEchoed().
    void echoedReady();
    // What stands behind the port and what the driver set: after every opening (also a failed
    // one), and when the echo thread starts or stops.
    void adapterReported(const zanst::adapter::PortReport& report);

  private:
    // The replay's echo: the sniffer's bytes go nowhere, yet the sniffer sees them all.
    class DiscardPort : public bus::BusPort {
      public:
        bool isOpen() const override { return true; }
        bool write(std::span<const std::uint8_t>) override { return true; }
    };

    void useSource(ByteSource& source);

    SerialLink serial_{this};
    ReplaySource replay_{this};
    DiscardPort replayEcho_;
    ByteSource* source_ = &serial_;
    bool echoWanted_ = false;
    QTimer settleTimer_;
};

} // namespace zanst::app
