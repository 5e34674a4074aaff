#pragma once
// One function per feature that connects its engine object to the pages that show it and ask it
// for things. Each takes the engine and the pages built from the mode table (and, where it needs
// the window, only the frame it offers), never the main window.

#include <QString>

#include <functional>

class QWidget;

namespace zanst::app {

class BankFeed;
class BusEngine;
class BusStatusBar;
class ModePages;
class PlotWindow;
class TrafficWindow;
class VisitSession;
class WindowFrame;

// Both cell tables, the calibration table, the summaries, the tester's bank boxes and inputs, the
// sniffer's "BMS info".
void connectBank(BusEngine& engine, const ModePages& pages, BankFeed& feed);
// "BMS tester": the bank published to the responder, what the responder reports.
void connectEmulator(BusEngine& engine, const ModePages& pages);
// "Recorded bank" on "BMS tester": the recording read and handed to the playback, its controls,
// the sliders following and locked while it holds the bank.
void connectPlayback(BusEngine& engine, const ModePages& pages);
// Calibration, battery parameters, actions, the gain buttons and the firmware updater.
void connectServiceTools(BusEngine& engine, const ModePages& pages);
// "Get All Metrics" and what the fetch reports.
void connectMetrics(BusEngine& engine, const ModePages& pages);
// The live plots, their opener beside the strip, fed by the bank.
PlotWindow* connectPlots(const ModePages& pages, BankFeed& feed, WindowFrame& frame);
// The traffic view with its capture and replay, its opener beside the strip.
TrafficWindow* connectTraffic(BusEngine& engine, WindowFrame& frame);
// The adapter behind the port: its section on "Connection" and its status-bar field, the red warning
// of the pages whose ring waits for the tool, the port list following adapters plugged in and
// pulled out (`refreshPorts` rebuilds it as an activation does), and the adapter that came back
// after it was lost: offered for one click, reconnected at once on "Data Sniffer".
void connectAdapter(BusEngine& engine, const ModePages& pages, BusStatusBar& statusBar,
                    const std::function<void()>& refreshPorts);
// `zanst --replay FILE`: the traffic view shown, the capture played.
void startReplay(TrafficWindow& view, const QString& path);
// Service visits: what the engine and the pages report, recorded as visits in the service log on
// its own thread; the "Service visit" group on "Connection", the log's field in the status bar,
// the service report and the history. The log is opened by the program (VisitSession::openLog).
void connectVisits(BusEngine& engine, const ModePages& pages, BankFeed& feed, WindowFrame& frame,
                   BusStatusBar& bar);
// The visits of the window that connectVisits was given; nullptr without them.
VisitSession* visitSessionOf(QWidget& window);

} // namespace zanst::app
