#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "shell/window_frame.hpp"
#include "shell/wiring.hpp"
#include "windows/traffic_window.hpp"

#include <QLabel>

namespace zanst::app {

TrafficWindow* connectTraffic(BusEngine& engine, WindowFrame& frame) {
    CaptureFeature* capture = engine.capture();
    PortControl* ports = engine.ports();
    auto* view = new TrafficWindow(frame.frameWidget());

    // A link in the free corner of the tab strip: lower than a tab, so the strip keeps its height
    // and the pages their size; the status bar has no room left.
    auto* link = new QLabel(QStringLiteral("<a href=\"traffic\">Traffic...</a>"));
    link->setObjectName(QStringLiteral("trafficLink"));
    link->setAccessibleName(QStringLiteral("Traffic view"));
    link->setContentsMargins(0, 0, 6, 0);
    frame.addViewOpener(link);
    QObject::connect(link, &QLabel::linkActivated, view, [view] {
        view->show();
        view->raise();
        view->activateWindow();
    });

    QObject::connect(view, &TrafficWindow::viewingChanged, view, [capture](bool viewing) {
        post(capture, [viewing](CaptureFeature& c) { c.setViewing(viewing); });
    });
    QObject::connect(capture, &CaptureFeature::trafficBatch, view, &TrafficWindow::appendBatch);
    QObject::connect(capture, &CaptureFeature::captureStateChanged, view, &TrafficWindow::showCaptureState);
    BusEngine* bus = &engine;
    QObject::connect(view, &TrafficWindow::captureRequested, view, [bus](const QString& path) {
        post(bus, [path](BusEngine& e) { e.startCapture(path); });
    });
    QObject::connect(view, &TrafficWindow::captureStopRequested, view,
                     [bus] { post(bus, [](BusEngine& e) { e.stopCapture(); }); });
    QObject::connect(view, &TrafficWindow::replayRequested, view, [ports](const QString& path, double speed) {
        post(ports, [path, speed](PortControl& p) { p.openReplay(path, speed); });
    });
    QObject::connect(view, &TrafficWindow::replayStopRequested, view,
                     [ports] { post(ports, [](PortControl& p) { p.stopReplay(); }); });

    WindowFrame* window = &frame;
    QObject::connect(ports, &PortControl::replayStarted, view,
                     [window, view](const QString& name, const QString& error) {
                         window->clearPortChoice();
                         window->showConnection(QStringLiteral("Replay of ") + name);
                         view->showReplayStarted(name, error);
                     });
    QObject::connect(
        ports, &PortControl::replayFinished, view, [window, view](const QString& name, int records) {
            window->showConnection(QStringLiteral("Replay of ") + name +
                                   (records < 0 ? QStringLiteral(" stopped") : QStringLiteral(" finished")));
            view->showReplayFinished(name, records);
        });
    QObject::connect(ports, &PortControl::replayFailed, view,
                     [window, view](const QString& path, const QString& error) {
                         window->showConnection(QStringLiteral("Cannot replay ") + path);
                         view->showReplayFailed(path, error);
                         view->show();
                     });
    QObject::connect(ports, &PortControl::replayModeRequested, view, [window, ports](bus::Mode mode) {
        // Selecting the page lets the replay go on; where it cannot (or needs not) change, the
        // replay goes on in the mode shown.
        if (!window->selectMode(mode)) {
            post(ports, [](PortControl& p) { p.resumeReplay(); });
        }
    });
    return view;
}

void startReplay(TrafficWindow& view, const QString& path) {
    view.show();
    view.openCapture(path);
}

} // namespace zanst::app
