#include "tabs/connection_tab.hpp"

#include "ui/widgets.hpp"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zanst::app {

ConnectionTab::ConnectionTab(QWidget* parent) : TabPage(parent) {
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

    comboBox1->setToolTip(QStringLiteral("The serial port of the USB-serial adapter in the battery ring. "
                                         "Choosing a port opens it at once; choosing it again reopens it."));
    cmdDisconnect->setToolTip(QStringLiteral("Close the port; the window title shows \"Idle\""));

    about = new QPushButton(QStringLiteral("&About..."), this);
    about->setObjectName(QStringLiteral("about"));
    about->setAccessibleName(QStringLiteral("About"));
    about->setToolTip(
        QStringLiteral("Version, build date, legal notice and the licences of the libraries used"));
    auto* aboutRow = new QHBoxLayout;
    aboutRow->addStretch(1);
    aboutRow->addWidget(about);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(settings);
    sections_ = new QVBoxLayout;
    layout->addLayout(sections_);
    layout->addLayout(aboutRow);
    layout->addStretch(1);
    layout->addWidget(makeFooter(QString(), this));

    // `activated` also fires when the open port is chosen again, which reopens it.
    connect(comboBox1, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            emit portChosen(comboBox1->itemText(index));
        }
    });
    connect(cmdDisconnect, &QPushButton::clicked, this, &ConnectionTab::disconnectRequested);
    connect(about, &QPushButton::clicked, this, &ConnectionTab::aboutRequested);
}

void ConnectionTab::addSection(QWidget* section) {
    section->setParent(this);
    sections_->addWidget(section);
}

bool ConnectionTab::choosePort(const QString& name) {
    const int index = comboBox1->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index < 0) {
        return false;
    }
    comboBox1->setCurrentIndex(index);
    emit portChosen(name);
    return true;
}

} // namespace zanst::app
