#pragma once
// The "Gain" group of the "Battery tester" tab: current-gain adjustments of the battery in the
// table's current row.

#include "service/calibration.hpp"

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

    // The tester table's current row (-1 without one); the buttons act only on an addressable row.
    void setTargetRow(int row);
    int targetRow() const { return row_; }

  signals:
    void adjustRequested(int row, zanst::service::GainOperation operation);

  private:
    int row_ = -1;
};

} // namespace zanst::app
