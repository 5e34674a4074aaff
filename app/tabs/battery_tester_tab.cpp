#include "tabs/battery_tester_tab.hpp"

#include "window/widgets.hpp"

#include <QVBoxLayout>

namespace zanst::app {

BatteryTesterTab::BatteryTesterTab(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(makeFooter(QStringLiteral("Zanst_connection_BatteryTester"), this));
}

} // namespace zanst::app
