#pragma once
// The main window: the tab strip whose selected tab is the operating mode, the window title and
// status bar that report the connection and the bus, and the bus engine it drives. Its pages come
// from the mode table; each feature is wired to them in a file of its own.

#include "engine/engine_host.hpp"
#include "shell/mode_pages.hpp"
#include "shell/service_mode.hpp"
#include "shell/window_frame.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "ui/recording_lock.hpp"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QHBoxLayout;
class QPushButton;
class QTabWidget;

namespace zanst::app {

class BankFeed;
class BusStatusBar;
class PlotWindow;
class TabOverlay;
class TrafficWindow;

class diag_form : public QWidget, private WindowFrame {
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
    RecordingLock& recordingLock() override { return recordingLock_; }
    QTabWidget* tabs() const { return tabControl1; }
    const ModePages& pages() const { return pages_; }
    ConnectionTab* connectionTab() const { return pages_.get<ConnectionTab>(bus::Mode::Connection); }
    ActionsTab* actionsTab() const { return pages_.get<ActionsTab>(bus::Mode::Actions); }
    CalibrationTab* calibrationTab() const { return pages_.get<CalibrationTab>(bus::Mode::Calibration); }
    BatteryTesterTab* batteryTesterTab() const {
        return pages_.get<BatteryTesterTab>(bus::Mode::BatteryTester);
    }
    BmsTesterTab* bmsTesterTab() const { return pages_.get<BmsTesterTab>(bus::Mode::BmsTester); }
    SnifferTab* snifferTab() const { return pages_.get<SnifferTab>(bus::Mode::Sniffer); }
    MetricsTab* metricsTab() const { return pages_.get<MetricsTab>(bus::Mode::Metrics); }
    BusStatusBar* statusBar() const { return statusBar_; }
    // The traffic view with the capture and replay controls, a window of its own.
    TrafficWindow* trafficWindow() const { return traffic_; }
    // The live plots: a window of their own, opened from the button beside the tab strip.
    PlotWindow* plotWindow() const { return plots_; }
    QPushButton* plotsButton() const;

    // Port list refresh, as on every activation of the window.
    void refreshPortList();

    // "About Zanthe Service Tool", opened beside the window (not blocking it).
    void showAbout();

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // What the wiring may use of the window.
    QWidget* frameWidget() override { return this; }
    void showConnection(const QString& text) override;
    void clearPortChoice() override { clearPortSelection(); }
    bool selectMode(bus::Mode mode) override;
    void addViewOpener(QWidget* opener) override;

    // Ctrl+Q, Ctrl+1.. and Ctrl+(Shift+)Tab for the tabs, Ctrl+R for the record button of the tab shown.
    void installShortcuts();
    // What each tab does and its shortcut, as the strip shows them now.
    void describeTabs();
    void toggleRecordingOnCurrentTab();
    void onShown();
    void onTabChanged(int index);
    void onPortChosen(const QString& name);
    void onDisconnect();
    void onPortStatus(PortStatus status, const QString& name, const QString& detail);
    void onRecordingLock(bool locked);
    // What the status bar shows, and which pages show values too old to look live.
    void onHealth(const HealthReport& report);
    void clearPortSelection();

    EngineHost host_;
    RecordingLock recordingLock_;
    ServiceMode serviceMode_;
    QString textCaption_;
    bool lockPortSelection = false;
    bool shown_ = false;
    QTabWidget* tabControl1 = nullptr;
    ModePages pages_;
    TabPage* currentPage_ = nullptr;
    BankFeed* feed_ = nullptr;
    QHBoxLayout* openers_ = nullptr; // the strip's free corner
    TabOverlay* overlay_ = nullptr;
    BusStatusBar* statusBar_ = nullptr;
    TrafficWindow* traffic_ = nullptr;
    PlotWindow* plots_ = nullptr;
    QElapsedTimer clock_;
    // When each mode (by row of the mode table) last had a valid answer, in clock_ ms.
    std::vector<std::optional<qint64>> lastValidAtMs_;
};

} // namespace zanst::app
