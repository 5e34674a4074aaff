#pragma once
// "Service visit", a group on "Connection": the site and technician of the visit (remembered from
// the last visit), the technician's notes, what the visit has recorded so far, and the buttons
// for a snapshot of the bank, the service report and the history of earlier visits.

#include <QGroupBox>
#include <QString>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace zanst::app {

class WarningLine;

class VisitPanel : public QGroupBox {
    Q_OBJECT
  public:
    // Typed notes are handed on once typing pauses this long (or at once by commitNotes()).
    static constexpr int kNotesPauseMs = 1500;

    explicit VisitPanel(QWidget* parent = nullptr);

    QLineEdit* site = nullptr;
    QLineEdit* technician = nullptr;
    QPlainTextEdit* notes = nullptr;
    QLabel* state = nullptr;
    WarningLine* problem = nullptr;
    QPushButton* takeSnapshot = nullptr;
    QPushButton* report = nullptr;
    QPushButton* history = nullptr;

    // The last visit's site and technician, in the fields that are still empty.
    void setRemembered(const QString& siteText, const QString& technicianText);
    // What the visit has recorded, and whether a snapshot can be taken now.
    void showVisit(const QString& text, bool canSnapshot);
    // Why the service log is not written (empty: it is).
    void showLogProblem(const QString& message);
    // Notes typed and not yet handed on go out now.
    void commitNotes();
    // A new visit starts with empty notes.
    void clearNotes();

  signals:
    void detailsChanged(const QString& site, const QString& technician);
    void notesChanged(const QString& notes);
    void snapshotRequested();
    void reportRequested();
    void historyRequested();

  private:
    QTimer* notesPause_ = nullptr;
    bool notesDirty_ = false;
};

} // namespace zanst::app
