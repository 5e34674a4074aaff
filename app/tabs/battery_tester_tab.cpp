#include "tabs/battery_tester_tab.hpp"

#include "engine/locale_format.hpp"
#include "tabs/gain_group.hpp"
#include "tabs/updater_group.hpp"
#include "tester/bank_computation.hpp"
#include "ui/bank_summary_view.hpp"
#include "ui/cell_grid.hpp"
#include "ui/recorder_panel.hpp"
#include "ui/widgets.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zanst::app {

namespace {

constexpr char kInvalidStyle[] = "QLineEdit { color: red; }";

QLineEdit* readOnlyBox(const QString& objectName, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(objectName);
    box->setReadOnly(true);
    box->setMaximumWidth(90);
    return box;
}

} // namespace

BatteryTesterTab::BatteryTesterTab(RecordingLock& lock, QWidget* parent)
    : TabPage(parent), lastValidCorrection_(tester::kDefaultSetpointCorrection) {
    model_ = new CellTableModel(this);

    // Bank values and the inputs of the bank computation.
    bankValues = new QWidget(this);
    bankValues->setObjectName(QStringLiteral("bankValues"));
    textBatV = readOnlyBox(QStringLiteral("textBatV"), bankValues);
    tbTotalCurrent = readOnlyBox(QStringLiteral("tbTotalCurrent"), bankValues);
    textBalSetP = readOnlyBox(QStringLiteral("textBalSetP"), bankValues);
    tbSetting = new QLineEdit(QString::number(tester::kDefaultSetpointCorrection), bankValues);
    tbSetting->setObjectName(QStringLiteral("tbSetting"));
    tbSetting->setMaximumWidth(70);
    sysVoltage = new QComboBox(bankValues);
    sysVoltage->setObjectName(QStringLiteral("sysVoltage"));
    sysVoltage->addItems({QStringLiteral("12"), QStringLiteral("24"), QStringLiteral("48")});
    sysVoltage->setCurrentIndex(0);
    StopSendingMeasurementRequest =
        new QCheckBox(QStringLiteral("StopSendingMeasurementRequest"), bankValues);
    StopSendingMeasurementRequest->setObjectName(QStringLiteral("StopSendingMeasurementRequest"));

    textBatV->setToolTip(QStringLiteral("Bank voltage computed from the cell voltages"));
    tbTotalCurrent->setToolTip(QStringLiteral("Bank current from the balancers' current sensors"));
    textBalSetP->setToolTip(
        QStringLiteral("The balancing setpoint sent with every measurement request; cells "
                       "above it bleed"));
    tbSetting->setToolTip(QStringLiteral("Raises the setpoint by this many mV per ampere of bank current "
                                         "(1 to 1000; red while the text is not valid)"));
    sysVoltage->setToolTip(QStringLiteral("Nominal system voltage of the bank"));
    StopSendingMeasurementRequest->setToolTip(QStringLiteral("Kept for compatibility; it has no effect"));

    // The check box on a line of its own: beside the values it left them too narrow to read.
    auto* bankColumn = new QVBoxLayout(bankValues);
    bankColumn->setContentsMargins(0, 0, 0, 0);
    auto* bankRow = new QHBoxLayout;
    bankColumn->addLayout(bankRow);
    bankColumn->addWidget(StopSendingMeasurementRequest);
    const auto addField = [&](const QString& caption, QWidget* box, const QString& unit) {
        bankRow->addWidget(makeCaption(caption, box, bankValues));
        bankRow->addWidget(box);
        bankRow->addWidget(new QLabel(unit, bankValues));
        bankRow->addSpacing(8);
    };
    addField(QStringLiteral("Voltage"), textBatV, QStringLiteral("V"));
    addField(QStringLiteral("Current"), tbTotalCurrent, QStringLiteral("A"));
    addField(QStringLiteral("Balancer Setpoint"), textBalSetP, QStringLiteral("V"));
    addField(QStringLiteral("Setpoint correction"), tbSetting, QStringLiteral("mV/A"));
    addField(QStringLiteral("System"), sysVoltage, QStringLiteral("V"));
    bankRow->addStretch(1);

    updaterGroup = new UpdaterGroup(this);
    gainGroup = new GainGroup(this);
    auto* service = new QHBoxLayout;
    service->addWidget(updaterGroup, 1);
    service->addWidget(gainGroup);

    recorder_ = new RecorderPanel(RecorderPanel::Kind::BatteryTester, model_, lock, this);
    batteryTesterGridView = makeCellGrid(model_, QStringLiteral("batteryTesterGridView"),
                                         QStringLiteral("Battery tester cells"), this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bankValues);
    layout->addLayout(service);
    layout->addWidget(recorder_);
    staleNote_ = new StaleNote(this);
    layout->addWidget(staleNote_);
    summary_ = new BankSummaryView(this);
    layout->addWidget(summary_);
    layout->addWidget(batteryTesterGridView, 1);
    layout->addWidget(makeFooter(QStringLiteral("Zanst_connection_BatteryTester"), this));

    // The gain buttons act on the battery of the table's current row.
    connect(batteryTesterGridView->selectionModel(), &QItemSelectionModel::currentChanged, gainGroup,
            [this](const QModelIndex& current) {
                gainGroup->setTargetRow(current.isValid() ? current.row() : -1);
            });
    connect(tbSetting, &QLineEdit::textChanged, this, &BatteryTesterTab::onSettingEdited);
    connect(sysVoltage, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { emit systemVoltageChanged(text.toInt()); });
}

void BatteryTesterTab::onSettingEdited(const QString& text) {
    const std::optional<int> correction =
        tester::parseSetpointCorrection(text.toStdString(), localeTextFormat().decimalPoint);
    if (!correction) {
        // The last valid correction stays in use until the text is a valid one again.
        tbSetting->setStyleSheet(QString::fromLatin1(kInvalidStyle));
        return;
    }
    tbSetting->setStyleSheet(QString());
    lastValidCorrection_ = *correction;
    emit setpointCorrectionChanged(*correction);
}

void BatteryTesterTab::showSnapshot(const bank::BankSnapshot& snapshot) {
    model_->setSnapshot(snapshot);
    summary_->showSnapshot(snapshot);
}

void BatteryTesterTab::showSummaryValues(const bank::BankValues& values) {
    summary_->showBankValues(values);
}

void BatteryTesterTab::setStale(bool stale, const QString& age) {
    model_->setStale(stale);
    summary_->setStale(stale);
    staleNote_->setStale(stale, age);
    for (QWidget* box : std::initializer_list<QWidget*>{textBatV, tbTotalCurrent, textBalSetP}) {
        greyOut(box, stale);
    }
}

void BatteryTesterTab::showBankValues(const bank::BankValues& values) {
    const bank::BankTexts texts = bank::bankTexts(values, localeTextFormat());
    textBalSetP->setText(QString::fromStdString(texts.setpoint));
    textBatV->setText(QString::fromStdString(texts.voltage));
    tbTotalCurrent->setText(QString::fromStdString(texts.current));
}

void BatteryTesterTab::shown() {
    recorder_->onShown();
}

void BatteryTesterTab::hideRiskyTools() {
    updaterGroup->hide();
    gainGroup->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{updaterGroup->listBox1, updaterGroup->forceUpdate,
                                                      gainGroup->zeroCurrent, gainGroup->incGain,
                                                      gainGroup->defaultGain, gainGroup->decGain}) {
        w->hide();
    }
    // The bank row: boxes with their captions and units, and the unused check box. The grid
    // takes the room they leave.
    for (QWidget* w : bankValues->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        w->hide();
    }
    bankValues->hide();
    recorder_->hideRiskyTools();
}

} // namespace zanst::app
