#include "tabs/gain_group.hpp"

#include "ui/widgets.hpp"

#include <QGridLayout>
#include <QPushButton>

namespace zanst::app {

GainGroup::GainGroup(QWidget* parent) : QGroupBox(QStringLiteral("Gain"), parent) {
    setObjectName(QStringLiteral("gainGroup"));
    setAccessibleName(title());
    const auto button = [this](const QString& caption) { return makeButton(caption, this); };
    zeroCurrent = button(QStringLiteral("Zero Current"));
    incGain = button(QStringLiteral("Inc Gain"));
    defaultGain = button(QStringLiteral("Default gain"));
    decGain = button(QStringLiteral("Dec Gain"));
    const QString target = QStringLiteral(" of the balancer in the table's current row");
    zeroCurrent->setToolTip(QStringLiteral("Take the present current reading as zero") + target);
    incGain->setToolTip(QStringLiteral("One step up for the current gain") + target);
    defaultGain->setToolTip(QStringLiteral("Back to the factory current gain") + target);
    decGain->setToolTip(QStringLiteral("One step down for the current gain") + target);
    using service::GainOperation;
    for (const auto& [b, operation] :
         {std::pair{zeroCurrent, GainOperation::ZeroCurrent}, std::pair{incGain, GainOperation::IncreaseGain},
          std::pair{defaultGain, GainOperation::DefaultGain},
          std::pair{decGain, GainOperation::DecreaseGain}}) {
        connect(b, &QPushButton::clicked, this, [this, operation] {
            if (service::balancerAddress(row_)) {
                emit adjustRequested(row_, operation);
            }
        });
    }
    setTargetRow(-1);
    auto* layout = new QGridLayout(this);
    layout->addWidget(zeroCurrent, 0, 0);
    layout->addWidget(incGain, 0, 1);
    layout->addWidget(defaultGain, 1, 0);
    layout->addWidget(decGain, 1, 1);
}

void GainGroup::setTargetRow(int row) {
    row_ = row;
    const bool addressed = service::balancerAddress(row).has_value();
    for (QPushButton* b : {zeroCurrent, incGain, defaultGain, decGain}) {
        b->setEnabled(addressed);
    }
}

} // namespace zanst::app
