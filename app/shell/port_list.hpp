#pragma once
// The entries of the port list: the system's ports, then the extra device paths.

#include <QString>
#include <QStringList>

namespace zanst::app {

// Environment variable with extra device paths (pseudo-terminals, network bridges), colon-separated.
inline constexpr char kExtraPortsVariable[] = "ZANST_EXTRA_PORTS";

// System names in the system's order, a name whose last character is not a digit without that
// character; then every non-empty path of `extraPorts`, unchanged.
QStringList listedPorts(const QStringList& systemNames, const QString& extraPorts);

// The system's serial port names as the serial-port layer reports them.
QStringList systemPortNames();

// listedPorts over the system's ports and ZANST_EXTRA_PORTS.
QStringList currentPortList();

} // namespace zanst::app
