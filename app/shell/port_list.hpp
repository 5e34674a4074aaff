#pragma once
// The entries of the port list: the system's ports, then the extra device paths; and a watcher
// that notices ports coming and going (an adapter plugged in or pulled out) while the window is
// shown, between the rebuilds on activation.

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

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

// The device path of a list entry: a bare system name ("ttyUSB0") is under /dev.
QString portDevicePath(const QString& entry);

class PortWatcher : public QObject {
    Q_OBJECT
  public:
    // After a change in a watched folder, the list is read this much later: an adapter's device
    // node and its links appear one after another.
    static constexpr int kSettleMs = 250;
    // At this pace the watcher checks, cheaply, what no folder reports: a folder of an extra path
    // made after the start, an extra path that came or went there. Reading the system's list costs
    // milliseconds, so it is read only when something changed.
    static constexpr int kSafetyLookMs = 2000;

    using Lister = std::function<QStringList()>;

    // Watches /dev, /dev/serial/by-id and the folders of the extra paths; `list` makes the entries.
    explicit PortWatcher(Lister list = currentPortList, QObject* parent = nullptr);

    const QStringList& ports() const { return ports_; }
    // Looks now, as the watcher does after a change.
    void look();

  signals:
    // After every look, changed or not: paths may have come back under the same entries.
    void looked(const QStringList& ports);
    // The entries are not the ones of the look before.
    void portsChanged(const QStringList& ports);

  private:
    void watchFolders();
    void safetyCheck();
    // Which of the extra paths exist, and which watched folders.
    QString presence() const;

    Lister list_;
    QStringList ports_;
    QFileSystemWatcher folders_;
    QTimer settle_;
    QTimer safety_;
    QString presence_;
};

} // namespace zanst::app
