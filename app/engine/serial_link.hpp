#pragma once
// The serial port as the engine's byte source. Lives on the bus engine's thread.

#include "engine/byte_source.hpp"

#include <QSerialPort>

namespace zanst::app {

class SerialLink : public ByteSource {
    Q_OBJECT
  public:
    static constexpr qint32 kBaudRate = 250000;

    explicit SerialLink(QObject* parent = nullptr);

    // Opens `name` (a system port name or a device path) at 250000 baud, 8N1, no flow control,
    // DTR and RTS asserted where the device supports them. Returns false with a reason on failure.
    bool open(const QString& name, QString* reason = nullptr);
    void close() override;

    bool isOpen() const override;
    bool write(std::span<const std::uint8_t> bytes) override;
    QByteArray readAvailable() override;
    QString name() const override { return name_; }

  private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    QString name_;
    bool lost_ = false;
    quint64 generation_ = 0; // bumped on every open, so a late close never hits a newer port
};

} // namespace zanst::app
