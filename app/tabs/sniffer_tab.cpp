#include "tabs/sniffer_tab.hpp"

#include "ui/bank_summary_view.hpp"
#include "ui/cell_grid.hpp"
#include "ui/recorder_panel.hpp"
#include "ui/widgets.hpp"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

namespace zanst::app {

using sniffer::BmsField;

SnifferTab::SnifferTab(RecordingLock& lock, QWidget* parent) : TabPage(parent) {
    model_ = new CellTableModel(this);

    auto* info = new QGroupBox(QStringLiteral("BMS info"), this);
    info->setAccessibleName(info->title());
    auto* grid = new QGridLayout(info);
    struct FieldRow {
        BmsField field;
        const char* caption;
        const char* unit;
        const char* name;
    };
    const FieldRow rows[] = {
        {BmsField::Serial, "Serial", "", "tbSnifferSerial"},
        {BmsField::Pid, "PID", "", "tbSnifferPid"},
        {BmsField::SystemVbat, "System Vbat", "V", "tbSnifferVbat"},
        {BmsField::BmsCurrent, "BMS Current", "A", "tbSnifferCurrent"},
        {BmsField::BalancerSetpoint, "Balancer Setpoint", "mV", "tbSnifferSetpoint"},
        {BmsField::Status, "Status", "", "tbSnifferStatus"},
    };
    int at = 0;
    for (const FieldRow& row : rows) {
        auto* box = new QLineEdit(info);
        box->setObjectName(QString::fromLatin1(row.name));
        box->setReadOnly(true);
        box->setMaximumWidth(130);
        fields_[static_cast<std::size_t>(row.field)] = box;
        QLabel* caption = makeCaption(QString::fromLatin1(row.caption), box, info);
        const int r = at % 3;
        const int c = (at / 3) * 3;
        grid->addWidget(caption, r, c);
        grid->addWidget(box, r, c + 1);
        if (row.unit[0] != '\0') {
            grid->addWidget(new QLabel(QString::fromLatin1(row.unit), info), r, c + 2);
        }
        if (row.field == BmsField::Status) {
            statusCaption_ = caption;
        }
        ++at;
    }
    grid->setColumnStretch(6, 1);

    recorder_ = new RecorderPanel(RecorderPanel::Kind::DataMonitor, model_, lock, this);
    BattDataMonitorGridView = makeCellGrid(model_, QStringLiteral("BattDataMonitorGridView"),
                                           QStringLiteral("Data monitor cells"), this);
    auto* note = new QLabel(QStringLiteral("The data monitor supports a maximum readout of 160 cells, more "
                                           "might produce unexpected results"),
                            this);
    note->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    staleNote_ = new StaleNote(this);
    adapterWarning_ = new WarningLine(QStringLiteral("adapterWarning"), this);
    layout->addWidget(adapterWarning_);
    layout->addWidget(info);
    layout->addWidget(staleNote_);
    layout->addWidget(recorder_);
    summary_ = new BankSummaryView(this);
    layout->addWidget(summary_);
    layout->addWidget(BattDataMonitorGridView, 1);
    layout->addWidget(note);
    layout->addWidget(makeFooter(QStringLiteral("Zanst_connection"), this));
}

void SnifferTab::showSnifferReport(const sniffer::SnifferReport& report) {
    for (const sniffer::BmsFieldText& f : report.bmsInfoReceived) {
        showField(f.field, QString::fromLatin1(f.text.data(), static_cast<qsizetype>(f.text.size())));
    }
}

void SnifferTab::showField(sniffer::BmsField field, const QString& text) {
    const auto i = static_cast<std::size_t>(field);
    if (i < fields_.size()) {
        fields_[i]->setText(text);
    }
}

void SnifferTab::clearFields() {
    for (QLineEdit* box : fields_) {
        box->clear();
    }
}

void SnifferTab::setStale(bool stale, const QString& age) {
    model_->setStale(stale);
    summary_->setStale(stale);
    staleNote_->setStale(stale, age);
    for (QLineEdit* box : fields_) {
        greyOut(box, stale);
    }
}

void SnifferTab::showSummaryValues(const bank::BankValues& values) {
    summary_->showBankValues(values);
}

void SnifferTab::setAdapterWarning(const QString& text) {
    adapterWarning_->setWarning(text);
}

void SnifferTab::showSnapshot(const bank::BankSnapshot& snapshot) {
    model_->setSnapshot(snapshot);
    summary_->showSnapshot(snapshot);
}

void SnifferTab::shown() {
    recorder_->onShown();
}

void SnifferTab::hideRiskyTools() {
    recorder_->hideRiskyTools();
    bmsField(BmsField::Status)->hide();
    statusCaption_->hide();
}

} // namespace zanst::app
