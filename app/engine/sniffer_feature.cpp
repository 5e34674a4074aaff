#include "engine/sniffer_feature.hpp"

#include "engine/locale_format.hpp"

namespace zanst::app {

SnifferFeature::SnifferFeature(bus::BusState& state, QObject* parent)
    : QObject(parent), parser_(state, this) {
    registerMetaTypes();
    parser_.format = localeTextFormat();
}

void SnifferFeature::bmsInfoChanged(sniffer::BmsField field, const std::string& text) {
    emit infoChanged(static_cast<int>(field),
                     QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void SnifferFeature::burstEnded(const bank::BankSnapshot& snapshot) {
    // Every byte of the burst has been echoed already; the snapshot is taken between bytes.
    emit snapshotTaken(snapshot);
}

void SnifferFeature::bmsMeasured(int setpointMv, int bankMv, int bankMa) {
    emit bankValuesChanged(bank::BankValues{setpointMv, bankMv, bankMa});
}

} // namespace zanst::app
