#pragma once
// The "Updater" group of the "Battery tester" tab: the "Force update" check box and the list that
// takes a firmware file and shows the updater's log.

#include <QGroupBox>

class QCheckBox;
class QListWidget;

namespace zanst::app {

class UpdaterGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit UpdaterGroup(QWidget* parent = nullptr);

    QCheckBox* forceUpdate = nullptr;
    QListWidget* listBox1 = nullptr; // firmware file drop target and updater log
};

} // namespace zanst::app
