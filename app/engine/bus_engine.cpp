#include "engine/bus_engine.hpp"

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/senders.hpp"

#include <algorithm>
#include <span>

namespace zanst::app {

using bus::Tab;

bool BusEngine::SentFramesPort::write(std::span<const std::uint8_t> bytes) {
    // A frame goes out in one write of its own (the wake-up prefix and records are separate writes).
    if (!bytes.empty() && bytes.front() == bus::kStartByte) {
        ++health_.framesSent;
    }
    const bool written = link_->write(bytes);
    if (written && capture_.active()) {
        capture_.note(capture::RecordKind::Sent, capture_.nowUs(), bytes);
    }
    return written;
}

BusEngine::BusEngine(QObject* parent)
    : QObject(parent), modeStepTimer_(this), portSettleTimer_(this), healthTimer_(this) {
    qRegisterMetaType<HealthReport>();
    clock_.start();
    modeStepTimer_.setSingleShot(true);
    modeStepTimer_.setTimerType(Qt::PreciseTimer);
    portSettleTimer_.setSingleShot(true);
    portSettleTimer_.setInterval(kSettleMs);
    router_.setEmulator(emulator_.listener());
    router_.setSniffer(sniffer_.listener());
    master_.setFrameSink(bus::cmd::kMetrics, metrics_.frameSink());

    connect(&serial_, &ByteSource::readyRead, this, &BusEngine::onReadyRead);
    connect(&serial_, &ByteSource::connectionLost, this, &BusEngine::onConnectionLost);
    connect(&replay_, &ByteSource::readyRead, this, &BusEngine::onReadyRead);
    connect(&replay_, &ReplaySource::modeRecord, this, [this](int mode) {
        if (mode < static_cast<int>(Tab::Connection) || mode > static_cast<int>(Tab::Metrics)) {
            replay_.resume(); // not a mode this program has
            return;
        }
        emit replayModeRequested(static_cast<Tab>(mode));
    });
    connect(&replay_, &ReplaySource::finished, this, [this](int records) {
        const QString name = replay_.name();
        useSource(serial_, serial_);
        emit replayFinished(name, records);
    });
    replay_.sentReplayed = [this](std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
        onSentReplayed(timeUs, bytes);
    };
    connect(&modeStepTimer_, &QTimer::timeout, this, &BusEngine::runModeStep);
    connect(&healthTimer_, &QTimer::timeout, this, &BusEngine::reportHealth);
    healthTimer_.start(kHealthPeriodMs);
    connect(&portSettleTimer_, &QTimer::timeout, this, [this] {
        if (serial_.isOpen()) {
            emit portStatusChanged(PortStatus::Open, serial_.name(), {});
        }
    });
}

void BusEngine::useSource(ByteSource& source, bus::BusPort& echo) {
    if (&source != &replay_) {
        replay_.close();
    }
    source_ = &source;
    router_.setPort(echo);
    port_.setLink(source);
}

void BusEngine::openReplay(const QString& path, double speed) {
    portSettleTimer_.stop();
    serial_.close();
    useSource(serial_, serial_);
    emit portStatusChanged(PortStatus::Idle, {}, {});
    QString message;
    if (!replay_.open(path, speed, &message)) {
        emit replayFailed(path, message);
        return;
    }
    useSource(replay_, replayEcho_);
    emit replayStarted(replay_.name(), message);
}

void BusEngine::stopReplay() {
    if (source_ == &replay_) {
        const QString name = replay_.name();
        useSource(serial_, serial_);
        emit replayFinished(name, -1);
    }
}

void BusEngine::onSentReplayed(std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
    // The tool's sender cleared the in-frame flag before each command it sent (the wake-up bytes
    // come first), so the master side hunted for a start byte from there on.
    if (bus::routeFor(state_) == bus::Route::Master &&
        (bytes.front() == 0x00 || bytes.front() == bus::kStartByte)) {
        state_.frameReceiving = false;
    }
    if (capture_.active()) {
        capture_.note(capture::RecordKind::Sent, timeUs, bytes);
    }
}

void BusEngine::selectPort(const QString& name) {
    stopReplay();
    portSettleTimer_.stop();
    serial_.close();
    emit portStatusChanged(PortStatus::Opening, name, {});
    QString reason;
    if (!serial_.open(name, &reason)) {
        emit portStatusChanged(PortStatus::Failed, name, reason);
        return;
    }
    portSettleTimer_.start();
}

void BusEngine::disconnectPort() {
    stopReplay();
    portSettleTimer_.stop();
    serial_.close();
    emit portStatusChanged(PortStatus::Idle, {}, {});
}

void BusEngine::onConnectionLost(const QString& name, const QString& reason) {
    portSettleTimer_.stop();
    emit portStatusChanged(PortStatus::Lost, name, reason);
}

void BusEngine::onReadyRead() {
    const QByteArray data = source_->readAvailable();
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                          static_cast<std::size_t>(data.size()));
    router_.route(bytes);
    // Noted after the echo has gone out, so that a capture or the traffic view never delays it.
    if (capture_.active()) {
        const bool echoes = bus::routeFor(state_) == bus::Route::Sniffer; // routing left the mode as it was
        const std::int64_t recorded = source_->readTimeUs();
        const std::uint64_t timeUs = recorded >= 0 ? static_cast<std::uint64_t>(recorded) : capture_.nowUs();
        capture_.note(capture::RecordKind::Received, timeUs, bytes);
        if (echoes && source_ == &serial_) {
            capture_.note(capture::RecordKind::Sent, timeUs, bytes);
        }
    }
}

void BusEngine::scheduleModeStep() {
    if (modeSteps_.empty() || modeStepTimer_.isActive()) {
        return;
    }
    const qint64 due = std::max(modeSteps_.front().selectedAtMs, lastStepAtMs_) + kSettleMs;
    modeStepTimer_.start(static_cast<int>(std::max<qint64>(0, due - clock_.elapsed())));
}

void BusEngine::runModeStep() {
    if (modeSteps_.empty()) {
        return;
    }
    const ModeStep step = modeSteps_.front();
    modeSteps_.pop_front();
    lastStepAtMs_ = clock_.elapsed();
    const bool entersTestMode = step.tab == Tab::Calibration;
    if (step.portWasOpen) {
        const bus::Bytes frame = bus::buildTestModeFrame(entersTestMode ? bus::identity::kWordEnterTest
                                                                        : bus::identity::kWordLeaveTest);
        bus::sendHexBmsCmd(port_, state_.frameReceiving, frame);
    }
    // The mode itself follows only the latest selection: an older step sends its frame and no more.
    if (step.selection == selections_) {
        state_.bTestMode = entersTestMode;
        // "Get All Metrics" pressed meanwhile came after this step, as it would behind a blocking
        // pause, and keeps the poll timer stopped.
        if (step.selection != pollingStoppedIn_) {
            tester_.startPolling(entersTestMode ? TesterFeature::kCalibrationPollPeriodMs
                                                : TesterFeature::kPollPeriodMs);
            if (entersTestMode) {
                emit calibrationEntered();
            }
        }
    }
    scheduleModeStep();
}

void BusEngine::selectTab(Tab selected) {
    if (selected < Tab::Connection || selected > Tab::Metrics || tabChangesVetoed_) {
        return;
    }
    ++selections_;
    metrics_.cancel(QStringLiteral("Metrics fetch stopped: another tab was selected"));
    state_.selectedTab = selected;
    capture_.modeSelected(selected);
    state_.health = bus::BusHealth{}; // each mode counts from its start
    validSeen_ = 0;
    lastValidAtMs_ = -1;
    state_.bInBootloaderMode = false;
    state_.bBatteryMode = false;
    state_.bSniffer = false;

    switch (selected) {
    case Tab::Calibration:
        state_.balancersInfo = false;
        tester_.stopPolling();
        break;
    case Tab::BmsTester:
        tester_.stopPolling();
        state_.bTestMode = false;
        state_.bBatteryMode = true;
        break;
    case Tab::Sniffer:
        tester_.stopPolling();
        state_.bTestMode = false;
        state_.bSniffer = true;
        break;
    case Tab::Connection:
    case Tab::Actions:
    case Tab::BatteryTester:
    case Tab::Metrics:
        state_.balancersInfo = false;
        state_.tables.clearData();
        state_.frameReceiving = false;
        state_.numCells = 0;
        sniffer_.clearInfo();
        tester_.stopPolling();
        break;
    }
    if (selected != Tab::BmsTester && selected != Tab::Sniffer) {
        modeSteps_.push_back({selected, selections_, source_->isOpen(), clock_.elapsed()});
        scheduleModeStep();
    }
    replay_.resume(); // a replay held at its mode record goes on in the mode now selected
}

void BusEngine::getAllMetrics() {
    tester_.stopPolling();
    pollingStoppedIn_ = selections_;
    metrics_.requestAllMetrics();
}

void BusEngine::reportHealth() {
    const bus::BusHealth& h = state_.health;
    if (h.validReceived != validSeen_) {
        validSeen_ = h.validReceived;
        lastValidAtMs_ = clock_.elapsed();
    }
    HealthReport report;
    report.mode = state_.selectedTab;
    report.balancers = bus::walkableCells(state_.numCells);
    report.framesSent = h.framesSent;
    report.framesReceived = h.framesReceived;
    report.crcErrors = h.crcErrors;
    report.unansweredPolls = h.unansweredPolls;
    report.noAnswerAfter = h.noAnswerAfter;
    report.msSinceValid = lastValidAtMs_ < 0 ? -1 : clock_.elapsed() - lastValidAtMs_;
    emit healthReported(report);
}

void BusEngine::shutdown() {
    metrics_.shutdown();
    healthTimer_.stop();
    modeStepTimer_.stop();
    modeSteps_.clear();
    portSettleTimer_.stop();
    tester_.stopPolling();
    capture_.shutdown();
    useSource(serial_, serial_);
    serial_.close();
}

} // namespace zanst::app
