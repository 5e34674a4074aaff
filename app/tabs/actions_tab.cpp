#include "tabs/actions_tab.hpp"

#include "ui/widgets.hpp"

#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace zanst::app {

ActionsTab::ActionsTab(QWidget* parent) : TabPage(parent) {
    garbage = makeButton(QStringLiteral("Garbage"), this);
    auto* actions = new QGroupBox(QStringLiteral("Actions"), this);
    actions->setAccessibleName(actions->title());
    enableTestMode = makeButton(QStringLiteral("Enable test mode"), actions);
    endTestMode = makeButton(QStringLiteral("End test mode"), actions);
    loadOn = makeButton(QStringLiteral("Balancing Load ON"), actions);
    loadOff = makeButton(QStringLiteral("Balancing Load OFF"), actions);
    garbage->setToolTip(QStringLiteral("Send 20,000 bytes of noise, to see that the bus recovers from it"));
    enableTestMode->setToolTip(QStringLiteral("Every balancer enters test mode: no automatic balancing"));
    endTestMode->setToolTip(QStringLiteral("Every balancer leaves test mode"));
    loadOn->setToolTip(
        QStringLiteral("Every balancer switches its balancing load on, whatever the setpoint"));
    loadOff->setToolTip(QStringLiteral("Every balancer switches its balancing load off"));
    auto* column = new QVBoxLayout(actions);
    for (QPushButton* b : {enableTestMode, endTestMode, loadOn, loadOff}) {
        column->addWidget(b);
    }

    using service::ServiceAction;
    for (const auto& [button, action] : {std::pair{garbage, ServiceAction::Garbage},
                                         std::pair{enableTestMode, ServiceAction::EnableTestMode},
                                         std::pair{endTestMode, ServiceAction::EndTestMode},
                                         std::pair{loadOn, ServiceAction::BalancingLoadOn},
                                         std::pair{loadOff, ServiceAction::BalancingLoadOff}}) {
        connect(button, &QPushButton::clicked, this, [this, action] { emit actionRequested(action); });
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(garbage, 0, Qt::AlignLeft);
    layout->addWidget(actions, 0, Qt::AlignLeft);
    layout->addStretch(1); // the logo and the legal notice stand on the four main tabs only
}

} // namespace zanst::app
