#pragma once
// "Battery tester" (member tabBMS): the tool polls real balancers as bus master and shows one
// row per balancer; the bank values, the setpoint correction and the system voltage sit above
// the table, hidden at start-up, and the table can be recorded.

#include "ui/tab_page.hpp"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTableView;

namespace zanst::bank {
struct BankSnapshot;
struct BankValues;
} // namespace zanst::bank

namespace zanst::app {

class BankSummaryView;
class CellTableModel;
class GainGroup;
class RecorderPanel;
class StaleNote;
class RecordingLock;
class UpdaterGroup;

class BatteryTesterTab : public TabPage {
    Q_OBJECT
  public:
    BatteryTesterTab(RecordingLock& lock, QWidget* parent = nullptr);

    // At the first showing of the window: the recorder's rows and number file.
    void shown() override;
    void hideRiskyTools() override;
    RecorderPanel* recorder() const override { return recorder_; }

    CellTableModel* model() const { return model_; }
    BankSummaryView* summary() const { return summary_; }
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
    UpdaterGroup* updaterGroup = nullptr;
    GainGroup* gainGroup = nullptr;

    void showSnapshot(const bank::BankSnapshot& snapshot);
    // The tester's own computation, in the bank boxes.
    void showBankValues(const bank::BankValues& values);
    // The bank values of whichever feature runs, in the summary.
    void showSummaryValues(const bank::BankValues& values);
    // The rows are old: no valid answer for longer than the mode's watchdog.
    void setStale(bool stale, const QString& age) override;

  signals:
    // A valid "Setpoint correction" (mV/A) and the "System" voltage (V) for the bank computation.
    void setpointCorrectionChanged(int correction);
    void systemVoltageChanged(int volts);

  private:
    void onSettingEdited(const QString& text);

    CellTableModel* model_ = nullptr;
    StaleNote* staleNote_ = nullptr;
    RecorderPanel* recorder_ = nullptr;
    BankSummaryView* summary_ = nullptr;
    int lastValidCorrection_;
};

} // namespace zanst::app
