#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "shell/mode_pages.hpp"
#include "shell/wiring.hpp"
#include "tabs/metrics_tab.hpp"

namespace zanst::app {

void connectMetrics(BusEngine& engine, const ModePages& pages) {
    auto* tab = pages.get<MetricsTab>(bus::Mode::Metrics);
    QObject::connect(engine.metrics(), &MetricsFeature::reported, tab, &MetricsTab::showFetchReport);
    ModeSwitch* modes = engine.modes();
    QObject::connect(tab, &MetricsTab::getAllMetricsRequested, tab,
                     [modes] { post(modes, [](ModeSwitch& m) { m.getAllMetrics(); }); });
}

} // namespace zanst::app
