#include "engine/bus_engine.hpp"

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/senders.hpp"

#include <span>

namespace zanst::app {

using bus::Tab;

BusEngine::BusEngine(QObject* parent)
    : QObject(parent), master_(state_), link_(this), router_(state_, master_, link_),
      tester_(*this, state_, link_), timerBMS_(this),
      modeSwitchTimer_(this), portSettleTimer_(this) {
    modeSwitchTimer_.setSingleShot(true);
    modeSwitchTimer_.setInterval(kSettleMs);
    portSettleTimer_.setSingleShot(true);
    portSettleTimer_.setInterval(kSettleMs);
    timerBMS_.setInterval(kPollPeriodMs);
    router_.setEmulator(emulator_.listener());
    router_.setSniffer(&tester_.sniffer());

    connect(&link_, &SerialLink::readyRead, this, &BusEngine::onReadyRead);
    connect(&link_, &SerialLink::connectionLost, this, &BusEngine::onConnectionLost);
    connect(&timerBMS_, &QTimer::timeout, this, &BusEngine::timerBMS_Tick);
    connect(&modeSwitchTimer_, &QTimer::timeout, this, [this] {
        auto step = std::move(pendingModeStep_);
        pendingModeStep_ = nullptr;
        if (step) {
            step();
        }
    });
    connect(&portSettleTimer_, &QTimer::timeout, this, [this] {
        if (link_.isOpen()) {
            emit portStatusChanged(PortStatus::Open, link_.name(), {});
        }
    });
}

void BusEngine::selectPort(const QString& name) {
    portSettleTimer_.stop();
    link_.close();
    emit portStatusChanged(PortStatus::Opening, name, {});
    QString reason;
    if (!link_.open(name, &reason)) {
        emit portStatusChanged(PortStatus::Failed, name, reason);
        return;
    }
    portSettleTimer_.start();
}

void BusEngine::disconnectPort() {
    portSettleTimer_.stop();
    link_.close();
    emit portStatusChanged(PortStatus::Idle, {}, {});
}

void BusEngine::onConnectionLost(const QString& name, const QString& reason) {
    portSettleTimer_.stop();
    emit portStatusChanged(PortStatus::Lost, name, reason);
}

void BusEngine::onReadyRead() {
    const QByteArray data = link_.readAvailable();
    router_.route(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())));
}

void BusEngine::afterSettle(std::function<void()> step) {
    pendingModeStep_ = std::move(step);
    modeSwitchTimer_.start();
}

void BusEngine::sendTestMode(std::string_view word) {
    const bus::Bytes frame = bus::buildTestModeFrame(word);
    bus::sendHexBmsCmd(link_, state_.frameReceiving, frame);
}

void BusEngine::selectTab(int tab) {
    if (tab < static_cast<int>(Tab::Connection) || tab > static_cast<int>(Tab::Metrics)) {
        return;
    }
    if (state_.recording || state_.recordingBattDataMonitor) {
        return;
    }
    // A newer tab change replaces whatever the previous one still had to do.
    modeSwitchTimer_.stop();
    pendingModeStep_ = nullptr;

    const auto selected = static_cast<Tab>(tab);
    state_.selectedTab = selected;
    state_.bInBootloaderMode = false;
    state_.bBatteryMode = false;
    state_.bSniffer = false;

    switch (selected) {
    case Tab::Calibration:
        state_.balancersInfo = false;
        timerBMS_.stop();
        afterSettle([this] {
            state_.bTestMode = true;
            sendTestMode(bus::identity::kWordEnterTest);
            timerBMS_.start(kCalibrationPollPeriodMs);
            emit testModeRequested();
        });
        break;
    case Tab::BmsTester:
        timerBMS_.stop();
        state_.bTestMode = false;
        state_.bBatteryMode = true;
        break;
    case Tab::Sniffer:
        timerBMS_.stop();
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
        emit snifferInfoCleared();
        timerBMS_.stop();
        afterSettle([this] {
            state_.bTestMode = false;
            sendTestMode(bus::identity::kWordLeaveTest);
            timerBMS_.start(kPollPeriodMs);
        });
        break;
    }
}

void BusEngine::setRecording(bool dataMonitor, bool active) {
    (dataMonitor ? state_.recordingBattDataMonitor : state_.recording) = active;
}

void BusEngine::shutdown() {
    modeSwitchTimer_.stop();
    pendingModeStep_ = nullptr;
    portSettleTimer_.stop();
    timerBMS_.stop();
    link_.close();
}

void BusEngine::setSetpointCorrection(int correction) { tester_.setSetpointCorrection(correction); }

void BusEngine::setSystemVoltage(int volts) { tester_.setSystemVoltage(volts); }

void BusEngine::timerBMS_Tick() {
    tester_.tick();
    emit pollTicked();
}

} // namespace zanst::app
