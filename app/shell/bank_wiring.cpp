#include "engine/bank_feed.hpp"
#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "shell/mode_pages.hpp"
#include "shell/wiring.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/sniffer_tab.hpp"

namespace zanst::app {

void connectBank(BusEngine& engine, const ModePages& pages, BankFeed& feed) {
    auto* tester = pages.get<BatteryTesterTab>(bus::Mode::BatteryTester);
    auto* sniffer = pages.get<SnifferTab>(bus::Mode::Sniffer);
    auto* calibration = pages.get<CalibrationTab>(bus::Mode::Calibration);

    // Both grids and the calibration table show the same rows, whether a poll tick or a sniffed
    // burst made them; the summaries take the bank values of whichever feature runs.
    QObject::connect(&feed, &BankFeed::snapshotTaken, tester, &BatteryTesterTab::showSnapshot);
    QObject::connect(&feed, &BankFeed::snapshotTaken, sniffer, &SnifferTab::showSnapshot);
    QObject::connect(&feed, &BankFeed::snapshotTaken, calibration, &CalibrationTab::showSnapshot);
    QObject::connect(&feed, &BankFeed::bankComputed, tester, &BatteryTesterTab::showBankValues);
    QObject::connect(&feed, &BankFeed::bankValuesChanged, tester, &BatteryTesterTab::showSummaryValues);
    QObject::connect(&feed, &BankFeed::bankValuesChanged, sniffer, &SnifferTab::showSummaryValues);
    QObject::connect(&feed, &BankFeed::testModeChecked, calibration, &CalibrationTab::showTestMode);

    SnifferFeature* sniffed = engine.sniffer();
    QObject::connect(sniffed, &SnifferFeature::reported, sniffer, &SnifferTab::showSnifferReport);
    QObject::connect(sniffed, &SnifferFeature::infoCleared, sniffer, &SnifferTab::clearFields);

    TesterFeature* polling = engine.tester();
    QObject::connect(tester, &BatteryTesterTab::setpointCorrectionChanged, tester, [polling](int correction) {
        post(polling, [correction](TesterFeature& t) { t.setSetpointCorrection(correction); });
    });
    QObject::connect(tester, &BatteryTesterTab::systemVoltageChanged, tester, [polling](int volts) {
        post(polling, [volts](TesterFeature& t) { t.setSystemVoltage(volts); });
    });
}

} // namespace zanst::app
