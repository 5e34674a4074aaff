#pragma once
// The main window: the tab strip whose selected tab is the operating mode, the window title that
// reports the connection, and the bus engine it drives. It wires the tabs to the engine's
// features; the tabs themselves know nothing of the engine.

#include "bus/state.hpp"
#include "engine/bus_engine.hpp"
#include "engine/engine_host.hpp"
#include "shell/service_mode.hpp"
#include "ui/recording_lock.hpp"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>

class QPushButton;
class QTabWidget;

namespace zanst::app {

class ActionsTab;
class BatteryTesterTab;
class BmsTesterTab;
class CalibrationTab;
class ConnectionTab;
class MetricsTab;
class PlotWindow;
class BusStatusBar;
class SnifferTab;
class TabOverlay;
class TrafficWindow;

class diag_form : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 915;
    static constexpr int kClientHeight = 853;

    explicit diag_form(ServiceMode serviceMode = ServiceMode::Off, QWidget* parent = nullptr);
    ~diag_form() override;

    // "Zanthe Service Tool (ZANST) (<build date>)": the title without the connection suffix.
    const QString& textCaption() const { return textCaption_; }
    // The build date as "May 12 2026".
    static QString buildDate();

    BusEngine* engine() const { return host_.engine(); }
    const EngineHost& engineHost() const { return host_; }
    RecordingLock& recordingLock() { return recordingLock_; }
    QTabWidget* tabs() const { return tabControl1; }
    ConnectionTab* connectionTab() const { return tabConnection; }
    ActionsTab* actionsTab() const { return tabActions; }
    CalibrationTab* calibrationTab() const { return tabCalibration; }
    BatteryTesterTab* batteryTesterTab() const { return tabBMS; }
    BmsTesterTab* bmsTesterTab() const { return tabBattery; }
    SnifferTab* snifferTab() const { return tabSniffer; }
    MetricsTab* metricsTab() const { return tabMetrics; }
    BusStatusBar* statusBar() const { return statusBar_; }
    // The traffic view with the capture and replay controls, a window of its own.
    TrafficWindow* trafficWindow() const { return traffic_; }
    // Empties the port list's choice (a replay or a lost port took its place).
    void clearPortChoice() { clearPortSelection(); }
    // The live plots: a window of their own, opened from the button beside the tab strip.
    PlotWindow* plotWindow() const { return plots_; }
    QPushButton* plotsButton() const { return plotsButton_; }

    // The operating mode of a tab page.
    bus::Tab tabIdOf(const QWidget* page) const;

    // Port list refresh, as on every activation of the window.
    void refreshPortList();

    // "About Zanthe Service Tool", opened beside the window (not blocking it).
    void showAbout();

  protected:
    bool event(QEvent* event) override;
    // While a recording runs the strip refuses a change before it happens.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void connectEngine();
    // Ctrl+Q, Ctrl+1.. and Ctrl+(Shift+)Tab for the tabs, Ctrl+R for the record button of the tab shown.
    void installShortcuts();
    // What each tab does and its shortcut, as the strip shows them now.
    void describeTabs();
    void toggleRecordingOnCurrentTab();
    void onShown();
    void onTabChanged(int index);
    void onPortChosen(const QString& name);
    void onDisconnect();
    void onPortStatus(BusEngine::PortStatus status, const QString& name, const QString& detail);
    void onRecordingLock(bool locked);
    // What the status bar shows, and which tabs show values too old to look live.
    void onHealth(const HealthReport& report);
    void clearPortSelection();

    EngineHost host_;
    RecordingLock recordingLock_;
    ServiceMode serviceMode_;
    QString textCaption_;
    bool lockPortSelection = false;
    bool shown_ = false;
    QWidget* currentPage_ = nullptr;
    TabOverlay* overlay_ = nullptr;
    BusStatusBar* statusBar_ = nullptr;
    TrafficWindow* traffic_ = nullptr;
    PlotWindow* plots_ = nullptr;
    QPushButton* plotsButton_ = nullptr;
    QElapsedTimer clock_;
    // When each mode last had a valid answer (clock_ ms; before the window existed it is negative).
    std::array<std::optional<qint64>, 7> lastValidAtMs_{};

    QTabWidget* tabControl1 = nullptr;
    ConnectionTab* tabConnection = nullptr;
    ActionsTab* tabActions = nullptr;
    CalibrationTab* tabCalibration = nullptr;
    BatteryTesterTab* tabBMS = nullptr; // "Battery tester"
    BmsTesterTab* tabBattery = nullptr; // "BMS tester"
    SnifferTab* tabSniffer = nullptr;
    MetricsTab* tabMetrics = nullptr;
};

} // namespace zanst::app
