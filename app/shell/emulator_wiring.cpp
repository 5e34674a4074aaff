#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "shell/mode_pages.hpp"
#include "shell/wiring.hpp"
#include "tabs/bms_tester_tab.hpp"

namespace zanst::app {

void connectEmulator(BusEngine& engine, const ModePages& pages) {
    auto* tab = pages.get<BmsTesterTab>(bus::Mode::BmsTester);
    EmulatorFeature* emulator = engine.emulator();
    QObject::connect(emulator, &EmulatorFeature::reported, tab, &BmsTesterTab::showResponderReport);
    QObject::connect(tab, &BmsTesterTab::settingsPublished, tab,
                     [emulator](const emulator::BankSettings& settings) {
                         post(emulator, [settings](EmulatorFeature& e) { e.setBankSettings(settings); });
                     });
    QObject::connect(tab, &BmsTesterTab::presetApplied, tab, [emulator](int listIndex, bool announce) {
        post(emulator,
             [listIndex, announce](EmulatorFeature& e) { e.applyBatteryPreset(listIndex, announce); });
    });
}

} // namespace zanst::app
