#pragma once
// The "Gain" group of the "Battery tester" tab: current-gain adjustments of the battery in the
// table's current row.

#include <QGroupBox>

class QPushButton;

namespace zanst::app {

class GainGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit GainGroup(QWidget* parent = nullptr);

    QPushButton* zeroCurrent = nullptr;
    QPushButton* incGain = nullptr;
    QPushButton* defaultGain = nullptr;
    QPushButton* decGain = nullptr;
};

} // namespace zanst::app
