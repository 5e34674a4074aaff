#include "tabs/sniffer_tab.hpp"

#include "window/widgets.hpp"

#include <QVBoxLayout>

namespace zanst::app {

SnifferTab::SnifferTab(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(makeFooter(QStringLiteral("Zanst_connection"), this));
}

} // namespace zanst::app
