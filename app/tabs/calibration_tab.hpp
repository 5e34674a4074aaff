#pragma once
// "Calibration" (member tabCalibration, a service tab): the balancers in test mode, one row per
// balancer with its calibration values, the calibrate and save buttons for the selected row, and
// the battery parameters.

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace zanst::app {

class CalibrationTab : public QWidget {
    Q_OBJECT
  public:
    explicit CalibrationTab(QWidget* parent = nullptr);

    QPushButton* enableTestMode = nullptr;
    QPushButton* reloadCalData = nullptr;
    QLabel* label3 = nullptr; // "Test mode: disabled" / "Test mode: enabled"

    QGroupBox* calibrationGroup = nullptr; // "Ravelock Callibration"
    QLineEdit* txtVoltageMeas = nullptr;
    QPushButton* cmdCalVoltage = nullptr;
    QPushButton* cmdCalOffset = nullptr;
    QLineEdit* txtCurrentHighMeas = nullptr;
    QPushButton* cmdCalHighCurrent = nullptr;
    QPushButton* cmdSaveCal = nullptr;

    QGroupBox* parametersGroup = nullptr; // "Battery Parameters"
    QLineEdit* tbSerial = nullptr;
    QLineEdit* tbCapacity = nullptr;
    QLineEdit* tbProdID = nullptr;
    QPushButton* buttonSetParams = nullptr;

    QTableView* calibrationGridView = nullptr;

  private:
    QGroupBox* buildCalibrationGroup();
    QGroupBox* buildParametersGroup();
};

} // namespace zanst::app
