#pragma once
// "BMS tester" (member tabBattery): the tool stands in for a whole bank. The tab shows one
// BankEditor: sixteen cell panels, the bank current, the model and firmware lists and the
// batteries in parallel. What the user changes is published whole (settingsPublished,
// presetApplied); what the responder reports comes back through the slots below, which update
// the controls and publish nothing.

#include "emulator/bank_editor.hpp"
#include "emulator/responder.hpp"
#include "engine/playback_report.hpp"

#include "ui/tab_page.hpp"

#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace zanst::app {

class CellPanel;
class PlaybackGroup;
class StaleNote;
class WarningLine;

class BmsTesterTab : public TabPage {
    Q_OBJECT
  public:
    static constexpr int kCells = emulator::kMaxCells;

    explicit BmsTesterTab(QWidget* parent = nullptr);

    // First showing of the window: all panels hidden, then preset 0 applied (not announced).
    void shown() override;
    // Start-up hides the cell type, the batteries-in-parallel entry and "Bat in parallel:".
    void hideRiskyTools() override;
    const emulator::BankEditor& editor() const { return editor_; }
    // Which preset the window shows (row of the preset table), -1 before the first.
    int selectedPreset() const { return selectedPreset_; }

    // What the responder reports, one receive pass at a time.
    void showResponderReport(const emulator::ResponderReport& report);
    void showBmsIdentity(const QString& pid, const QString& serial);
    void showBmsMeasurement(int voltageTenths, int currentTenths);
    // The bus returns our own answers: a red line says what is wrong until a real request comes.
    void showOwnAnswersReturning(bool returning);
    // "Received BMS info" is old: no valid request for longer than the watchdog.
    void setStale(bool stale, const QString& age) override;
    void setAdapterWarning(const QString& text) override;
    void batteriesInParallelRead();
    void cellTextsRefreshed();
    void firmwareVersionDefaulted();

    // A recording drives the bank: the model, the sliders (battery 1), the texts and the batteries
    // in parallel follow the step played; nothing is published back, the engine has it already.
    void followPlayback(const PlayedStep& step);
    // While a recording holds the bank its controls are locked: sliders, entries, the model list,
    // the batteries in parallel, "Edit all cells" and "Reset Cells". Stopping frees them with the
    // last values in place.
    void setPlaybackLock(bool locked);
    bool playbackLocked() const { return playbackLocked_; }

    PlaybackGroup* playbackGroup = nullptr; // "Recorded bank"

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
    QLabel* wiringWarning = nullptr;
    WarningLine* adapterWarning = nullptr;
    StaleNote* receivedStale = nullptr;
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

    std::array<CellPanel*, kCells> cellPanels{};
    std::array<QSlider*, kCells> mVTrackbarCell{};
    std::array<QSlider*, kCells> TempTrackbarCell{};
    std::array<QLineEdit*, kCells> tbCellVoltage{};
    std::array<QLineEdit*, kCells> tbTemp{};

  signals:
    // A changed bank, published whole: the responder never answers from half a change.
    void settingsPublished(const zanst::emulator::BankSettings& settings);
    // The preset at this model-list position; `announce` sends the 0x31 frame.
    void presetApplied(int listIndex, bool announce);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The tab was selected: "v1.02" is chosen when no firmware version is.
    void onCurrent(bool current) override;

  private:
    QWidget* buildTop();
    QGroupBox* buildSentBox();
    QGroupBox* buildReceivedBox();
    QGroupBox* buildBatteryGroup();

    // Model list and presets.
    void cbBatteryPresets_SelectedIndexChanged(int index);
    void clearAllBatteryCells();
    void setUpBatteryPreset(int index, bool announce);
    // The panels, labels and "Sent BMS Info" of a model, without publishing it.
    void showPreset(int index);
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

    // The user changed the editor: show what changed, then publish the settings if they changed.
    void edited();
    // Writes into the controls only what differs from what they show.
    void showEditor();
    void publishSettings();

    emulator::BankEditor editor_;
    // The editor texts the entries show, so that a change writes only the controls it touches.
    std::array<std::string, kCells> shownVoltage_;
    std::array<std::string, kCells> shownTemp_;
    std::string shownCurrent_;
    std::string shownNumBat_;
    emulator::SentBmsInfo shownSent_;
    emulator::BankSettings published_;
    bool publishedOnce_ = false;
    int selectedPreset_ = -1;
    bool showing_ = false; // controls are being written: their change signals are not user edits
    bool playbackLocked_ = false;
};

} // namespace zanst::app
