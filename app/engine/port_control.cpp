#include "engine/port_control.hpp"

namespace zanst::app {

PortControl::PortControl(QObject* parent) : QObject(parent), settleTimer_(this) {
    settleTimer_.setSingleShot(true);
    settleTimer_.setInterval(kSettleMs);
    connect(&settleTimer_, &QTimer::timeout, this, [this] {
        if (serial_.isOpen()) {
            emit portStatusChanged(PortStatus::Open, serial_.name(), {});
        }
    });
    connect(&serial_, &ByteSource::readyRead, this, &PortControl::readyRead);
    connect(&serial_, &SerialLink::echoedReady, this, &PortControl::echoedReady);
    connect(&serial_, &SerialLink::reported, this, &PortControl::adapterReported);
    connect(&serial_, &ByteSource::connectionLost, this, [this](const QString& name, const QString& reason) {
        settleTimer_.stop();
        emit portStatusChanged(PortStatus::Lost, name, reason);
    });
    connect(&replay_, &ByteSource::readyRead, this, &PortControl::readyRead);
    connect(&replay_, &ReplaySource::modeRecord, this, [this](int value) {
        const auto mode =
            value >= 0 && value <= 0xFF ? bus::modeFromByte(static_cast<std::uint8_t>(value)) : std::nullopt;
        if (mode) {
            emit replayModeRequested(*mode);
        } else {
            replay_.resume(); // not a mode this program has
        }
    });
    connect(&replay_, &ReplaySource::finished, this, [this](int records) {
        const QString name = replay_.name();
        useSource(serial_);
        emit replayFinished(name, records);
    });
    replay_.sentReplayed = [this](std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
        if (sentReplayed) {
            sentReplayed(timeUs, bytes);
        }
    };
}

void PortControl::useSource(ByteSource& source) {
    if (&source != &replay_) {
        replay_.close();
    }
    source_ = &source;
    emit sourceChanged();
}

void PortControl::selectPort(const QString& name) {
    stopReplay();
    settleTimer_.stop();
    serial_.close();
    emit portStatusChanged(PortStatus::Opening, name, {});
    QString reason;
    if (!serial_.open(name, &reason)) {
        emit portStatusChanged(PortStatus::Failed, name, reason);
        return;
    }
    if (echoWanted_) {
        serial_.startEcho(); // before the first byte can arrive unechoed
    }
    settleTimer_.start();
}

void PortControl::setSnifferEcho(bool wanted, const SerialLink::EchoedBytes& leftovers) {
    echoWanted_ = wanted;
    if (wanted && !replaying()) {
        serial_.startEcho();
    } else if (!wanted) {
        serial_.stopEcho(leftovers);
    }
}

void PortControl::disconnectPort() {
    stopReplay();
    settleTimer_.stop();
    serial_.close();
    emit portStatusChanged(PortStatus::Idle, {}, {});
}

void PortControl::openReplay(const QString& path, double speed) {
    settleTimer_.stop();
    serial_.close();
    useSource(serial_);
    emit portStatusChanged(PortStatus::Idle, {}, {});
    QString message;
    if (!replay_.open(path, speed, &message)) {
        emit replayFailed(path, message);
        return;
    }
    useSource(replay_);
    emit replayStarted(replay_.name(), message);
}

void PortControl::stopReplay() {
    if (replaying()) {
        const QString name = replay_.name();
        useSource(serial_);
        emit replayFinished(name, -1);
    }
}

void PortControl::shutdown() {
    settleTimer_.stop();
    useSource(serial_);
    serial_.close();
}

} // namespace zanst::app
