#include "engine/serial_link.hpp"

#include <QMetaObject>

#if defined(Q_OS_LINUX)
#include "adapter/identity.hpp"
#include "adapter/low_latency.hpp"

#include <QSocketNotifier>
#endif

namespace zanst::app {

#if defined(Q_OS_LINUX)

namespace {

// The system's port names are bare ("ttyUSB0"), as the port list shows them.
std::string devicePathOf(const QString& name) {
    return name.contains(QLatin1Char('/')) ? name.toStdString() : "/dev/" + name.toStdString();
}

void dropNotifier(QSocketNotifier*& notifier) {
    if (notifier != nullptr) {
        notifier->setEnabled(false);
        notifier->deleteLater(); // it may be the one whose signal runs now
        notifier = nullptr;
    }
}

} // namespace

SerialLink::SerialLink(QObject* parent) : ByteSource(parent) {
    qRegisterMetaType<adapter::PortReport>();
}

SerialLink::~SerialLink() {
    close();
}

bool SerialLink::open(const QString& name, QString* reason) {
    close();
    name_ = name;
    lost_ = false;
    ++generation_;
    const std::string path = devicePathOf(name);
    const adapter::OpenOutcome outcome = device_.open(path);
    const adapter::AdapterIdentity id = adapter::identify(path, adapter::sysfsRoot());
    std::optional<adapter::LowLatencyResult> latency;
    if (outcome.ok() && id.kind == adapter::PortKind::UsbAdapter) {
        latency = adapter::requestLowLatency(device_.fd(), id);
    }
    report_ = adapter::makePortReport(name.toStdString(), id, outcome, latency);
    emit reported(report_);
    if (!outcome.ok()) {
        if (reason != nullptr) {
            *reason = QString::fromStdString(outcome.text);
        }
        return false;
    }
    readable_ = new QSocketNotifier(device_.fd(), QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &SerialLink::readyRead);
    return true;
}

void SerialLink::close() {
    if (pump_) {
        pump_->stop(); // what it still held goes with the port
        pump_.reset();
    }
    dropNotifier(pumpWake_);
    dropNotifier(readable_);
    device_.close();
}

bool SerialLink::isOpen() const {
    return device_.isOpen() && !lost_;
}

bool SerialLink::write(std::span<const std::uint8_t> bytes) {
    if (!isOpen()) {
        return false;
    }
    if (!device_.write(bytes)) {
        lose(QString::fromStdString(device_.lastError()));
        return false;
    }
    return true;
}

QByteArray SerialLink::readAvailable() {
    QByteArray out;
    if (!isOpen() || pump_) {
        return out;
    }
    std::uint8_t buffer[4096];
    while (true) {
        const std::ptrdiff_t n = device_.read(buffer);
        if (n > 0) {
            out.append(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(n));
            if (static_cast<std::size_t>(n) == sizeof buffer) {
                continue; // there may be more
            }
        } else if (n < 0) {
            lose(QString::fromStdString(device_.lastError()));
        }
        return out;
    }
}

bool SerialLink::echoing() const {
    return pump_ != nullptr;
}

bool SerialLink::startEcho() {
    if (!isOpen()) {
        return false;
    }
    if (pump_) {
        return true;
    }
    auto pump = std::make_unique<adapter::EchoPump>(device_.fd());
    std::string error;
    if (!pump->start(&error)) {
        report_.echo = "The echo thread could not start (" + error + "); the engine echoes every byte itself";
        emit reported(report_);
        return false;
    }
    // The engine reads no more: it returns to its loop only after this, so nothing is read twice.
    readable_->setEnabled(false);
    pump_ = std::move(pump);
    pumpWake_ = new QSocketNotifier(pump_->wakeFd(), QSocketNotifier::Read, this);
    connect(pumpWake_, &QSocketNotifier::activated, this, &SerialLink::echoedReady);
    report_.echo = "Echo: " + pump_->priorityText();
    emit reported(report_);
    return true;
}

void SerialLink::stopEcho(const EchoedBytes& take) {
    if (!pump_) {
        return;
    }
    pump_->stop();
    const std::string failure = pump_->failure();
    pump_->drain(take);
    pump_.reset();
    dropNotifier(pumpWake_);
    report_.echo.clear();
    emit reported(report_);
    if (!failure.empty()) {
        lose(QString::fromStdString(failure));
    } else if (readable_ != nullptr && isOpen()) {
        readable_->setEnabled(true);
    }
}

void SerialLink::drainEchoed(const EchoedBytes& take) {
    if (!pump_) {
        return;
    }
    pump_->drain(take);
    if (const std::string failure = pump_->failure(); !failure.empty()) {
        pump_->drain(take); // what it read before it ended
        lose(QString::fromStdString(failure));
    }
}

void SerialLink::lose(const QString& reason) {
    if (lost_ || !device_.isOpen()) {
        return;
    }
    lost_ = true;
    for (QSocketNotifier* n : {readable_, pumpWake_}) {
        if (n != nullptr) {
            n->setEnabled(false);
        }
    }
    // Closed on the next turn of the loop, away from the signal that found the loss.
    QMetaObject::invokeMethod(
        this,
        [this, generation = generation_] {
            if (generation == generation_ && lost_) {
                close();
            }
        },
        Qt::QueuedConnection);
    emit connectionLost(name_, reason);
}

#else // not Linux: the serial-port library, and the router echoes

SerialLink::SerialLink(QObject* parent) : ByteSource(parent), port_(this) {
    qRegisterMetaType<adapter::PortReport>();
    connect(&port_, &QSerialPort::readyRead, this, &SerialLink::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

SerialLink::~SerialLink() = default;

bool SerialLink::open(const QString& name, QString* reason) {
    close();
    name_ = name;
    lost_ = false;
    ++generation_;
    port_.setPortName(name);
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    report_ = adapter::PortReport{};
    report_.path = name.toStdString();
    if (!port_.open(QIODevice::ReadWrite)) {
        report_.error = port_.errorString().toStdString();
        emit reported(report_);
        if (reason != nullptr) {
            *reason = port_.errorString();
        }
        port_.clearError();
        return false;
    }
    report_.opened = true;
    emit reported(report_);
    // A pseudo-terminal refuses the modem lines; the port is usable all the same.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(true);
    port_.clearError();
    return true;
}

void SerialLink::close() {
    if (port_.isOpen()) {
        port_.close();
    }
    port_.clearError();
}

bool SerialLink::isOpen() const {
    return port_.isOpen() && !lost_;
}

bool SerialLink::write(std::span<const std::uint8_t> bytes) {
    if (!isOpen()) {
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size) {
        onError(QSerialPort::WriteError);
        return false;
    }
    port_.flush();
    return isOpen();
}

QByteArray SerialLink::readAvailable() {
    if (!isOpen()) {
        return {};
    }
    return port_.readAll();
}

bool SerialLink::startEcho() {
    return false;
}

void SerialLink::stopEcho(const EchoedBytes&) {}

bool SerialLink::echoing() const {
    return false;
}

void SerialLink::drainEchoed(const EchoedBytes&) {}

void SerialLink::lose(const QString& reason) {
    if (lost_ || !port_.isOpen()) {
        return;
    }
    lost_ = true;
    // Closing from inside the port's own signal is unsafe; close on the next turn of the loop.
    QMetaObject::invokeMethod(
        this,
        [this, generation = generation_] {
            if (generation == generation_ && lost_) {
                close();
            }
        },
        Qt::QueuedConnection);
    emit connectionLost(name_, reason);
}

void SerialLink::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        lose(port_.errorString());
        break;
    default:
        break; // refused modem lines and the like leave the port usable
    }
}

#endif

} // namespace zanst::app
