#pragma once
// "Battery tester" (member tabBMS): the tool polls real balancers as bus master and shows one
// row per balancer; the bank values, the setpoint correction and the system voltage sit above
// the table, hidden at start-up, and the table can be recorded.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace zanst::tester {
struct CellTable;
}

namespace zanst::app {

class BusEngine;
class CellTableModel;
class RecorderPanel;
struct Globals;

class BatteryTesterTab : public QWidget {
    Q_OBJECT
  public:
    BatteryTesterTab(Globals& globals, BusEngine* engine, QWidget* parent = nullptr);

    // At the first showing of the window.
    void onShown();
    void hideRiskyTools();

    CellTableModel* model() const { return model_; }
    RecorderPanel* recorder() const { return recorder_; }
    // The correction the engine was last given (mV/A).
    int setpointCorrection() const { return lastValidCorrection_; }

    QTableView* batteryTesterGridView = nullptr;
    QLineEdit* textBatV = nullptr;       // bank voltage, V
    QLineEdit* tbTotalCurrent = nullptr; // bank current, A
    QLineEdit* textBalSetP = nullptr;    // balancer setpoint, V
    QLineEdit* tbSetting = nullptr;      // setpoint correction, mV/A
    QComboBox* sysVoltage = nullptr;     // 12, 24, 48
    QCheckBox* StopSendingMeasurementRequest = nullptr;
    QWidget* bankValues = nullptr; // the row holding the boxes above
    QGroupBox* updaterGroup = nullptr;
    QCheckBox* forceUpdate = nullptr;
    QListWidget* listBox1 = nullptr;
    QGroupBox* gainGroup = nullptr;
    QPushButton* zeroCurrent = nullptr;
    QPushButton* incGain = nullptr;
    QPushButton* defaultGain = nullptr;
    QPushButton* decGain = nullptr;

  private:
    void onSettingEdited(const QString& text);
    void onCellTable(const tester::CellTable& table);
    void onBankValues(const QString& setpoint, const QString& voltage, const QString& current);

    BusEngine* engine_;
    CellTableModel* model_ = nullptr;
    RecorderPanel* recorder_ = nullptr;
    int lastValidCorrection_;
};

} // namespace zanst::app
