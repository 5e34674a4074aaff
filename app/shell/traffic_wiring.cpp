#include "shell/traffic_wiring.hpp"

#include "engine/post.hpp"
#include "shell/main_window.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/traffic_window.hpp"

#include <QBoxLayout>
#include <QLabel>
#include <QTabWidget>

namespace zanst::app {

namespace {

QWidget* pageOf(const diag_form& window, bus::Tab mode) {
    switch (mode) {
    case bus::Tab::Connection:
        return window.connectionTab();
    case bus::Tab::Actions:
        return window.actionsTab();
    case bus::Tab::Calibration:
        return window.calibrationTab();
    case bus::Tab::BatteryTester:
        return window.batteryTesterTab();
    case bus::Tab::BmsTester:
        return window.bmsTesterTab();
    case bus::Tab::Sniffer:
        return window.snifferTab();
    case bus::Tab::Metrics:
        return window.metricsTab();
    }
    return nullptr;
}

void setReplayTitle(diag_form& window, const QString& text) {
    window.setWindowTitle(window.textCaption() + QStringLiteral(" - ") + text);
    window.statusBar()->setPortText(text);
}

} // namespace

TrafficWindow* connectTraffic(diag_form& window) {
    BusEngine* engine = window.engine();
    CaptureFeature* capture = engine->capture();
    auto* view = new TrafficWindow(&window);

    // A link in the free corner of the tab strip: lower than a tab, so the strip keeps its height
    // and the pages their size; the status bar has no room left.
    auto* link = new QLabel(QStringLiteral("<a href=\"traffic\">Traffic...</a>"));
    link->setObjectName(QStringLiteral("trafficLink"));
    link->setAccessibleName(QStringLiteral("Traffic view"));
    link->setContentsMargins(0, 0, 6, 0);
    // First in the corner the window keeps for the views' openers.
    QWidget* corner = window.tabs()->cornerWidget(Qt::TopRightCorner);
    if (auto* row = corner != nullptr ? qobject_cast<QBoxLayout*>(corner->layout()) : nullptr) {
        row->insertWidget(0, link);
    } else {
        window.tabs()->setCornerWidget(link, Qt::TopRightCorner);
    }
    QObject::connect(link, &QLabel::linkActivated, view, [view] {
        view->show();
        view->raise();
        view->activateWindow();
    });

    QObject::connect(view, &TrafficWindow::viewingChanged, engine, [engine](bool viewing) {
        post(engine->capture(), [viewing](CaptureFeature& c) { c.setViewing(viewing); });
    });
    QObject::connect(capture, &CaptureFeature::trafficBatch, view, &TrafficWindow::appendBatch);
    QObject::connect(capture, &CaptureFeature::captureStateChanged, view, &TrafficWindow::showCaptureState);
    QObject::connect(view, &TrafficWindow::captureRequested, engine, [engine](const QString& path) {
        post(engine, [path](BusEngine& e) { e.startCapture(path); });
    });
    QObject::connect(view, &TrafficWindow::captureStopRequested, engine,
                     [engine] { post(engine, [](BusEngine& e) { e.stopCapture(); }); });
    QObject::connect(view, &TrafficWindow::replayRequested, engine,
                     [engine](const QString& path, double speed) {
                         post(engine, [path, speed](BusEngine& e) { e.openReplay(path, speed); });
                     });
    QObject::connect(view, &TrafficWindow::replayStopRequested, engine,
                     [engine] { post(engine, [](BusEngine& e) { e.stopReplay(); }); });

    QObject::connect(engine, &BusEngine::replayStarted, &window,
                     [&window, view](const QString& name, const QString& error) {
                         window.clearPortChoice();
                         setReplayTitle(window, QStringLiteral("Replay of ") + name);
                         view->showReplayStarted(name, error);
                     });
    QObject::connect(
        engine, &BusEngine::replayFinished, &window, [&window, view](const QString& name, int records) {
            setReplayTitle(window,
                           QStringLiteral("Replay of ") + name +
                               (records < 0 ? QStringLiteral(" stopped") : QStringLiteral(" finished")));
            view->showReplayFinished(name, records);
        });
    QObject::connect(engine, &BusEngine::replayFailed, &window,
                     [&window, view](const QString& path, const QString& error) {
                         setReplayTitle(window, QStringLiteral("Cannot replay ") + path);
                         view->showReplayFailed(path, error);
                         view->show();
                     });
    QObject::connect(engine, &BusEngine::replayModeRequested, &window, [&window, engine](bus::Tab mode) {
        QTabWidget* strip = window.tabs();
        QWidget* page = pageOf(window, mode);
        if (window.recordingLock().locked() || strip->indexOf(page) < 0 || strip->currentWidget() == page) {
            // The mode cannot change here (or needs no change): the replay goes on in the mode shown.
            post(engine, [](BusEngine& e) { e.resumeReplay(); });
            return;
        }
        strip->setCurrentWidget(page); // selecting the tab lets the replay go on
    });
    return view;
}

void startReplay(diag_form& window, const QString& path) {
    TrafficWindow* view = window.trafficWindow();
    view->show();
    view->openCapture(path);
}

} // namespace zanst::app
