#include "engine/tester_link.hpp"

#include "engine/bus_engine.hpp"

#include <QLocale>

namespace zanst::app {

bus::TextFormat localeTextFormat() {
    const QString point = QLocale().decimalPoint();
    bus::TextFormat format;
    if (point.size() == 1 && point.at(0).unicode() < 0x80) {
        format.decimalPoint = point.at(0).toLatin1();
    }
    return format;
}

namespace {

QString toQString(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TesterLink::TesterLink(BusEngine& engine, bus::BusState& state, bus::BusPort& port)
    : engine_(engine), poll_(state, port), sniffer_(state, this) {
    qRegisterMetaType<tester::CellTable>();
    format_ = localeTextFormat();
    sniffer_.format = format_;
}

tester::TickReport TesterLink::tick() {
    tester::TickReport report = poll_.timerBMS_Tick();
    if (report.polled) {
        emit engine_.cellTableChanged(tester::UpdateCellData(report.snapshot, format_));
        const tester::BankTexts bank = tester::bankTexts(report.bank, format_);
        emit engine_.bankValuesChanged(toQString(bank.setpoint), toQString(bank.voltage), toQString(bank.current));
    }
    return report;
}

void TesterLink::setSetpointCorrection(int correction) {
    if (correction >= tester::kMinSetpointCorrection && correction <= tester::kMaxSetpointCorrection) {
        poll_.settings.setpointCorrection = correction;
    }
}

void TesterLink::setSystemVoltage(int volts) {
    if (volts == 12 || volts == 24 || volts == 48) {
        poll_.settings.systemVoltage = volts;
    }
}

void TesterLink::bmsInfoChanged(tester::BmsField field, const std::string& text) {
    emit engine_.snifferInfoChanged(static_cast<int>(field), toQString(text));
}

void TesterLink::burstEnded(const tester::BankSnapshot& snapshot) {
    // Every byte of the burst has been echoed already; the rows are built here, between bytes.
    emit engine_.cellTableChanged(tester::UpdateCellData(snapshot, format_));
}

} // namespace zanst::app
