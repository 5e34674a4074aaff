#include "windows/report_dialog.hpp"

#include "report/report_content.hpp"
#include "report/report_pdf.hpp"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace zanst::app {

namespace {

QString timeText(const QDateTime& t) {
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")) : QString();
}

QString choiceText(const servicelog::VisitSummary& v) {
    QString text = timeText(v.startedAt);
    if (!v.site.isEmpty()) {
        text += QStringLiteral("  ") + v.site;
    }
    if (!v.serials.isEmpty()) {
        text += QStringLiteral("  (") + v.serials.join(QStringLiteral(", ")) + ')';
    }
    return v.endedAt.isValid() ? text : text + QStringLiteral("  (open)");
}

} // namespace

ReportDialog::ReportDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("reportDialog"));
    setWindowTitle(QStringLiteral("Service report"));
    resize(640, 420);
    choosePath = [](QWidget* owner, const QString& suggested, Format format) {
        const bool pdf = format == Format::Pdf;
        QString path = QFileDialog::getSaveFileName(
            owner, QStringLiteral("Write service report"), suggested + (pdf ? ".pdf" : ".json"),
            pdf ? QStringLiteral("PDF files (*.pdf)") : QStringLiteral("JSON files (*.json)"));
        if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
            path += pdf ? QStringLiteral(".pdf") : QStringLiteral(".json");
        }
        return path;
    };

    visit = new QComboBox(this);
    visit->setObjectName(QStringLiteral("reportVisit"));
    visit->setAccessibleName(QStringLiteral("Visit"));
    visit->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("reportSummary"));
    summary->setWordWrap(true);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    notes = new QPlainTextEdit(this);
    notes->setObjectName(QStringLiteral("reportNotes"));
    notes->setAccessibleName(QStringLiteral("Notes"));
    notes->setTabChangesFocus(true);
    notes->setPlaceholderText(QStringLiteral("What was found and done; printed at the end of the report"));
    writePdf = new QPushButton(QStringLiteral("Write &PDF..."), this);
    writePdf->setObjectName(QStringLiteral("reportWritePdf"));
    writePdf->setToolTip(QStringLiteral("One to three A4 pages for the customer"));
    writeJson = new QPushButton(QStringLiteral("Write &JSON..."), this);
    writeJson->setObjectName(QStringLiteral("reportWriteJson"));
    writeJson->setToolTip(QStringLiteral("The same content for machines, every action included"));
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("reportStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Visit"), visit);
    form->addRow(QString(), summary);
    form->addRow(QStringLiteral("&Notes"), notes);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(writePdf, QDialogButtonBox::ActionRole);
    buttons->addButton(writeJson, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form, 1);
    layout->addWidget(status);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(visit, &QComboBox::activated, this, [this](int index) {
        const QString id = visit->itemData(index).toString();
        if (!id.isEmpty() && id != visitId_) {
            visitId_ = id;
            visit_.reset();
            emit visitChosen(id);
        }
    });
    connect(writePdf, &QPushButton::clicked, this, [this] { writeAs(Format::Pdf); });
    connect(writeJson, &QPushButton::clicked, this, [this] { writeAs(Format::Json); });
    showProblem(QString());
}

void ReportDialog::showChoices(const std::vector<servicelog::VisitSummary>& visits, const QString& chosen) {
    const QSignalBlocker quiet(visit);
    visit->clear();
    for (const servicelog::VisitSummary& v : visits) {
        visit->addItem(choiceText(v), v.id);
    }
    const int at = visit->findData(chosen);
    if (at < 0 && !chosen.isEmpty()) {
        visit->insertItem(0, chosen, chosen); // older than the visits listed
    }
    visit->setCurrentIndex(std::max(at, 0));
    if (!chosen.isEmpty() && chosen != visitId_) {
        visitId_ = chosen;
        visit_.reset();
        emit visitChosen(chosen);
    }
}

void ReportDialog::showVisit(const servicelog::VisitRecord& v,
                             const std::optional<servicelog::VisitRecord>& previous) {
    if (v.id != visitId_) {
        return; // another visit was chosen meanwhile
    }
    visit_ = v;
    previous_ = previous;
    int balancers = static_cast<int>(v.balancers.size());
    QStringList serials;
    for (const servicelog::BalancerRecord& b : v.balancers) {
        if (!serials.contains(b.serial)) {
            serials << b.serial;
        }
    }
    QString text =
        QStringLiteral(
            "Site: %1, technician: %2\n%3 to %4%5\n%6 batteries, %7 balancers; %8 snapshots, %9 actions")
            .arg(v.site.isEmpty() ? QStringLiteral("-") : v.site,
                 v.technician.isEmpty() ? QStringLiteral("-") : v.technician, timeText(v.startedAt),
                 v.endedAt.isValid() ? timeText(v.endedAt) : QStringLiteral("now (the visit is open)"),
                 v.endedAt.isValid() ? QStringLiteral(" (%1)").arg(servicelog::endReasonText(v.endReason))
                                     : QString())
            .arg(serials.size())
            .arg(balancers)
            .arg(v.snapshots.size())
            .arg(v.actions.size());
    if (previous) {
        text += QStringLiteral("\nCompared with the visit of %1").arg(timeText(previous->startedAt));
    }
    summary->setText(text);
    notes->setPlainText(v.notes);
    writePdf->setEnabled(true);
    writeJson->setEnabled(true);
    status->clear();
    status->setStyleSheet(QString());
}

void ReportDialog::showProblem(const QString& text) {
    if (!text.isEmpty()) {
        visit_.reset();
    }
    writePdf->setEnabled(visit_.has_value());
    writeJson->setEnabled(visit_.has_value());
    status->setText(text);
    status->setStyleSheet(text.isEmpty() ? QString() : QStringLiteral("QLabel { color: red; }"));
}

QString ReportDialog::suggestedName() const {
    QString name = QStringLiteral("service-report");
    if (visit_ && !visit_->site.isEmpty()) {
        name += '-' + visit_->site;
    }
    if (visit_) {
        name += '-' + visit_->startedAt.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"));
    }
    // Only what every file system takes.
    return name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
}

QString ReportDialog::write(Format format, const QString& path) {
    if (!visit_) {
        return QStringLiteral("No visit to report");
    }
    servicelog::VisitRecord v = *visit_;
    v.notes = notes->toPlainText();
    const report::ReportContent content = report::buildReport(v, previous_);
    if (format == Format::Pdf) {
        const report::PdfResult r = report::writeReportPdf(content, path);
        if (!r.ok) {
            return r.error;
        }
        status->setText(QStringLiteral("Saved to %1 (%2 page%3%4)")
                            .arg(path)
                            .arg(r.pages)
                            .arg(r.pages == 1 ? QString() : QStringLiteral("s"),
                                 r.shortened ? QStringLiteral("; the JSON holds every action") : QString()));
        status->setStyleSheet(QString());
        return {};
    }
    QSaveFile file(path);
    const QByteArray json = report::reportJson(content);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    }
    status->setText(QStringLiteral("Saved to %1").arg(path));
    status->setStyleSheet(QString());
    return {};
}

void ReportDialog::writeAs(Format format) {
    if (!visit_) {
        return;
    }
    const QString path = choosePath(this, suggestedName(), format);
    if (path.isEmpty()) {
        return;
    }
    if (notes->toPlainText() != visit_->notes) {
        visit_->notes = notes->toPlainText();
        emit notesEdited(visitId_, visit_->notes);
    }
    const QString error = write(format, path);
    if (!error.isEmpty()) {
        status->setText(error);
        status->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    }
}

} // namespace zanst::app
