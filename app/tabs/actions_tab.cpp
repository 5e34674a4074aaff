#include "tabs/actions_tab.hpp"

#include "ui/widgets.hpp"

#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace zanst::app {

ActionsTab::ActionsTab(QWidget* parent) : QWidget(parent) {
    garbage = makeButton(QStringLiteral("Garbage"), this);
    auto* actions = new QGroupBox(QStringLiteral("Actions"), this);
    actions->setAccessibleName(actions->title());
    enableTestMode = makeButton(QStringLiteral("Enable test mode"), actions);
    endTestMode = makeButton(QStringLiteral("End test mode"), actions);
    loadOn = makeButton(QStringLiteral("Balancing Load ON"), actions);
    loadOff = makeButton(QStringLiteral("Balancing Load OFF"), actions);
    auto* column = new QVBoxLayout(actions);
    for (QPushButton* b : {enableTestMode, endTestMode, loadOn, loadOff}) {
        column->addWidget(b);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(garbage, 0, Qt::AlignLeft);
    layout->addWidget(actions, 0, Qt::AlignLeft);
    layout->addStretch(1);
    layout->addWidget(makeFooter(QString(), this));
}

} // namespace zanst::app
