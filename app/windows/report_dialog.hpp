#pragma once
// "Service report": one visit (the current or last one unless another is chosen) with the
// technician's notes, written as a PDF of one to three A4 pages for the customer or as JSON with
// the same content. The visit and the one before it come from the service log through the
// dialog's signals; the notes typed here are kept in the log with the visit.

#include "servicelog/records.hpp"
#include "servicelog/service_log.hpp"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace zanst::app {

class ReportDialog : public QDialog {
    Q_OBJECT
  public:
    enum class Format { Pdf, Json };

    explicit ReportDialog(QWidget* parent = nullptr);

    // The visits to choose from, newest first, with `chosen` selected (its record is asked for).
    void showChoices(const std::vector<servicelog::VisitSummary>& visits, const QString& chosen);
    // The chosen visit as the log holds it, and the previous visit of the same batteries.
    void showVisit(const servicelog::VisitRecord& visit,
                   const std::optional<servicelog::VisitRecord>& previous);
    // Why nothing can be shown (the log is not available, the visit is gone).
    void showProblem(const QString& text);

    // The report of the visit shown, with the notes as typed, to `path`. Returns an empty text or why
    // it failed; an earlier file at `path` stays unless the new one is whole.
    QString write(Format format, const QString& path);
    const QString& visitId() const { return visitId_; }
    bool hasVisit() const { return visit_.has_value(); }

    // Names the file to write (empty: cancelled); a save dialog unless replaced.
    std::function<QString(QWidget*, const QString& suggestedName, Format)> choosePath;

    QComboBox* visit = nullptr;
    QLabel* summary = nullptr;
    QPlainTextEdit* notes = nullptr;
    QPushButton* writePdf = nullptr;
    QPushButton* writeJson = nullptr;
    QLabel* status = nullptr;

  signals:
    void visitChosen(const QString& id);
    // The notes of `id` as typed, before a report is written with them.
    void notesEdited(const QString& id, const QString& notes);

  private:
    void writeAs(Format format);
    QString suggestedName() const;

    QString visitId_;
    std::optional<servicelog::VisitRecord> visit_;
    std::optional<servicelog::VisitRecord> previous_;
};

} // namespace zanst::app
