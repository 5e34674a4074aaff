#pragma once
// Where the engine's bytes come from and go to. The serial port is one source; anything that
// can stand in for it (a replayed capture) implements the same interface, so the router,
// receivers and features never know which one they talk to.

#include "bus/port.hpp"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>

namespace zanst::app {

class ByteSource : public QObject, public bus::BusPort {
    Q_OBJECT
  public:
    using QObject::QObject;

    // The name the source was opened under, exactly as it was given.
    virtual QString name() const = 0;
    // Everything received and not read yet.
    virtual QByteArray readAvailable() = 0;
    virtual void close() = 0;
    // The recorded time (us) of the bytes readAvailable() returned last; -1 for a live port.
    virtual std::int64_t readTimeUs() const { return -1; }

  signals:
    void readyRead();
    // The open source failed (read, write or resource error, e.g. the adapter was unplugged).
    // Emitted once; the source closes itself right after.
    void connectionLost(const QString& name, const QString& reason);
};

} // namespace zanst::app
