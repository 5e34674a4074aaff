#include "shell/metrics_wiring.hpp"

#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "tabs/metrics_tab.hpp"

namespace zanst::app {

void connectMetrics(BusEngine* engine, MetricsTab* tab) {
    MetricsFeature* metrics = engine->metrics();
    QObject::connect(metrics, &MetricsFeature::consoleLine, tab, &MetricsTab::addItemToMetricsConsoleListBox);
    QObject::connect(metrics, &MetricsFeature::fetchBegan, tab, &MetricsTab::fetchBegan);
    QObject::connect(metrics, &MetricsFeature::recordFetched, tab, &MetricsTab::recordFetched);
    QObject::connect(metrics, &MetricsFeature::fetchFinished, tab, &MetricsTab::fetchFinished);
    QObject::connect(tab, &MetricsTab::getAllMetricsRequested, engine,
                     [engine] { post(engine, [](BusEngine& e) { e.getAllMetrics(); }); });
}

} // namespace zanst::app
