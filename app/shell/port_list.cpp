#include "shell/port_list.hpp"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace zanst::app {

QStringList listedPorts(const QStringList& systemNames, const QString& extraPorts) {
    QStringList entries;
    for (const QString& name : systemNames) {
        // Some drivers report names with a stray trailing character.
        const bool endsInDigit =
            !name.isEmpty() && name.back() >= QLatin1Char('0') && name.back() <= QLatin1Char('9');
        if (!name.isEmpty() && !endsInDigit) {
            entries << name.chopped(1);
        } else {
            entries << name;
        }
    }
    for (const QString& path : extraPorts.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        entries << path;
    }
    return entries;
}

QStringList systemPortNames() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        names << info.portName();
    }
    return names;
}

QStringList currentPortList() {
    return listedPorts(systemPortNames(), qEnvironmentVariable(kExtraPortsVariable));
}

QString portDevicePath(const QString& entry) {
    return entry.contains(QLatin1Char('/')) ? entry : QStringLiteral("/dev/") + entry;
}

PortWatcher::PortWatcher(Lister list, QObject* parent)
    : QObject(parent), list_(std::move(list)), settle_(this), safety_(this) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &PortWatcher::look);
    safety_.setInterval(kSafetyLookMs);
    connect(&safety_, &QTimer::timeout, this, &PortWatcher::safetyCheck);
    const auto changed = [this] {
        if (!settle_.isActive()) {
            settle_.start();
        }
    };
    connect(&folders_, &QFileSystemWatcher::directoryChanged, this, changed);
    ports_ = list_();
    watchFolders();
    presence_ = presence();
    safety_.start();
}

QString PortWatcher::presence() const {
    QString seen;
    for (const QString& path :
         qEnvironmentVariable(kExtraPortsVariable).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        seen += QFileInfo::exists(path) ? QLatin1Char('1') : QLatin1Char('0');
    }
    return seen + QString::number(folders_.directories().size());
}

void PortWatcher::safetyCheck() {
    watchFolders();
    if (presence() != presence_) {
        look();
    }
}

void PortWatcher::watchFolders() {
    QStringList wanted{QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")};
    for (const QString& path :
         qEnvironmentVariable(kExtraPortsVariable).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        wanted << QFileInfo(path).absolutePath();
    }
    const QStringList watched = folders_.directories();
    for (const QString& dir : wanted) {
        if (!watched.contains(dir) && QFileInfo(dir).isDir()) {
            folders_.addPath(dir);
        }
    }
}

void PortWatcher::look() {
    watchFolders(); // a folder made since (by-id appears with the first USB adapter)
    presence_ = presence();
    QStringList now = list_();
    const bool changed = now != ports_;
    ports_ = std::move(now);
    emit looked(ports_);
    if (changed) {
        emit portsChanged(ports_);
    }
}

} // namespace zanst::app
