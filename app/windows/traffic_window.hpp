#pragma once
// The traffic view: a window beside the main one that lists every frame seen on the port, with
// its filters, pause and copy, and the capture and replay controls. It knows nothing of the
// engine: it shows batches and says what the user asked for.

#include "engine/capture_feature.hpp"
#include "windows/traffic_model.hpp"

#include <QString>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace zanst::app {

class TrafficWindow : public QWidget {
    Q_OBJECT
  public:
    explicit TrafficWindow(QWidget* parent = nullptr);

    TrafficModel* model() const { return model_; }
    QTableView* table() const { return table_; }

    // What the buttons do after their file dialogs.
    void startCapture(const QString& path);
    void openCapture(const QString& path);
    // 1 the recorded pace, higher faster, 0 as fast as possible.
    double replaySpeed() const;
    // "Export for Wireshark...": the capture the view shows (the one it replays or replayed, or
    // the one it saved last, whichever came last) as pcapng at `path`; the status line says what
    // was written, or why nothing was.
    void exportForWireshark(const QString& path);
    // The capture that export would take; empty before the first replay or save.
    const QString& shownCapture() const { return shownCapture_; }

    void appendBatch(const zanst::app::TrafficBatch& batch);
    void showCaptureState(bool capturing, const QString& path, const QString& error);
    void showReplayStarted(const QString& name, const QString& error);
    void showReplayFinished(const QString& name, int records);
    void showReplayFailed(const QString& path, const QString& error);
    // Copies the selected rows (or all shown when none is selected) to the clipboard.
    void copyRows();

    QPushButton* captureButton = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* stopReplayButton = nullptr;
    QPushButton* exportButton = nullptr;
    QComboBox* speedBox = nullptr;
    QComboBox* commandFilter = nullptr;
    QSpinBox* balancerFilter = nullptr;
    QCheckBox* pauseBox = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* clearButton = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* droppedLabel = nullptr;

  signals:
    void captureRequested(const QString& path);
    void captureStopRequested();
    void replayRequested(const QString& path, double speed);
    void replayStopRequested();
    // The window was shown or hidden: the engine decodes traffic only while it is shown.
    void viewingChanged(bool viewing);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void setStatus(const QString& text, bool error);
    void updateDroppedNote();
    void onPauseToggled(bool paused);
    void flushIncoming();
    void setShownCapture(const QString& path);
    void chooseExportFile();

    TrafficModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    // Batches are shown at most every kShowEveryMs: each showing costs a layout and a paint,
    // whatever the number of rows.
    static constexpr int kShowEveryMs = 500;
    QTimer* showTimer_ = nullptr;
    std::vector<capture::TrafficRow> incoming_;
    std::vector<capture::TrafficRow> held_; // rows that came while paused
    std::uint64_t droppedWhilePaused_ = 0;
    bool capturing_ = false;
    QString replayAsked_; // the file of the last replay asked for
    QString shownCapture_;
};

} // namespace zanst::app
