#include "shell/port_list.hpp"

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

} // namespace zanst::app
