#pragma once
// The serial port behind the protocol core's BusPort. Lives on the bus engine's thread.

#include "bus/port.hpp"

#include <QObject>
#include <QSerialPort>
#include <QString>

namespace zanst::app {

class SerialLink : public QObject, public bus::BusPort {
    Q_OBJECT
public:
    static constexpr qint32 kBaudRate = 250000;

    explicit SerialLink(QObject* parent = nullptr);

    // Opens `name` (a system port name or a device path) at 250000 baud, 8N1, no flow control,
    // DTR and RTS asserted where the device supports them. Returns false with a reason on failure.
    bool open(const QString& name, QString* reason = nullptr);
    void close();

    bool isOpen() const override;
    bool write(std::span<const std::uint8_t> bytes) override;

    // Everything waiting on the port.
    QByteArray readAvailable();

    // The name the port was opened under, exactly as it was given.
    QString name() const { return name_; }

signals:
    void readyRead();
    // The open port failed (read, write or resource error, e.g. the adapter was unplugged).
    // Emitted once; the port is closed right after, on the next turn of the event loop.
    void connectionLost(const QString& name, const QString& reason);

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    QString name_;
    bool lost_ = false;
    quint64 generation_ = 0; // bumped on every open, so a late close never hits a newer port
};

} // namespace zanst::app
