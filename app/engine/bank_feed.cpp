#include "engine/bank_feed.hpp"

#include "engine/bus_engine.hpp"

namespace zanst::app {

BankFeed::BankFeed(BusEngine& engine, QObject* parent) : QObject(parent) {
    connect(engine.tester(), &TesterFeature::ticked, this, &BankFeed::takeTick);
    connect(engine.sniffer(), &SnifferFeature::reported, this, &BankFeed::takeSnifferReport);
}

void BankFeed::takeTick(const tester::TickReport& report) {
    if (report.polled) {
        emit snapshotTaken(report.snapshot);
        emit bankComputed(report.bank);
        emit bankValuesChanged(report.bank);
    }
    if (report.allInTestMode) {
        emit testModeChecked(*report.allInTestMode);
    }
}

void BankFeed::takeSnifferReport(const sniffer::SnifferReport& report) {
    for (const bank::BankValues& values : report.bmsMeasured) {
        emit bankValuesChanged(values);
    }
    for (const bank::BankSnapshot& snapshot : report.burstsEnded) {
        emit snapshotTaken(snapshot);
    }
}

} // namespace zanst::app
