#include "engine/serial_link.hpp"

#include <QMetaObject>

namespace zanst::app {

SerialLink::SerialLink(QObject* parent) : ByteSource(parent), port_(this) {
    connect(&port_, &QSerialPort::readyRead, this, &SerialLink::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

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
    if (!port_.open(QIODevice::ReadWrite)) {
        if (reason != nullptr) {
            *reason = port_.errorString();
        }
        port_.clearError();
        return false;
    }
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

void SerialLink::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        break;
    default:
        return; // refused modem lines and the like leave the port usable
    }
    if (lost_ || !port_.isOpen()) {
        return;
    }
    lost_ = true;
    const QString reason = port_.errorString();
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

} // namespace zanst::app
