#pragma once
// Capture and traffic on the bus engine's thread. It is handed every write of the features (by
// the tool's port) and every receive pass after it was handled (after the sniffer's echo has gone
// out); it only stores the bytes. Every kBatchMs it writes them to the capture file and, while
// the traffic view is open, cuts them into frames and sends the window one batch.

#include "bus/mode.hpp"
#include "capture/capture_file.hpp"
#include "capture/traffic.hpp"

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <span>
#include <vector>

namespace zanst::app {

struct TrafficBatch {
    std::vector<capture::TrafficRow> rows;
};

class CaptureFeature : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBatchMs = 100;

    explicit CaptureFeature(QObject* parent = nullptr);
    ~CaptureFeature() override;

    // Whether anyone wants the bytes; the byte paths skip note() otherwise.
    bool active() const { return capturing_ || viewing_; }
    std::uint64_t nowUs() const { return static_cast<std::uint64_t>(clock_.nsecsElapsed() / 1000); }
    void note(capture::RecordKind kind, std::uint64_t timeUs, std::span<const std::uint8_t> bytes);
    // A receive pass, handled: `recordedUs` is its time in a replay (-1 live); `echoed`: the pass
    // went back out on the port (the sniffer's echo), recorded as sent beside it.
    void receivePass(std::span<const std::uint8_t> bytes, std::int64_t recordedUs, bool echoed);

    // Starts writing every byte to `path`; the mode selected now is its first record.
    void startCapture(const QString& path, bus::Mode mode);
    void stopCapture();
    bool capturing() const { return capturing_; }
    void setViewing(bool viewing);
    void modeSelected(bus::Mode mode);
    void shutdown();

  signals:
    void trafficBatch(const zanst::app::TrafficBatch& batch);
    // `error` is set when the capture could not start or a write failed (it stops then).
    void captureStateChanged(bool capturing, const QString& path, const QString& error);

  private:
    struct Pending {
        std::uint64_t timeUs;
        capture::RecordKind kind;
        std::size_t offset;
        std::size_t length;
    };
    void drain();
    void updateTimer();

    QTimer timer_;
    QElapsedTimer clock_;
    std::vector<Pending> pending_;
    std::vector<std::uint8_t> pool_;
    capture::CaptureWriter writer_;
    capture::TrafficDecoder decoder_;
    QString path_;
    bool capturing_ = false;
    bool viewing_ = false;
};

} // namespace zanst::app

Q_DECLARE_METATYPE(zanst::app::TrafficBatch)
