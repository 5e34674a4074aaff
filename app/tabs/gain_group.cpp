#include "tabs/gain_group.hpp"

#include <QGridLayout>
#include <QPushButton>

namespace zanst::app {

GainGroup::GainGroup(QWidget* parent) : QGroupBox(QStringLiteral("Gain"), parent) {
    setObjectName(QStringLiteral("gainGroup"));
    setAccessibleName(title());
    const auto button = [this](const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setAccessibleName(caption);
        return b;
    };
    zeroCurrent = button(QStringLiteral("Zero Current"));
    incGain = button(QStringLiteral("Inc Gain"));
    defaultGain = button(QStringLiteral("Default gain"));
    decGain = button(QStringLiteral("Dec Gain"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(zeroCurrent, 0, 0);
    layout->addWidget(incGain, 0, 1);
    layout->addWidget(defaultGain, 1, 0);
    layout->addWidget(decGain, 1, 1);
}

} // namespace zanst::app
