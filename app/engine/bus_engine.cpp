#include "engine/bus_engine.hpp"

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "bus/senders.hpp"

#include <span>

namespace zanst::app {

using bus::Tab;

BusEngine::BusEngine(QObject* parent) : QObject(parent), modeSwitchTimer_(this), portSettleTimer_(this) {
    modeSwitchTimer_.setSingleShot(true);
    modeSwitchTimer_.setInterval(kSettleMs);
    portSettleTimer_.setSingleShot(true);
    portSettleTimer_.setInterval(kSettleMs);
    router_.setEmulator(emulator_.listener());
    router_.setSniffer(sniffer_.listener());

    connect(&serial_, &ByteSource::readyRead, this, &BusEngine::onReadyRead);
    connect(&serial_, &ByteSource::connectionLost, this, &BusEngine::onConnectionLost);
    connect(&modeSwitchTimer_, &QTimer::timeout, this, [this] {
        auto step = std::move(pendingModeStep_);
        pendingModeStep_ = nullptr;
        if (step) {
            step();
        }
    });
    connect(&portSettleTimer_, &QTimer::timeout, this, [this] {
        if (serial_.isOpen()) {
            emit portStatusChanged(PortStatus::Open, serial_.name(), {});
        }
    });
}

void BusEngine::selectPort(const QString& name) {
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
    portSettleTimer_.stop();
    serial_.close();
    emit portStatusChanged(PortStatus::Idle, {}, {});
}

void BusEngine::onConnectionLost(const QString& name, const QString& reason) {
    portSettleTimer_.stop();
    emit portStatusChanged(PortStatus::Lost, name, reason);
}

void BusEngine::onReadyRead() {
    const QByteArray data = serial_.readAvailable();
    router_.route(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())));
}

void BusEngine::afterSettle(std::function<void()> step) {
    pendingModeStep_ = std::move(step);
    modeSwitchTimer_.start();
}

void BusEngine::sendTestMode(std::string_view word) {
    const bus::Bytes frame = bus::buildTestModeFrame(word);
    bus::sendHexBmsCmd(serial_, state_.frameReceiving, frame);
}

void BusEngine::selectTab(Tab selected) {
    if (selected < Tab::Connection || selected > Tab::Metrics || tabChangesVetoed_) {
        return;
    }
    // A newer tab change replaces whatever the previous one still had to do.
    modeSwitchTimer_.stop();
    pendingModeStep_ = nullptr;

    state_.selectedTab = selected;
    state_.bInBootloaderMode = false;
    state_.bBatteryMode = false;
    state_.bSniffer = false;

    switch (selected) {
    case Tab::Calibration:
        state_.balancersInfo = false;
        tester_.stopPolling();
        afterSettle([this] {
            state_.bTestMode = true;
            sendTestMode(bus::identity::kWordEnterTest);
            tester_.startPolling(TesterFeature::kCalibrationPollPeriodMs);
        });
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
        afterSettle([this] {
            state_.bTestMode = false;
            sendTestMode(bus::identity::kWordLeaveTest);
            tester_.startPolling(TesterFeature::kPollPeriodMs);
        });
        break;
    }
}

void BusEngine::shutdown() {
    modeSwitchTimer_.stop();
    pendingModeStep_ = nullptr;
    portSettleTimer_.stop();
    tester_.stopPolling();
    serial_.close();
}

} // namespace zanst::app
