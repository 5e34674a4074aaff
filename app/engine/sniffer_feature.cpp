#include "engine/sniffer_feature.hpp"

#include "engine/locale_format.hpp"

namespace zanst::app {

SnifferFeature::SnifferFeature(bus::BusState& state, QObject* parent) : QObject(parent), parser_(state) {
    parser_.format = localeTextFormat();
}

void SnifferFeature::passEnded() {
    // Every byte of the pass has been echoed already; the snapshots were taken between bytes.
    const sniffer::SnifferReport report = parser_.takeReport();
    if (!report.empty()) {
        emit reported(report);
    }
}

} // namespace zanst::app
