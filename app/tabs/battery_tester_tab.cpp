#include "tabs/battery_tester_tab.hpp"

#include "engine/bus_engine.hpp"
#include "tabs/cell_table_model.hpp"
#include "tabs/recorder_panel.hpp"
#include "tester/bank_computation.hpp"
#include "window/widgets.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
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

BatteryTesterTab::BatteryTesterTab(Globals& globals, BusEngine* engine, QWidget* parent)
    : QWidget(parent), engine_(engine), lastValidCorrection_(tester::kDefaultSetpointCorrection) {
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

    auto* bankRow = new QHBoxLayout(bankValues);
    bankRow->setContentsMargins(0, 0, 0, 0);
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
    bankRow->addWidget(StopSendingMeasurementRequest);
    bankRow->addStretch(1);

    // Service groups; their actions belong to the firmware updater and the calibration.
    updaterGroup = new QGroupBox(QStringLiteral("Updater"), this);
    updaterGroup->setAccessibleName(updaterGroup->title());
    forceUpdate = new QCheckBox(QStringLiteral("Force update"), updaterGroup);
    listBox1 = new QListWidget(updaterGroup);
    listBox1->setObjectName(QStringLiteral("listBox1"));
    listBox1->setAccessibleName(QStringLiteral("Firmware file and updater log"));
    listBox1->setMaximumHeight(80);
    auto* updaterLayout = new QVBoxLayout(updaterGroup);
    updaterLayout->addWidget(forceUpdate);
    updaterLayout->addWidget(listBox1);

    gainGroup = new QGroupBox(QStringLiteral("Gain"), this);
    gainGroup->setAccessibleName(gainGroup->title());
    zeroCurrent = new QPushButton(QStringLiteral("Zero Current"), gainGroup);
    incGain = new QPushButton(QStringLiteral("Inc Gain"), gainGroup);
    defaultGain = new QPushButton(QStringLiteral("Default gain"), gainGroup);
    decGain = new QPushButton(QStringLiteral("Dec Gain"), gainGroup);
    auto* gainLayout = new QGridLayout(gainGroup);
    gainLayout->addWidget(zeroCurrent, 0, 0);
    gainLayout->addWidget(incGain, 0, 1);
    gainLayout->addWidget(defaultGain, 1, 0);
    gainLayout->addWidget(decGain, 1, 1);

    auto* service = new QHBoxLayout;
    service->addWidget(updaterGroup, 1);
    service->addWidget(gainGroup);

    recorder_ = new RecorderPanel(RecorderPanel::Kind::BatteryTester, model_, globals, engine, this);
    batteryTesterGridView = makeCellGrid(model_, QStringLiteral("batteryTesterGridView"),
                                         QStringLiteral("Battery tester cells"), this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bankValues);
    layout->addLayout(service);
    layout->addWidget(recorder_);
    layout->addWidget(batteryTesterGridView, 1);
    layout->addWidget(makeFooter(QStringLiteral("Zanst_connection_BatteryTester"), this));

    connect(tbSetting, &QLineEdit::textChanged, this, &BatteryTesterTab::onSettingEdited);
    connect(sysVoltage, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (engine_ != nullptr) {
            QMetaObject::invokeMethod(engine_, "setSystemVoltage", Qt::QueuedConnection,
                                      Q_ARG(int, text.toInt()));
        }
    });
    if (engine_ != nullptr) {
        connect(engine_, &BusEngine::cellTableChanged, this, &BatteryTesterTab::onCellTable);
        connect(engine_, &BusEngine::bankValuesChanged, this, &BatteryTesterTab::onBankValues);
    }
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
    if (engine_ != nullptr) {
        QMetaObject::invokeMethod(engine_, "setSetpointCorrection", Qt::QueuedConnection,
                                  Q_ARG(int, *correction));
    }
}

void BatteryTesterTab::onCellTable(const tester::CellTable& table) {
    model_->setTable(table);
}

void BatteryTesterTab::onBankValues(const QString& setpoint, const QString& voltage, const QString& current) {
    textBalSetP->setText(setpoint);
    textBatV->setText(voltage);
    tbTotalCurrent->setText(current);
}

void BatteryTesterTab::onShown() {
    recorder_->onShown();
}

void BatteryTesterTab::hideRiskyTools() {
    updaterGroup->hide();
    gainGroup->hide();
    listBox1->hide();
    forceUpdate->hide();
    for (QWidget* w : {zeroCurrent, incGain, defaultGain, decGain}) {
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
