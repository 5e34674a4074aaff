#include "engine/replay_source.hpp"

#include <QFileInfo>

namespace zanst::app {

ReplaySource::ReplaySource(QObject* parent) : ByteSource(parent), timer_(this), holdTimer_(this) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    holdTimer_.setSingleShot(true);
    holdTimer_.setInterval(kHoldLimitMs);
    connect(&timer_, &QTimer::timeout, this, &ReplaySource::step);
    connect(&holdTimer_, &QTimer::timeout, this, &ReplaySource::resume);
}

bool ReplaySource::open(const QString& path, double speed, QString* message) {
    close();
    capture_ = capture::readCaptureFile(path.toStdString());
    if (message != nullptr) {
        *message = QString::fromStdString(capture_.message);
    }
    if (capture_.records.empty()) {
        if (message != nullptr && message->isEmpty()) {
            *message = QStringLiteral("The capture holds no records");
        }
        capture_ = {};
        return false;
    }
    name_ = QFileInfo(path).fileName();
    speed_ = speed;
    next_ = 0;
    heldMs_ = 0;
    firstUs_ = capture_.records.front().timeUs;
    playing_ = true;
    clock_.start();
    timer_.start(0);
    return true;
}

void ReplaySource::close() {
    timer_.stop();
    holdTimer_.stop();
    playing_ = false;
    holding_ = false;
    buffer_.clear();
    capture_ = {};
}

void ReplaySource::resume() {
    if (!holding_) {
        return;
    }
    holding_ = false;
    holdTimer_.stop();
    heldMs_ += clock_.elapsed() - holdStartMs_;
    timer_.start(0);
}

QByteArray ReplaySource::readAvailable() {
    QByteArray out;
    out.swap(buffer_);
    return out;
}

void ReplaySource::step() {
    int handled = 0;
    while (playing_ && !holding_ && next_ < capture_.records.size()) {
        const capture::Record& r = capture_.records[next_];
        if (speed_ > 0) {
            const auto dueMs =
                static_cast<qint64>(static_cast<double>(r.timeUs - firstUs_) / 1000.0 / speed_) + heldMs_;
            const qint64 wait = dueMs - clock_.elapsed();
            if (wait > 0) {
                timer_.start(static_cast<int>(std::min<qint64>(wait, 1000)));
                return;
            }
        }
        if (++handled > kFastRecordsPerTurn) {
            timer_.start(0); // let the engine's own timers and calls in between
            return;
        }
        ++next_;
        readTimeUs_ = r.timeUs;
        const std::span<const std::uint8_t> bytes = capture_.bytes(r);
        switch (r.kind) {
        case capture::RecordKind::Received:
            buffer_.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
            emit readyRead();
            break;
        case capture::RecordKind::Sent:
            if (sentReplayed) {
                sentReplayed(r.timeUs, bytes);
            }
            break;
        case capture::RecordKind::Mode:
            holding_ = true;
            holdStartMs_ = clock_.elapsed();
            holdTimer_.start();
            emit modeRecord(bytes.front());
            break;
        }
    }
    if (playing_ && !holding_ && next_ >= capture_.records.size()) {
        const int records = static_cast<int>(capture_.records.size());
        close();
        emit finished(records);
    }
}

} // namespace zanst::app
