#pragma once
// A capture file played back as the engine's byte source: received records come out through
// readyRead() at their recorded pace (or faster), as the serial port would deliver them. The
// source counts as closed to the features, so the tool sends nothing during a replay; what the
// tool sent at the time is handed to `sentReplayed` instead, and a mode record holds the replay
// until the engine has selected that mode.

#include "capture/capture_file.hpp"
#include "engine/byte_source.hpp"

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

namespace zanst::app {

class ReplaySource : public ByteSource {
    Q_OBJECT
  public:
    static constexpr int kHoldLimitMs = 2000; // a mode nobody selects does not stop the replay
    static constexpr int kFastRecordsPerTurn = 256;

    explicit ReplaySource(QObject* parent = nullptr);

    // Reads the file and starts playing it. `speed`: 1 the recorded pace, 10 ten times faster,
    // 0 as fast as the engine takes it. Returns false (with the reason in `message`) when there is
    // nothing to play; a damaged file plays its valid part and says so in `message`.
    bool open(const QString& path, double speed, QString* message);
    void close() override;
    bool playing() const { return playing_; }
    bool holding() const { return holding_; }
    void resume();

    // Closed to the features: they must not send.
    bool isOpen() const override { return false; }
    bool write(std::span<const std::uint8_t>) override { return false; }
    QByteArray readAvailable() override;
    QString name() const override { return name_; }
    std::int64_t readTimeUs() const override { return static_cast<std::int64_t>(readTimeUs_); }

    std::function<void(std::uint64_t timeUs, std::span<const std::uint8_t> bytes)> sentReplayed;

  signals:
    void modeRecord(int mode);
    void finished(int records);

  private:
    void step();

    capture::Capture capture_;
    QString name_;
    QTimer timer_;
    QTimer holdTimer_;
    QElapsedTimer clock_;
    QByteArray buffer_;
    std::size_t next_ = 0;
    double speed_ = 1.0;
    qint64 heldMs_ = 0;
    qint64 holdStartMs_ = 0;
    std::uint64_t firstUs_ = 0;
    std::uint64_t readTimeUs_ = 0;
    bool playing_ = false;
    bool holding_ = false;
};

} // namespace zanst::app
