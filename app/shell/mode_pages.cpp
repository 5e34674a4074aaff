#include "shell/mode_pages.hpp"

#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/sniffer_tab.hpp"

namespace zanst::app {

using bus::Mode;

const std::vector<ModePageRow>& modePageTable() {
    static const std::vector<ModePageRow> table{
        {Mode::Connection, QStringLiteral("Connection"), QStringLiteral("Connection"),
         QStringLiteral("Choose, open and close the serial port"), 3000, false,
         [](RecordingLock&) -> TabPage* { return new ConnectionTab; }},
        {Mode::Actions, QStringLiteral("Actions"), QStringLiteral("Actions"),
         QStringLiteral("Service commands to every balancer"), 3000, true,
         [](RecordingLock&) -> TabPage* { return new ActionsTab; }},
        {Mode::Calibration, QStringLiteral("Calibration"), QStringLiteral("Calibration"),
         QStringLiteral("Balancers in test mode: calibrate their readings, set battery parameters"),
         2000, // four polls at 500 ms
         true, [](RecordingLock&) -> TabPage* { return new CalibrationTab; }},
        {Mode::BatteryTester, QStringLiteral("Battery tester"), QStringLiteral("Battery tester"),
         QStringLiteral("The tool is bus master: finds the balancers and polls them every second"),
         4000, // four polls: the table empties then
         false, [](RecordingLock& lock) -> TabPage* { return new BatteryTesterTab(lock); }},
        {Mode::BmsTester, QStringLiteral("BMS tester"), QStringLiteral("BMS tester"),
         QStringLiteral("The tool stands in for a battery bank and answers a real BMS"),
         3000, // a BMS asks about once a second
         false, [](RecordingLock&) -> TabPage* { return new BmsTesterTab; }},
        {Mode::Sniffer, QStringLiteral("Data Sniffer"), QStringLiteral("Data Sniffer"),
         QStringLiteral("The tool sits in the ring, repeats every byte and decodes the traffic"), 3000, false,
         [](RecordingLock& lock) -> TabPage* { return new SnifferTab(lock); }},
        {Mode::Metrics, QStringLiteral("Metrics"), QStringLiteral("Metrics"),
         QStringLiteral("The batteries' lifetime metrics"), 3000, true,
         [](RecordingLock&) -> TabPage* { return new MetricsTab; }},
    };
    return table;
}

const ModePageRow& modePageRow(bus::Mode mode) {
    for (const ModePageRow& row : modePageTable()) {
        if (row.mode == mode) {
            return row;
        }
    }
    return modePageTable().front(); // every mode has a row; a test checks it
}

ModePages::ModePages(RecordingLock& lock) {
    for (const ModePageRow& row : modePageTable()) {
        pages_.push_back(row.makePage(lock));
    }
}

TabPage* ModePages::page(bus::Mode mode) const {
    const std::vector<ModePageRow>& table = modePageTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].mode == mode) {
            return pages_[i];
        }
    }
    return nullptr;
}

std::optional<bus::Mode> ModePages::modeOf(const QWidget* page) const {
    const std::vector<ModePageRow>& table = modePageTable();
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i] == page) {
            return table[i].mode;
        }
    }
    return std::nullopt;
}

} // namespace zanst::app
