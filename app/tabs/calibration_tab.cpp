#include "tabs/calibration_tab.hpp"

#include "ui/widgets.hpp"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zanst::app {

CalibrationTab::CalibrationTab(QWidget* parent) : QWidget(parent) {
    enableTestMode = makeButton(QStringLiteral("Enable test mode"), this);
    reloadCalData = makeButton(QStringLiteral("Reload cal data"), this);
    label3 = new QLabel(QStringLiteral("Test mode: disabled"), this);
    label3->setObjectName(QStringLiteral("label3"));

    calibrationGridView = new QTableView(this);
    calibrationGridView->setObjectName(QStringLiteral("calibrationGridView"));
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
    tbSerial->setMaxLength(11);
    tbCapacity = new QLineEdit(parametersGroup);
    tbCapacity->setObjectName(QStringLiteral("tbCapacity"));
    tbCapacity->setMaxLength(4);
    tbProdID = new QLineEdit(parametersGroup);
    tbProdID->setObjectName(QStringLiteral("tbProdID"));
    tbProdID->setMaxLength(4);
    buttonSetParams = makeButton(QStringLiteral("set battery parameters"), parametersGroup);

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
