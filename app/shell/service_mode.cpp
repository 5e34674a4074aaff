#include "shell/service_mode.hpp"

#include "shell/mode_pages.hpp"
#include "ui/tab_page.hpp"

#include <QSignalBlocker>
#include <QTabWidget>

namespace zanst::app {

void applyServiceMode(ServiceMode mode, const ModePages& pages, QTabWidget& strip, QWidget& owner) {
    if (mode == ServiceMode::On) {
        return;
    }
    const QSignalBlocker blocker(&strip); // removing tabs is not a mode change
    for (const ModePageRow& row : modePageTable()) {
        TabPage* page = pages.page(row.mode);
        page->hideRiskyTools();
        if (!row.serviceOnly) {
            continue;
        }
        const int index = strip.indexOf(page);
        if (index >= 0) {
            strip.removeTab(index);
        }
        page->setParent(&owner); // removed tabs stay built, owned by the window
        page->hide();
    }
}

} // namespace zanst::app
