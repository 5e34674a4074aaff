#pragma once
// "BMS tester" (member tabBattery): the tool stands in for a whole bank. The tab shows one
// BankEditor; every change of its settings is published to the responder on the engine's thread.

#include "emulator/bank_editor.hpp"

#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace zanst::app {

class EmulatorLink;

class BmsTesterTab : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCells = emulator::kMaxCells;

    explicit BmsTesterTab(QWidget* parent = nullptr);

    // Connects the tab to the responder; the current settings are published at once.
    void attach(EmulatorLink* link);
    // First showing of the window: all panels hidden, then preset 0 applied (not announced).
    void onShown();
    // Start-up hides the cell type, the batteries-in-parallel entry and "Bat in parallel:".
    void hideRiskyTools();
    // The tab was selected: "v1.02" is chosen when no firmware version is.
    void onSelected();

    const emulator::BankEditor& editor() const { return editor_; }

    QGroupBox* groupBoxEmulator = nullptr; // "Battery Cells Emulator"
    QLabel* labelNumBat = nullptr;
    QLineEdit* tbNumBat = nullptr;
    QLabel* labelMax10 = nullptr;
    QComboBox* cbBatteryPresets = nullptr;
    QComboBox* cbFwVersion = nullptr;

    QGroupBox* GroupboxSentBMSInfo = nullptr;
    QLineEdit* tbSentBankVoltage = nullptr;
    QLineEdit* tbSentBankCurrent = nullptr;
    QLineEdit* tbSentBankAvgTemp = nullptr;
    QLabel* labelBatInParallel = nullptr;
    QLineEdit* tbSentBMSInfoBattInParallel = nullptr;

    QGroupBox* groupBoxReceivedBMSInfo = nullptr;
    QLineEdit* tbBmsSerial = nullptr;
    QLineEdit* tbBmsPid = nullptr;
    QLineEdit* tbBmsVoltage = nullptr;
    QLineEdit* tbBmsCurrent = nullptr;

    QGroupBox* groupBoxBattery = nullptr;
    QLabel* SeriesParallelLabel = nullptr;
    QLabel* labelCellType = nullptr;
    QLineEdit* tbCellType = nullptr;
    QCheckBox* CbEditAll = nullptr;
    QPushButton* btnResetCells = nullptr;
    QSlider* CurrentTrackbar = nullptr;
    QLineEdit* tbBatCurrent = nullptr;

    std::array<QGroupBox*, kCells> cellPanels{};
    std::array<QSlider*, kCells> mVTrackbarCell{};
    std::array<QSlider*, kCells> TempTrackbarCell{};
    std::array<QLineEdit*, kCells> tbCellVoltage{};
    std::array<QLineEdit*, kCells> tbTemp{};

    // Which preset the window shows (row of the preset table), -1 before the first.
    int selectedPreset() const { return selectedPreset_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildTop();
    QGroupBox* buildSentBox();
    QGroupBox* buildReceivedBox();
    QGroupBox* buildBatteryGroup();
    QGroupBox* buildCellPanel(int cell);
    QLineEdit* makeEntry(QWidget* parent, const QString& name, const QString& accessibleName, const QString& tip);

    // Model list and presets.
    void cbBatteryPresets_SelectedIndexChanged(int index);
    void clearAllBatteryCells();
    void setUpBatteryPreset(int index, bool announce);
    void showBlock(int block, bool visible);

    // Cell and current editing; the cell handlers find the cell from the control.
    void ScrollVoltageTrackbar(int value);
    void ScrollTempTrackbar(int value);
    void ScrollCurrentTrackbar(int value);
    void KeyPressCellVoltage(QLineEdit* box, bool enter);
    void KeyPressCellTemperature(QLineEdit* box, bool enter);
    void KeyPressCurrent(bool enter);
    void FocusEnterCellVoltage(QLineEdit* box);
    void FocusEnterCellTemperature(QLineEdit* box);
    void FocusEnterCurrent();
    void FocusLeaveCellVoltage(QLineEdit* box);
    void FocusLeaveCellTemperature(QLineEdit* box);
    void FocusLeaveCurrent();
    void CbEditAll_CheckedChanged(bool checked);
    void resetCells();
    void tbNumBat_KeyPress(bool enter);

    // What the responder reports.
    void showBmsIdentity(const QString& pid, const QString& serial);
    void showBmsMeasurement(const QString& voltage, const QString& current);

    // Writes the editor's state into the controls and publishes changed settings.
    void sync();
    void publishSettings();

    emulator::BankEditor editor_;
    emulator::BankSettings published_;
    bool publishedOnce_ = false;
    EmulatorLink* link_ = nullptr;
    int selectedPreset_ = -1;
    bool syncing_ = false;
};

} // namespace zanst::app
