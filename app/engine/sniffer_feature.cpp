#include "engine/sniffer_feature.hpp"

#include "engine/tester_feature.hpp"

namespace zanst::app {

SnifferFeature::SnifferFeature(bus::BusState& state, QObject* parent)
    : QObject(parent), state_(state), parser_(state, this) {
    qRegisterMetaType<tester::CellTable>();
    parser_.format = localeTextFormat();
}

void SnifferFeature::bmsInfoChanged(tester::BmsField field, const std::string& text) {
    emit infoChanged(static_cast<int>(field), QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void SnifferFeature::burstEnded() {
    // Every byte of the burst has been echoed already; the rows are built here, between bytes.
    emit cellTableChanged(tester::UpdateCellData(state_, parser_.format));
}

} // namespace zanst::app
