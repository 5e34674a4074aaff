#include "shell/service_mode.hpp"

#include "shell/main_window.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/sniffer_tab.hpp"

#include <QSignalBlocker>
#include <QTabWidget>

namespace zanst::app {

void applyServiceMode(ServiceMode mode, diag_form& window) {
    if (mode == ServiceMode::On) {
        return;
    }
    window.batteryTesterTab()->hideRiskyTools();
    window.snifferTab()->hideRiskyTools();
    QTabWidget* strip = window.tabs();
    const QSignalBlocker blocker(strip); // removing tabs is not a mode change
    for (QWidget* page :
         std::initializer_list<QWidget*>{window.actionsTab(), window.calibrationTab(), window.metricsTab()}) {
        const int index = strip->indexOf(page);
        if (index >= 0) {
            strip->removeTab(index);
        }
        page->setParent(&window); // removed tabs stay built, owned by the window
        page->hide();
    }
    window.bmsTesterTab()->hideRiskyTools();
}

} // namespace zanst::app
