#include "tabs/visit_panel.hpp"

#include "ui/widgets.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace zanst::app {

namespace {
constexpr int kMaxDetailChars = 200; // a site or a name, not a text
constexpr int kNotesLines = 3;
} // namespace

VisitPanel::VisitPanel(QWidget* parent) : QGroupBox(QStringLiteral("Service visit"), parent) {
    setObjectName(QStringLiteral("visitPanel"));
    setAccessibleName(title());

    site = new QLineEdit(this);
    site->setObjectName(QStringLiteral("visitSite"));
    site->setMaxLength(kMaxDetailChars);
    site->setPlaceholderText(QStringLiteral("optional"));
    site->setToolTip(QStringLiteral("Where the bank stands; kept for the next visit"));
    technician = new QLineEdit(this);
    technician->setObjectName(QStringLiteral("visitTechnician"));
    technician->setMaxLength(kMaxDetailChars);
    technician->setPlaceholderText(QStringLiteral("optional"));
    technician->setToolTip(QStringLiteral("Who does the visit; kept for the next visit"));
    notes = new QPlainTextEdit(this);
    notes->setObjectName(QStringLiteral("visitNotes"));
    notes->setAccessibleName(QStringLiteral("Notes"));
    notes->setTabChangesFocus(true);
    notes->setPlaceholderText(QStringLiteral("What was found and done, for the service report"));
    notes->setFixedHeight(notes->fontMetrics().lineSpacing() * kNotesLines + 12);

    state = new QLabel(this);
    state->setObjectName(QStringLiteral("visitState"));
    state->setWordWrap(true);
    state->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    problem = new WarningLine(QStringLiteral("visitLogProblem"), this);

    takeSnapshot = makeButton(QStringLiteral("Take &snapshot"), this);
    takeSnapshot->setObjectName(QStringLiteral("takeSnapshot"));
    takeSnapshot->setToolTip(QStringLiteral("Keep every cell's voltage, current and temperature, the bank "
                                            "values and the ring's health as they are now (Ctrl+Shift+S)"));
    report = makeButton(QStringLiteral("Service &report..."), this);
    report->setObjectName(QStringLiteral("serviceReport"));
    report->setToolTip(QStringLiteral("The report of this visit (or an earlier one) as PDF or JSON"));
    history = makeButton(QStringLiteral("&History..."), this);
    history->setObjectName(QStringLiteral("visitHistory"));
    history->setToolTip(
        QStringLiteral("Earlier visits by site, date and battery serial, trends, comparisons, "
                       "export and import"));

    auto* grid = new QGridLayout;
    grid->addWidget(makeCaption(QStringLiteral("Si&te"), site, this), 0, 0);
    grid->addWidget(site, 0, 1);
    grid->addWidget(makeCaption(QStringLiteral("&Technician"), technician, this), 0, 2);
    grid->addWidget(technician, 0, 3);
    grid->addWidget(makeCaption(QStringLiteral("&Notes"), notes, this), 1, 0, Qt::AlignTop);
    grid->addWidget(notes, 1, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    site->setAccessibleName(QStringLiteral("Site"));
    technician->setAccessibleName(QStringLiteral("Technician"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(state, 1);
    buttons->addWidget(takeSnapshot);
    buttons->addWidget(report);
    buttons->addWidget(history);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(problem);
    layout->addLayout(buttons);

    notesPause_ = new QTimer(this);
    notesPause_->setSingleShot(true);
    notesPause_->setInterval(kNotesPauseMs);
    connect(notesPause_, &QTimer::timeout, this, &VisitPanel::commitNotes);
    connect(notes, &QPlainTextEdit::textChanged, this, [this] {
        notesDirty_ = true;
        notesPause_->start();
    });
    const auto details = [this] {
        emit detailsChanged(site->text().trimmed(), technician->text().trimmed());
    };
    connect(site, &QLineEdit::editingFinished, this, details);
    connect(technician, &QLineEdit::editingFinished, this, details);
    connect(takeSnapshot, &QPushButton::clicked, this, &VisitPanel::snapshotRequested);
    connect(report, &QPushButton::clicked, this, [this] {
        commitNotes();
        emit reportRequested();
    });
    connect(history, &QPushButton::clicked, this, &VisitPanel::historyRequested);
    showVisit(QStringLiteral("No visit: one begins when a port is opened"), false);
}

void VisitPanel::setRemembered(const QString& siteText, const QString& technicianText) {
    bool changed = false;
    if (site->text().isEmpty() && !siteText.isEmpty()) {
        site->setText(siteText);
        changed = true;
    }
    if (technician->text().isEmpty() && !technicianText.isEmpty()) {
        technician->setText(technicianText);
        changed = true;
    }
    if (changed) {
        emit detailsChanged(site->text().trimmed(), technician->text().trimmed());
    }
}

void VisitPanel::showVisit(const QString& text, bool canSnapshot) {
    state->setText(text);
    state->setAccessibleName(QStringLiteral("Visit: ") + text);
    takeSnapshot->setEnabled(canSnapshot);
}

void VisitPanel::showLogProblem(const QString& message) {
    problem->setWarning(message);
}

void VisitPanel::commitNotes() {
    notesPause_->stop();
    if (notesDirty_) {
        notesDirty_ = false;
        emit notesChanged(notes->toPlainText());
    }
}

void VisitPanel::clearNotes() {
    notesPause_->stop();
    const QSignalBlocker quiet(notes);
    notes->clear();
    notesDirty_ = false;
}

} // namespace zanst::app
