#include "engine/bank_feed.hpp"
#include "shell/mode_pages.hpp"
#include "shell/window_frame.hpp"
#include "shell/wiring.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "windows/plot_window.hpp"

#include <QPushButton>

namespace zanst::app {

PlotWindow* connectPlots(const ModePages& pages, BankFeed& feed, WindowFrame& frame) {
    auto* tester = pages.get<BatteryTesterTab>(bus::Mode::BatteryTester);
    auto* sniffer = pages.get<SnifferTab>(bus::Mode::Sniffer);
    auto* plots = new PlotWindow(frame.frameWidget());
    plots->setSelectionSource(tester->model());

    // Beside the tab strip, not a tab: a tab would be a mode of its own and stop the polling.
    auto* opener = new QPushButton(QStringLiteral("Plots..."));
    opener->setObjectName(QStringLiteral("plotsButton"));
    opener->setToolTip(QStringLiteral("Cell voltages, temperatures and the bank over time"));
    frame.addViewOpener(opener);
    QObject::connect(opener, &QPushButton::clicked, plots, [plots] {
        plots->show();
        plots->raise();
        plots->activateWindow();
    });

    QObject::connect(&feed, &BankFeed::snapshotTaken, plots, &PlotWindow::addSnapshot);
    QObject::connect(&feed, &BankFeed::bankValuesChanged, plots, &PlotWindow::addBankValues);
    // The rows chosen for the plots are those of the table shown: the sniffer's on its page.
    for (TabPage* page : pages.pages()) {
        QObject::connect(page, &TabPage::madeCurrent, plots, [=](bool current) {
            if (current) {
                plots->setSelectionSource(page == sniffer ? sniffer->model() : tester->model());
            }
        });
    }
    return plots;
}

} // namespace zanst::app
