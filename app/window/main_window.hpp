#pragma once
// The main window: the tab strip whose selected tab is the operating mode, the window title
// that reports the connection, and the bus engine it drives.

#include "bus/state.hpp"
#include "engine/bus_engine.hpp"
#include "engine/engine_host.hpp"
#include "window/globals.hpp"

#include <QString>
#include <QWidget>

class QTabWidget;

namespace zanst::app {

class BatteryTesterTab;
class BmsTesterTab;
class ConnectionTab;
class SnifferTab;

class diag_form : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 915;
    static constexpr int kClientHeight = 853;

    explicit diag_form(QWidget* parent = nullptr);
    ~diag_form() override;

    // "Zanthe Service Tool (ZANST) (<build date>)": the title without the connection suffix.
    const QString& textCaption() const { return textCaption_; }
    // The build date as "May 12 2026".
    static QString buildDate();

    BusEngine* engine() const { return host_.engine(); }
    const EngineHost& engineHost() const { return host_; }
    Globals& globals() { return globals_; }
    QTabWidget* tabs() const { return tabControl1; }
    ConnectionTab* connectionTab() const { return tabConnection; }
    BatteryTesterTab* batteryTesterTab() const { return tabBMS; }
    SnifferTab* snifferTab() const { return tabSniffer; }

    // The operating mode of a tab page.
    bus::Tab tabIdOf(const QWidget* page) const;

    // Port list refresh, as on every activation of the window.
    void refreshPortList();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void onShown();
    void hideRiskyTools();
    void onTabChanged(int index);
    void onPortChosen(const QString& name);
    void onDisconnect();
    void onPortStatus(BusEngine::PortStatus status, const QString& name, const QString& detail);
    void clearPortSelection();

    EngineHost host_;
    Globals globals_;
    QString textCaption_;
    bool lockPortSelection = false;
    bool shown_ = false;
    QWidget* currentPage_ = nullptr;

    QTabWidget* tabControl1 = nullptr;
    ConnectionTab* tabConnection = nullptr;
    QWidget* tabActions = nullptr;
    QWidget* tabCalibration = nullptr;
    BatteryTesterTab* tabBMS = nullptr;   // "Battery tester"
    BmsTesterTab* tabBattery = nullptr;   // "BMS tester"
    SnifferTab* tabSniffer = nullptr;
    QWidget* tabMetrics = nullptr;
};

} // namespace zanst::app
