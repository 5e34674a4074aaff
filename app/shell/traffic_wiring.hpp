#pragma once
// The traffic view, capture and replay, connected by the main window: a "Traffic..." link at the
// right of the tab strip opens the view; its buttons become queued calls into the engine; a replay's mode
// records select their tab.

#include <QString>

namespace zanst::app {

class diag_form;
class TrafficWindow;

TrafficWindow* connectTraffic(diag_form& window);
// Plays the capture at `path` in place of the port (zanst --replay), the view shown.
void startReplay(diag_form& window, const QString& path);

} // namespace zanst::app
