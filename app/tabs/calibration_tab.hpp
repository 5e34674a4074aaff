#pragma once
// "Calibration" (member tabCalibration, a service tab): the balancers in test mode, one row per
// balancer with its calibration values, the calibrate and save buttons for the selected row, and
// the battery parameters.

#include "service/actions.hpp"
#include "service/battery_parameters.hpp"
#include "service/calibration.hpp"

#include "ui/tab_page.hpp"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace zanst::bank {
struct BankSnapshot;
} // namespace zanst::bank

namespace zanst::app {

class CalibrationTableModel;

class CalibrationTab : public TabPage {
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

    CalibrationTableModel* model() const { return model_; }
    // `SelectedCellID`: the calibration table's current row, -1 without one.
    int selectedCellId() const;

    // The rows of every refresh.
    void showSnapshot(const bank::BankSnapshot& snapshot);
    // The calibration tick's check: every known balancer in test mode, or not.
    void showTestMode(bool allInTestMode);
    // Test mode not (yet) confirmed: entering the tab, or leaving it.
    void showTestModeUnconfirmed();
  signals:
    // "calibrate voltage", "calibrate gain", "calibrate offset" for the balancer of `row`.
    void calibrateRequested(int row, zanst::service::CalibrationKind kind, quint16 value);
    void saveCalibrationRequested(int row);
    void parametersRequested(const zanst::service::BatteryParameters& parameters);
    // "Enable test mode", "Reload cal data".
    void actionRequested(zanst::service::ServiceAction action);

  protected:
    // Leaving the tab leaves test mode: nothing stays enabled for the next visit's first moments.
    void onCurrent(bool current) override;

  private:
    QGroupBox* buildCalibrationGroup();
    QGroupBox* buildParametersGroup();
    void setTestModeLabel(bool enabled);
    // The buttons that act on the selected balancer, from the test mode and the current row.
    void updateRowButtons();
    // "calibrate voltage" and "calibrate gain": read the box, colour it, send when it passed.
    void calibrateFrom(QLineEdit* box, service::CalibrationKind kind);
    void onCalibrateOffset();
    void onSaveCalibration();
    void onSetParameters();

    CalibrationTableModel* model_ = nullptr;
    bool allInTestMode_ = false;
};

} // namespace zanst::app
