#pragma once
// The Metrics tab and the engine's metrics feature, connected by the main window.

namespace zanst::app {

class BusEngine;
class MetricsTab;

// "Get All Metrics" becomes a queued call into the engine; what the fetch reports comes back as
// queued signals to the tab, which stores the records and shows the file when the fetch ends.
void connectMetrics(BusEngine* engine, MetricsTab* tab);

} // namespace zanst::app
