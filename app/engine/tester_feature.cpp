#include "engine/tester_feature.hpp"

#include <QLocale>

namespace zanst::app {

tester::TextFormat localeTextFormat() {
    const QString point = QLocale().decimalPoint();
    tester::TextFormat format;
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

TesterFeature::TesterFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), poll_(state, port), timerBMS_(this) {
    qRegisterMetaType<tester::CellTable>();
    poll_.format = localeTextFormat();
    timerBMS_.setInterval(kPollPeriodMs);
    connect(&timerBMS_, &QTimer::timeout, this, &TesterFeature::timerBMS_Tick);
}

void TesterFeature::startPolling(int periodMs) { timerBMS_.start(periodMs); }

void TesterFeature::stopPolling() { timerBMS_.stop(); }

void TesterFeature::setSetpointCorrection(int correction) {
    if (correction >= tester::kMinSetpointCorrection && correction <= tester::kMaxSetpointCorrection) {
        poll_.settings.setpointCorrection = correction;
    }
}

void TesterFeature::setSystemVoltage(int volts) {
    if (volts == 12 || volts == 24 || volts == 48) {
        poll_.settings.systemVoltage = volts;
    }
}

void TesterFeature::timerBMS_Tick() {
    const tester::TickReport report = poll_.timerBMS_Tick();
    if (report.polled) {
        emit cellTableChanged(report.table);
        emit bankValuesChanged(toQString(report.bank.setpoint), toQString(report.bank.voltage),
                               toQString(report.bank.current));
    }
}

} // namespace zanst::app
