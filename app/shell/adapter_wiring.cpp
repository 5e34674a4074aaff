#include "adapter/identity.hpp"
#include "adapter/presence.hpp"
#include "engine/bus_engine.hpp"
#include "shell/mode_pages.hpp"
#include "shell/port_list.hpp"
#include "shell/wiring.hpp"
#include "tabs/adapter_panel.hpp"
#include "tabs/connection_tab.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/tab_page.hpp"

#include <QDateTime>
#include <QFileInfo>
#include <QLabel>

#include <sys/stat.h>

#include <memory>
#include <optional>

namespace zanst::app {

namespace {

constexpr char kRed[] = "QLabel { color: red; }";

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

adapter::PortEntry entryOf(const QString& name) {
    const std::string path = name.toStdString();
    return {path, adapter::identify(portDevicePath(name).toStdString(), adapter::sysfsRoot())};
}

QString clock(const QDateTime& at) {
    return at.toString(QStringLiteral("HH:mm:ss"));
}

// The device behind a path, by number: another device under the same name came in its place.
std::optional<dev_t> deviceNumber(const QString& path) {
    struct stat st {};
    if (::stat(portDevicePath(path).toLocal8Bit().constData(), &st) != 0) {
        return std::nullopt;
    }
    return st.st_rdev;
}

// What the wiring remembers between the engine's reports, on the window's thread.
struct AdapterWatch {
    const ModePages* pages = nullptr;
    ConnectionTab* connection = nullptr;
    AdapterPanel* panel = nullptr;
    QLabel* field = nullptr;
    std::function<void()> refreshPorts;

    bus::Mode mode = bus::Mode::Connection;
    std::optional<adapter::PortEntry> open; // the port as it opened
    std::optional<dev_t> openDevice;
    std::optional<adapter::PortEntry> lost; // the open port that was lost, until it is back
    QDateTime lostAt;
    std::optional<dev_t> lostDevice; // its device number when it was lost (it may still be there)
    bool goneSince = false;          // a look since the loss found it gone
    std::optional<adapter::PortEntry> reconnectTo;
    QString offeredPath;                        // the entry the "Reconnect" button opens
    std::optional<QDateTime> reconnectingSince; // a reconnection at once, under way since the loss
    QString ringWarning;                        // what the open adapter's report warns of
    QString connectionWarning;                  // the ring open while the adapter was away

    void warnPages() const {
        QString warning = ringWarning;
        if (!connectionWarning.isEmpty()) {
            warning += (warning.isEmpty() ? QString() : QStringLiteral(" ")) + connectionWarning;
        }
        for (TabPage* page : pages->pages()) {
            page->setAdapterWarning(warning);
        }
    }

    void showField(const QString& content, const QString& tip, bool alarm) const {
        field->setText(content);
        field->setAccessibleDescription(content);
        field->setToolTip(tip);
        field->setStyleSheet(alarm ? QString::fromLatin1(kRed) : QString());
        field->setVisible(!content.isEmpty());
    }

    void report(const adapter::PortReport& r) {
        panel->showReport(r);
        QStringList tip;
        for (const auto* lines : {&r.identity, &r.line, &r.warnings, &r.advice}) {
            for (const std::string& l : *lines) {
                tip << text(l);
            }
        }
        if (!r.error.empty()) {
            tip << text(r.error);
        }
        if (!r.echo.empty()) {
            tip << text(r.echo);
        }
        const bool alarm = !r.opened || !r.ringWarning.empty();
        showField((r.opened ? QStringLiteral("Adapter: ") : QString()) + text(r.statusText),
                  tip.join(QLatin1Char('\n')), alarm);
        ringWarning = r.opened ? text(r.ringWarning) : QString();
        warnPages();
    }

    // The user chose a port or disconnected: what was lost is no longer waited for.
    void forgetLoss() {
        lost.reset();
        reconnectingSince.reset();
        panel->withdrawOffer();
        panel->showNote({});
        connectionWarning.clear();
        warnPages();
    }

    void status(PortStatus s, const QString& name, const QString& detail) {
        switch (s) {
        case PortStatus::Opening:
            panel->withdrawOffer();
            break;
        case PortStatus::Open:
            open = entryOf(name);
            openDevice = deviceNumber(name);
            lost.reset();
            if (reconnectingSince) {
                const qint64 away = reconnectingSince->secsTo(QDateTime::currentDateTime());
                const QString said =
                    QStringLiteral("The adapter %1 was away for %2 s from %3, and the ring was "
                                   "open meanwhile; the tool reconnected it at once.")
                        .arg(name)
                        .arg(away)
                        .arg(clock(*reconnectingSince));
                panel->showNote(said);
                connectionWarning = said;
                reconnectingSince.reset();
                warnPages();
            }
            break;
        case PortStatus::Failed:
            if (reconnectingSince && reconnectTo) {
                // Not at once after all (its permissions may still be on their way): one click then.
                lost = reconnectTo;
                lostAt = *reconnectingSince;
                goneSince = true;
                reconnectingSince.reset();
                offer(name);
            }
            break;
        case PortStatus::Idle:
            open.reset();
            panel->showIdle();
            showField({}, {}, false);
            ringWarning.clear();
            forgetLoss();
            break;
        case PortStatus::Lost:
            lost = open && QString::fromStdString(open->path) == name ? *open : entryOf(name);
            lostAt = QDateTime::currentDateTime();
            lostDevice = openDevice;
            goneSince = false;
            open.reset();
            ringWarning.clear();
            panel->showNote(
                QStringLiteral(
                    "Connection lost at %1: %2 (%3). When the same adapter is back it is offered here%4")
                    .arg(clock(lostAt), name, detail,
                         mode == bus::Mode::Sniffer
                             ? QStringLiteral("; on \"Data Sniffer\" the tool reconnects it at once.")
                             : QStringLiteral(".")));
            showField(QStringLiteral("Adapter lost"), detail, true);
            connectionWarning =
                mode == bus::Mode::Sniffer
                    ? QStringLiteral("The adapter %1 is gone: the ring is open until it is back.").arg(name)
                    : QString();
            warnPages();
            break;
        }
    }

    void offer(const QString& path) {
        offeredPath = path;
        const QString was = QString::fromStdString(lost->path);
        panel->offerReconnect((path == was
                                   ? QStringLiteral("The adapter %1 is back.").arg(path)
                                   : QStringLiteral("The adapter lost as %1 is back as %2.").arg(was, path)) +
                              QStringLiteral(" Reconnect to it?"));
        showField(QStringLiteral("Adapter back: reconnect on \"Connection\""), panel->offer->text(), true);
    }

    // After every look at the ports: is the lost adapter back? It counts as back once it was gone
    // (or another device took its name): a port that failed but never went is not offered, so that
    // a failing adapter is not reopened over and over.
    void looked(const QStringList& ports) {
        if (!lost) {
            return;
        }
        std::vector<adapter::PortEntry> present;
        for (const QString& entry : ports) {
            if (QFileInfo::exists(portDevicePath(entry))) {
                present.push_back(entryOf(entry));
            }
        }
        const std::optional<adapter::PortEntry> back = adapter::findReturned(*lost, present);
        const QString path = back ? QString::fromStdString(back->path) : QString();
        if (!back || (!goneSince && deviceNumber(path) == lostDevice)) {
            goneSince = goneSince || !back;
            if (panel->offering()) {
                panel->withdrawOffer(); // gone again
                showField(QStringLiteral("Adapter lost"), {}, true);
            }
            return;
        }
        if (mode != bus::Mode::Sniffer) {
            if (!panel->offering() || offeredPath != path) {
                offer(path); // never silently in a mode where the tool sends
            }
            return;
        }
        // "Data Sniffer": the ring is broken while the tool is away; mend it now.
        const QDateTime since = lostAt;
        const adapter::PortEntry was = *lost;
        refreshPorts();
        if (connection->choosePort(path)) { // forgets the loss, as any choice does
            reconnectingSince = since;
            reconnectTo = was;
        }
    }
};

} // namespace

void connectAdapter(BusEngine& engine, const ModePages& pages, BusStatusBar& statusBar,
                    const std::function<void()>& refreshPorts) {
    auto* connection = pages.get<ConnectionTab>(bus::Mode::Connection);
    auto* panel = new AdapterPanel;
    connection->addSection(panel);
    auto watch = std::make_shared<AdapterWatch>();
    watch->pages = &pages;
    watch->connection = connection;
    watch->panel = panel;
    watch->field = statusBar.addField(QStringLiteral("Adapter"));
    watch->field->hide();
    watch->refreshPorts = refreshPorts;

    PortControl* ports = engine.ports();
    QObject::connect(ports, &PortControl::adapterReported, panel,
                     [watch](const adapter::PortReport& r) { watch->report(r); });
    QObject::connect(ports, &PortControl::portStatusChanged, panel,
                     [watch](PortStatus s, const QString& name, const QString& detail) {
                         watch->status(s, name, detail);
                     });
    QObject::connect(engine.modes(), &ModeSwitch::modeSelected, panel, [watch](bus::Mode mode) {
        watch->mode = mode;
        if (mode != bus::Mode::Sniffer && watch->lost) {
            watch->connectionWarning.clear(); // only the ring waits for the tool
            watch->warnPages();
        }
    });
    QObject::connect(connection, &ConnectionTab::portChosen, panel, [watch] { watch->forgetLoss(); });
    QObject::connect(connection, &ConnectionTab::disconnectRequested, panel,
                     [watch] { watch->forgetLoss(); });
    QObject::connect(panel, &AdapterPanel::reconnectRequested, panel, [watch] {
        watch->refreshPorts();
        const QString path = watch->offeredPath;
        if (!watch->connection->choosePort(path)) {
            watch->panel->withdrawOffer();
            watch->panel->showNote(QStringLiteral("%1 is no longer in the port list.").arg(path));
        }
    });

    // The list follows adapters plugged in and pulled out while the window is shown.
    auto* watcher = new PortWatcher(currentPortList, panel);
    QObject::connect(watcher, &PortWatcher::portsChanged, panel, [watch] { watch->refreshPorts(); });
    QObject::connect(watcher, &PortWatcher::looked, panel,
                     [watch](const QStringList& list) { watch->looked(list); });
    // A loss is looked into at once: the adapter may already be back under its name.
    QObject::connect(ports, &PortControl::portStatusChanged, watcher, [watcher](PortStatus s) {
        if (s == PortStatus::Lost) {
            watcher->look();
        }
    });
}

} // namespace zanst::app
