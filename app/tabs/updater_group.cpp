#include "tabs/updater_group.hpp"

#include <QCheckBox>
#include <QListWidget>
#include <QVBoxLayout>

namespace zanst::app {

UpdaterGroup::UpdaterGroup(QWidget* parent) : QGroupBox(QStringLiteral("Updater"), parent) {
    setObjectName(QStringLiteral("updaterGroup"));
    setAccessibleName(title());
    forceUpdate = new QCheckBox(QStringLiteral("Force update"), this);
    forceUpdate->setObjectName(QStringLiteral("forceUpdate"));
    forceUpdate->setAccessibleName(forceUpdate->text());
    listBox1 = new QListWidget(this);
    listBox1->setObjectName(QStringLiteral("listBox1"));
    listBox1->setAccessibleName(QStringLiteral("Firmware file and updater log"));
    listBox1->setMaximumHeight(80);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(forceUpdate);
    layout->addWidget(listBox1);
}

} // namespace zanst::app
