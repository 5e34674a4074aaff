#include "engine/capture_feature.hpp"

#include <QDateTime>

namespace zanst::app {

CaptureFeature::CaptureFeature(QObject* parent) : QObject(parent), timer_(this) {
    clock_.start();
    timer_.setInterval(kBatchMs);
    connect(&timer_, &QTimer::timeout, this, &CaptureFeature::drain);
}

CaptureFeature::~CaptureFeature() {
    shutdown();
}

void CaptureFeature::note(capture::RecordKind kind, std::uint64_t timeUs,
                          std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    pending_.push_back({timeUs, kind, pool_.size(), bytes.size()});
    pool_.insert(pool_.end(), bytes.begin(), bytes.end());
}

void CaptureFeature::receivePass(std::span<const std::uint8_t> bytes, std::int64_t recordedUs, bool echoed) {
    if (!active()) {
        return;
    }
    const std::uint64_t timeUs = recordedUs >= 0 ? static_cast<std::uint64_t>(recordedUs) : nowUs();
    note(capture::RecordKind::Received, timeUs, bytes);
    if (echoed) {
        note(capture::RecordKind::Sent, timeUs, bytes);
    }
}

void CaptureFeature::startCapture(const QString& path, bus::Mode mode) {
    stopCapture();
    if (!writer_.open(path.toStdString(), QDateTime::currentMSecsSinceEpoch() - clock_.elapsed())) {
        emit captureStateChanged(false, path, QString::fromStdString(writer_.error()));
        return;
    }
    path_ = path;
    capturing_ = true;
    modeSelected(mode);
    updateTimer();
    emit captureStateChanged(true, path, {});
}

void CaptureFeature::stopCapture() {
    if (!capturing_) {
        return;
    }
    drain();
    if (!capturing_) {
        return; // the last write failed and reported it
    }
    capturing_ = false;
    writer_.close();
    updateTimer();
    emit captureStateChanged(false, path_, {});
}

void CaptureFeature::setViewing(bool viewing) {
    if (viewing == viewing_) {
        return;
    }
    drain();
    viewing_ = viewing;
    if (viewing) {
        decoder_.reset(); // the bytes of the time the view was closed are not there
    }
    updateTimer();
}

void CaptureFeature::modeSelected(bus::Mode mode) {
    if (capturing_) {
        const auto tab = static_cast<std::uint8_t>(mode);
        note(capture::RecordKind::Mode, nowUs(), std::span(&tab, 1));
    }
}

void CaptureFeature::shutdown() {
    stopCapture();
    viewing_ = false;
    timer_.stop();
}

void CaptureFeature::updateTimer() {
    if (active()) {
        if (!timer_.isActive()) {
            timer_.start();
        }
    } else {
        timer_.stop();
        pending_.clear();
        pool_.clear();
    }
}

void CaptureFeature::drain() {
    if (pending_.empty()) {
        return;
    }
    const std::span<const std::uint8_t> pool(pool_);
    if (capturing_) {
        for (const Pending& p : pending_) {
            writer_.append(p.timeUs, p.kind, pool.subspan(p.offset, p.length));
        }
        if (!writer_.flush()) {
            capturing_ = false;
            emit captureStateChanged(false, path_, QString::fromStdString(writer_.error()));
        }
    }
    if (viewing_) {
        TrafficBatch batch;
        for (const Pending& p : pending_) {
            if (p.kind != capture::RecordKind::Mode) {
                const auto direction = p.kind == capture::RecordKind::Sent ? capture::Direction::Sent
                                                                           : capture::Direction::Received;
                decoder_.feed(direction, p.timeUs, pool.subspan(p.offset, p.length), batch.rows);
            }
        }
        decoder_.flushLineBytes(batch.rows);
        if (!batch.rows.empty()) {
            emit trafficBatch(batch);
        }
    }
    pending_.clear();
    pool_.clear();
    updateTimer();
}

} // namespace zanst::app
