#include "tabs/connection_tab.hpp"

#include "ui/widgets.hpp"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zanst::app {

ConnectionTab::ConnectionTab(QWidget* parent) : QWidget(parent) {
    auto* settings = new QGroupBox(QStringLiteral("Settings"), this);
    settings->setAccessibleName(settings->title());

    comboBox1 = new QComboBox(settings);
    comboBox1->setObjectName(QStringLiteral("comboBox1"));
    comboBox1->setEditable(false);
    comboBox1->setMinimumWidth(220);
    comboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    cmdDisconnect = new QPushButton(QStringLiteral("Disconnect"), settings);
    cmdDisconnect->setObjectName(QStringLiteral("cmdDisconnect"));
    cmdDisconnect->setAccessibleName(QStringLiteral("Disconnect"));

    auto* grid = new QGridLayout(settings);
    grid->addWidget(makeCaption(QStringLiteral("&Port"), comboBox1, settings), 0, 0);
    grid->addWidget(comboBox1, 0, 1);
    grid->addWidget(cmdDisconnect, 0, 2);
    grid->setColumnStretch(3, 1);
    comboBox1->setAccessibleName(QStringLiteral("Port"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(settings);
    layout->addStretch(1);
    layout->addWidget(makeFooter(QString(), this));

    // `activated` also fires when the open port is chosen again, which reopens it.
    connect(comboBox1, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            emit portChosen(comboBox1->itemText(index));
        }
    });
    connect(cmdDisconnect, &QPushButton::clicked, this, &ConnectionTab::disconnectRequested);
}

} // namespace zanst::app
