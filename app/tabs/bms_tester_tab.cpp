#include "tabs/bms_tester_tab.hpp"

#include "window/widgets.hpp"

#include <QVBoxLayout>

namespace zanst::app {

BmsTesterTab::BmsTesterTab(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(makeFooter(QStringLiteral("Zanst_connection_BMSTester"), this));
}

} // namespace zanst::app
