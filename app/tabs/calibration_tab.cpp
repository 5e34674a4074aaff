#include "tabs/calibration_tab.hpp"

#include "ui/calibration_grid.hpp"
#include "ui/widgets.hpp"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zanst::app {

namespace {

constexpr char kTypingLimit[] = "zanstTypingLimit";

// The text limits of the boxes apply to typing; a prompt the tool puts in a box may be longer
// ("invalid format" in the 11-character serial box) and must show whole.
void limitTyping(QLineEdit* box, int limit) {
    box->setProperty(kTypingLimit, limit);
    box->setMaxLength(limit);
    QObject::connect(box, &QLineEdit::textEdited, box, [box, limit](const QString& text) {
        if (text.size() <= limit) {
            box->setMaxLength(limit);
        }
    });
}

void showBox(QLineEdit* box, const service::BoxView& view) {
    if (view.text) {
        const QString text = QString::fromStdString(*view.text);
        const int limit = box->property(kTypingLimit).toInt();
        if (limit > 0) {
            box->setMaxLength(std::max(limit, static_cast<int>(text.size())));
        }
        box->setText(text);
    }
    switch (view.colour) {
    case service::BoxView::Colour::Unchanged:
        break;
    case service::BoxView::Colour::Black:
        box->setStyleSheet(QString());
        break;
    case service::BoxView::Colour::Red:
        box->setStyleSheet(QStringLiteral("QLineEdit { color: red; }"));
        break;
    }
}

std::string utf8(const QLineEdit* box) {
    return box->text().toStdString();
}

} // namespace

CalibrationTab::CalibrationTab(QWidget* parent) : TabPage(parent) {
    enableTestMode = makeButton(QStringLiteral("Enable test mode"), this);
    reloadCalData = makeButton(QStringLiteral("Reload cal data"), this);
    enableTestMode->setToolTip(QStringLiteral("Ask every balancer to enter test mode again"));
    reloadCalData->setToolTip(
        QStringLiteral("The balancers take back their stored calibration, dropping what "
                       "was not saved"));
    label3 = new QLabel(QStringLiteral("Test mode: disabled"), this);
    label3->setObjectName(QStringLiteral("label3"));

    label3->setAccessibleName(label3->text());
    model_ = new CalibrationTableModel(this);
    calibrationGridView = makeCalibrationGrid(model_, this);
    calibrationGridView->setAccessibleName(QStringLiteral("Calibration cells"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(enableTestMode);
    buttons->addWidget(reloadCalData);
    buttons->addSpacing(16);
    buttons->addWidget(label3);
    buttons->addStretch(1);

    auto* groups = new QHBoxLayout;
    groups->addWidget(buildCalibrationGroup());
    groups->addWidget(buildParametersGroup(), 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(groups);
    layout->addWidget(calibrationGridView, 1);

    connect(enableTestMode, &QPushButton::clicked, this,
            [this] { emit actionRequested(service::ServiceAction::EnableTestMode); });
    connect(reloadCalData, &QPushButton::clicked, this,
            [this] { emit actionRequested(service::ServiceAction::ReloadCalData); });
    connect(cmdCalVoltage, &QPushButton::clicked, this,
            [this] { calibrateFrom(txtVoltageMeas, service::CalibrationKind::Voltage); });
    connect(cmdCalHighCurrent, &QPushButton::clicked, this,
            [this] { calibrateFrom(txtCurrentHighMeas, service::CalibrationKind::CurrentGain); });
    connect(cmdCalOffset, &QPushButton::clicked, this, &CalibrationTab::onCalibrateOffset);
    connect(cmdSaveCal, &QPushButton::clicked, this, &CalibrationTab::onSaveCalibration);
    connect(buttonSetParams, &QPushButton::clicked, this, &CalibrationTab::onSetParameters);
    connect(calibrationGridView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { updateRowButtons(); });
    showTestModeUnconfirmed();
}

int CalibrationTab::selectedCellId() const {
    const QModelIndex current = calibrationGridView->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void CalibrationTab::showSnapshot(const bank::BankSnapshot& snapshot) {
    model_->setSnapshot(snapshot);
    if (model_->balancers() == 0) {
        // The tables emptied (the bus fell silent): no balancer is left to be in test mode.
        showTestMode(false);
        return;
    }
    updateRowButtons();
}

void CalibrationTab::setTestModeLabel(bool enabled) {
    label3->setText(enabled ? QStringLiteral("Test mode: enabled") : QStringLiteral("Test mode: disabled"));
    label3->setStyleSheet(enabled ? QStringLiteral("QLabel { color: black; }")
                                  : QStringLiteral("QLabel { color: red; }"));
    label3->setAccessibleName(label3->text());
}

void CalibrationTab::showTestMode(bool allInTestMode) {
    allInTestMode_ = allInTestMode;
    buttonSetParams->setEnabled(allInTestMode);
    setTestModeLabel(allInTestMode);
    updateRowButtons();
}

void CalibrationTab::onCurrent(bool current) {
    if (!current) {
        showTestModeUnconfirmed();
    }
}

void CalibrationTab::showTestModeUnconfirmed() {
    showTestMode(false);
}

void CalibrationTab::updateRowButtons() {
    // One rule for the label and the buttons: the calibrate buttons act only while test mode is
    // confirmed (the label reads "Test mode: enabled"), and every button for one balancer only on
    // a row that holds one.
    const int row = selectedCellId();
    const bool balancer = service::balancerAddress(row).has_value() && row < model_->balancers();
    // Offset and gain only for a balancer that measures current.
    const bool current = (model_->infoFlags(row) & 0x03) != 0;
    cmdCalVoltage->setEnabled(allInTestMode_ && balancer);
    cmdCalOffset->setEnabled(allInTestMode_ && balancer && current);
    cmdCalHighCurrent->setEnabled(allInTestMode_ && balancer && current);
    cmdSaveCal->setEnabled(balancer);
}

void CalibrationTab::calibrateFrom(QLineEdit* box, service::CalibrationKind kind) {
    const int row = selectedCellId();
    const std::string text = utf8(box);
    const service::CalibrateRequest request = kind == service::CalibrationKind::Voltage
                                                  ? service::calibrateVoltage(row, text)
                                                  : service::calibrateGain(row, text);
    showBox(box, service::boxView(request.input));
    if (!request.frame.empty()) {
        emit calibrateRequested(row, kind, request.input.value);
    }
}

void CalibrationTab::onCalibrateOffset() {
    const int row = selectedCellId();
    if (service::balancerAddress(row)) {
        emit calibrateRequested(row, service::CalibrationKind::CurrentOffset, 0);
    }
}

void CalibrationTab::onSaveCalibration() {
    const int row = selectedCellId();
    if (service::balancerAddress(row)) {
        emit saveCalibrationRequested(row);
    }
}

void CalibrationTab::onSetParameters() {
    const std::string serial = utf8(tbSerial);
    const std::string capacity = utf8(tbCapacity);
    const std::string productId = utf8(tbProdID);
    const service::BatteryParametersOutcome outcome =
        service::readBatteryParameters({serial, capacity, productId});
    showBox(tbSerial, outcome.serial);
    showBox(tbCapacity, outcome.capacity);
    showBox(tbProdID, outcome.productId);
    if (outcome.parameters) {
        emit parametersRequested(*outcome.parameters);
    }
}

QGroupBox* CalibrationTab::buildCalibrationGroup() {
    calibrationGroup = new QGroupBox(QStringLiteral("Ravelock Callibration"), this);
    calibrationGroup->setAccessibleName(calibrationGroup->title());
    txtVoltageMeas = new QLineEdit(calibrationGroup);
    txtVoltageMeas->setObjectName(QStringLiteral("txtVoltageMeas"));
    txtCurrentHighMeas = new QLineEdit(calibrationGroup);
    txtCurrentHighMeas->setObjectName(QStringLiteral("txtCurrentHighMeas"));
    cmdCalVoltage = makeButton(QStringLiteral("calibrate voltage"), calibrationGroup);
    cmdCalOffset = makeButton(QStringLiteral("calibrate offset"), calibrationGroup);
    cmdCalHighCurrent = makeButton(QStringLiteral("calibrate gain"), calibrationGroup);
    cmdSaveCal = makeButton(QStringLiteral("save calibration"), calibrationGroup);
    const QString row = QStringLiteral(" of the balancer in the table's selected row");
    txtVoltageMeas->setToolTip(QStringLiteral("What a reference meter reads across the cell, in V"));
    txtCurrentHighMeas->setToolTip(QStringLiteral("What a reference meter reads through the battery, in A "
                                                  "(at least 0.5 A)"));
    cmdCalVoltage->setToolTip(QStringLiteral("Set the voltage gain") + row +
                              QStringLiteral(" so that it reads the measured voltage"));
    cmdCalOffset->setToolTip(QStringLiteral("Take the present current reading") + row +
                             QStringLiteral(" as zero; no current may flow"));
    cmdCalHighCurrent->setToolTip(QStringLiteral("Set the current gain") + row +
                                  QStringLiteral(" so that it reads the measured current"));
    cmdSaveCal->setToolTip(QStringLiteral("Store the calibration in the balancers; this clears their battery "
                                          "parameters"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Actual Measurement"), calibrationGroup), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Calibration Steps"), calibrationGroup), 0, 3);
    grid->addWidget(makeCaption(QStringLiteral("Cell voltage"), txtVoltageMeas, calibrationGroup), 1, 0);
    grid->addWidget(txtVoltageMeas, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("V"), calibrationGroup), 1, 2);
    grid->addWidget(cmdCalVoltage, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("1:Current offset"), calibrationGroup), 2, 0);
    grid->addWidget(cmdCalOffset, 2, 3);
    grid->addWidget(makeCaption(QStringLiteral("2:Current"), txtCurrentHighMeas, calibrationGroup), 3, 0);
    grid->addWidget(txtCurrentHighMeas, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("A"), calibrationGroup), 3, 2);
    grid->addWidget(cmdCalHighCurrent, 3, 3);

    auto* column = new QVBoxLayout(calibrationGroup);
    column->addLayout(grid);
    column->addWidget(cmdSaveCal, 0, Qt::AlignLeft);
    return calibrationGroup;
}

QGroupBox* CalibrationTab::buildParametersGroup() {
    parametersGroup = new QGroupBox(QStringLiteral("Battery Parameters"), this);
    parametersGroup->setAccessibleName(parametersGroup->title());
    tbSerial = new QLineEdit(parametersGroup);
    tbSerial->setObjectName(QStringLiteral("tbSerial"));
    limitTyping(tbSerial, 11);
    tbCapacity = new QLineEdit(parametersGroup);
    tbCapacity->setObjectName(QStringLiteral("tbCapacity"));
    limitTyping(tbCapacity, 4);
    tbProdID = new QLineEdit(parametersGroup);
    tbProdID->setObjectName(QStringLiteral("tbProdID"));
    limitTyping(tbProdID, 4);
    buttonSetParams = makeButton(QStringLiteral("set battery parameters"), parametersGroup);
    tbSerial->setToolTip(QStringLiteral("The battery's serial, up to 11 characters"));
    tbProdID->setToolTip(QStringLiteral("Product id of the battery model, 4 hexadecimal digits"));
    buttonSetParams->setToolTip(
        QStringLiteral("Write serial, capacity and product id to every balancer in test "
                       "mode; they show once the balancers are enumerated again"));

    auto* grid = new QGridLayout;
    grid->addWidget(makeCaption(QStringLiteral("Battery Serial"), tbSerial, parametersGroup), 0, 0);
    grid->addWidget(tbSerial, 0, 1);
    grid->addWidget(makeCaption(QStringLiteral("Capacity"), tbCapacity, parametersGroup), 1, 0);
    grid->addWidget(tbCapacity, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Ah"), parametersGroup), 1, 2);
    grid->addWidget(makeCaption(QStringLiteral("ProdID"), tbProdID, parametersGroup), 2, 0);
    grid->addWidget(tbProdID, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("A0C8"), parametersGroup), 2, 2);
    grid->addWidget(buttonSetParams, 3, 1);

    auto* column = new QVBoxLayout(parametersGroup);
    column->addLayout(grid);
    for (const char* note :
         {"Battery parameters can only be set ONCE after calibration.",
          "All balancers in the list will have the same serial number and capacity.",
          "(\"Save calibration\" rewrites the calibration page and clears ", "the battery parameters.)"}) {
        column->addWidget(new QLabel(QString::fromLatin1(note), parametersGroup));
    }
    return parametersGroup;
}

} // namespace zanst::app
