#pragma once
// The recording controls above a cell table: preset, interval, column check boxes, ":Select
// all", start/stop with its state and path, and the timer that writes one line per interval.
// The "Battery tester" and "Data Sniffer" tabs each have one, fully independent.

#include "bus/number_text.hpp"
#include "recording/csv_recording.hpp"
#include "recording/recorder.hpp"
#include "ui/recording_lock.hpp"
#include "ui/widgets.hpp"

#include <QString>
#include <QWidget>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTimer;

namespace zanst::app {

class CellTableModel;

class RecorderPanel : public QWidget {
    Q_OBJECT
  public:
    using Kind = RecordingLock::Recorder;

    RecorderPanel(Kind kind, CellTableModel* model, RecordingLock& lock, QWidget* parent = nullptr);

    // At the first showing of the window: every row selected as ":Select all" says, the number
    // file prepared, the timer started, the "Select" column made editable.
    void onShown();
    // Hides the balancing and status check boxes, which record nothing.
    void hideRiskyTools();

    // Start/stop button and timer tick.
    void toggleRecording();
    void writeLine();

    bool isRecording() const;
    const recording::Recorder* recorder() const { return recorder_ ? &*recorder_ : nullptr; }
    recording::ColumnSet checkedColumns() const;
    // The CSV beside the running recording, if one is written.
    const recording::CsvFile& csv() const { return csv_; }

    QComboBox* preset = nullptr;  // cbRecordingPreset / cbRecordingPresetBattDataMonitor
    QSpinBox* interval = nullptr; // numericUpDown1 / numericUpDownBattDataMonitor
    QPushButton* startButton = nullptr;
    ValueLabel* stateLabel = nullptr;
    ValueLabel* pathLabel = nullptr;
    QCheckBox* selectAll = nullptr;
    std::array<QCheckBox*, recording::kRecordColumnCount> columnBoxes{};
    QCheckBox* balancingBox = nullptr;
    QCheckBox* statusBox = nullptr;
    QCheckBox* csvBox = nullptr; // also write a timestamped CSV beside the text recording
    QTimer* timer = nullptr;     // RecordingTimer / RecordingTimerBattDataMonitor

  signals:
    // A recording began writing `path`, and the CSV beside it at `csvPath` (empty without one).
    void recordingStarted(const QString& path, const QString& csvPath);
    // It ended; the paths of what was written.
    void recordingStopped(const QString& path, const QString& csvPath);

  private:
    void applyPreset(int index);
    void onIntervalChanged(int ms);
    void start();
    void stop();
    // Ends the recording after a file error, keeping what was written.
    void failStop(const QString& reason);
    void finish();
    void setControlsEnabled(bool enabled);
    void showPath(const QString& text, bool error);
    recording::CsvValues csvValues() const;
    void startCsv();
    // Appends the selected cells to the CSV; on failure ends the CSV only, the text goes on.
    void writeCsv();

    Kind kind_;
    CellTableModel* model_;
    RecordingLock& lock_;
    bus::TextFormat format_;
    std::optional<recording::Recorder> recorder_;
    recording::CsvFile csv_;
    QString csvError_; // why the CSV of this recording ended early
};

} // namespace zanst::app
