#pragma once
// The serial port as the engine's byte source. Lives on the bus engine's thread.
//
// On Linux the port is a plain descriptor (adapter::SerialDevice) that the engine reads when it
// becomes readable and writes at once, with nothing of a library's buffering between; an opened
// USB adapter is asked for low latency, and what the port is and what the driver set is reported.
// For "Data Sniffer" the link can hand the port to an echo thread (adapter::EchoPump) that writes
// every byte back the moment it arrives; the engine then gets the bytes, already echoed, through
// drainEchoed(). Elsewhere the port is a QSerialPort, and the router echoes.

#include "adapter/port_report.hpp"
#include "engine/byte_source.hpp"

#include <QMetaType>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#if defined(Q_OS_LINUX)
#include "adapter/echo_pump.hpp"
#include "adapter/serial_device.hpp"
class QSocketNotifier;
#else
#include <QSerialPort>
#endif

namespace zanst::app {

class SerialLink : public ByteSource {
    Q_OBJECT
  public:
    static constexpr qint32 kBaudRate = 250000;
    // Bytes already echoed, with the steady-clock time (ns) of their read and the count the echo
    // thread could not hand on before them.
    using EchoedBytes = std::function<void(std::span<const std::uint8_t>, std::int64_t, std::uint32_t)>;

    explicit SerialLink(QObject* parent = nullptr);
    ~SerialLink() override;

    // Opens `name` (a system port name or a device path) at 250000 baud, 8N1, no flow control,
    // DTR and RTS asserted where the device supports them. Returns false with a reason on failure.
    // Reports what it found either way (reported()).
    bool open(const QString& name, QString* reason = nullptr);
    void close() override;

    bool isOpen() const override;
    bool write(std::span<const std::uint8_t> bytes) override;
    QByteArray readAvailable() override;
    QString name() const override { return name_; }

    // The echo thread: started while the port is open, true when it runs. While it runs,
    // readyRead() stays quiet and echoedReady() says when drainEchoed() has bytes.
    bool startEcho();
    // Stops the echo thread and hands on what it had read meanwhile; reading goes back to the engine.
    void stopEcho(const EchoedBytes& take);
    bool echoing() const;
    // Hands on every byte the echo thread has read; a failed port is lost afterwards.
    void drainEchoed(const EchoedBytes& take);

    const adapter::PortReport& report() const { return report_; }

  signals:
    void echoedReady();
    // What the port is and what the driver set, after every opening (or failed one), and again
    // when the echo thread starts or stops.
    void reported(const zanst::adapter::PortReport& report);

  private:
    void lose(const QString& reason);

    QString name_;
    bool lost_ = false;
    quint64 generation_ = 0; // bumped on every open, so a late close never hits a newer port
    adapter::PortReport report_;
#if defined(Q_OS_LINUX)
    adapter::SerialDevice device_;
    QSocketNotifier* readable_ = nullptr;
    std::unique_ptr<adapter::EchoPump> pump_;
    QSocketNotifier* pumpWake_ = nullptr;
#else
    void onError(QSerialPort::SerialPortError error);
    QSerialPort port_;
#endif
};

} // namespace zanst::app

Q_DECLARE_METATYPE(zanst::adapter::PortReport)
