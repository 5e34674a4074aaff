#pragma once
// "Recorded bank" on "BMS tester": "Play bank..." chooses a capture or a CSV recording, the
// transport buttons, the pace and loop drive its playback, the time line shows where it stands and
// the edits on top (a click seeks), "Edits..." adds and removes them. The group only shows what the
// playback reports and emits what the user asked for; the wiring reads the file and talks to the
// engine.

#include "engine/playback_report.hpp"

#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QTimer>
#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;

namespace zanst::app {

// The recording from start to end, the part played, the edits' spans beneath it and the position.
class PlaybackTimeLine : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kLanes = 3; // edits beyond the third share its lane
    static constexpr qint64 kKeyStepMs = 10000;

    explicit PlaybackTimeLine(QWidget* parent = nullptr);

    void setLength(qint64 ms);
    void setPosition(qint64 ms);
    void setEdits(const std::vector<PlaybackEditSpan>& edits);
    qint64 lengthMs() const { return lengthMs_; }
    qint64 positionMs() const { return positionMs_; }
    const std::vector<PlaybackEditSpan>& edits() const { return edits_; }
    // The recording's time under x (clamped into it).
    qint64 positionAt(int x) const;
    // The texts of the edits acting at `ms`, for the tool tip.
    QStringList editsAt(qint64 ms) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    void seekRequested(qint64 positionMs);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

  private:
    QRect groove() const;
    int xOf(qint64 ms) const;

    qint64 lengthMs_ = 0;
    qint64 positionMs_ = 0;
    std::vector<PlaybackEditSpan> edits_;
};

// The edits on top of the recording: one entry in their text form, the list in the order they apply.
class PlaybackEditsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit PlaybackEditsDialog(QWidget* parent = nullptr);

    void showEdits(const std::vector<PlaybackEditSpan>& edits);
    // The edit was not taken: the entry keeps it and the reason shows in red.
    void showRefused(const QString& text, const QString& reason);

    QLineEdit* tbEdit = nullptr;
    QPushButton* btnAddEdit = nullptr;
    QListWidget* lstEdits = nullptr;
    QPushButton* btnRemoveEdit = nullptr;
    QLabel* lbEditError = nullptr;

  signals:
    void editEntered(const QString& text);
    void editRemoveRequested(int index);

  private:
    void add();
};

class PlaybackGroup : public QGroupBox {
    Q_OBJECT
  public:
    static constexpr int kPositionTickMs = 200;

    explicit PlaybackGroup(QWidget* parent = nullptr);

    // Where the file dialog opens first (the recordings folder).
    void setStartFolder(const QString& folder) { startFolder_ = folder; }
    // The file dialog of "Play bank...".
    void chooseRecording();

    // "Play bank..." waits until the file is read.
    void showReading(const QString& path);
    void readingEnded();
    // The recording cannot be played: the reason in red; what was loaded before stays loaded.
    void showRefused(const QString& path, const QString& reason);
    void showReport(const PlaybackReport& report);
    void showEditRefused(const QString& text, const QString& reason);
    const PlaybackReport& lastReport() const { return report_; }

    QPushButton* btnPlayBank = nullptr;
    QToolButton* btnPlay = nullptr;
    QToolButton* btnPause = nullptr;
    QToolButton* btnStop = nullptr;
    QToolButton* btnStepBack = nullptr;
    QToolButton* btnStepForward = nullptr;
    QComboBox* cbPace = nullptr;
    QCheckBox* CbLoop = nullptr;
    QPushButton* btnEdits = nullptr;
    PlaybackTimeLine* timeLine = nullptr;
    QLabel* lbPosition = nullptr;
    QLabel* lbStatus = nullptr; // the recording and its model, or why it cannot be played (red)
    QLabel* lbDetail = nullptr; // what the playback does, where the answers go, the notes
    PlaybackEditsDialog* editsDialog = nullptr;

  signals:
    void recordingChosen(const QString& path);
    void playRequested();
    void pauseRequested();
    void stopRequested();
    void paceChosen(zanst::playback::Pace pace);
    void loopChosen(bool on);
    void stepRequested(int by);
    void seekRequested(qint64 positionMs);
    void editEntered(const QString& text);
    void editRemoveRequested(int index);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // One line each, cut to the width with "..." (the tool tip holds all of it).
    void showStatus(const QString& status, bool error, const QString& detail, const QString& tip);
    void elide();
    void showPosition(qint64 positionMs);
    void tickPosition();

    PlaybackReport report_;
    QString status_;
    QString detail_;
    QString startFolder_;
    QString refusal_; // the last refusal, shown until the next report of another file
    QTimer positionTimer_;
    QElapsedTimer sinceReport_;
};

} // namespace zanst::app
