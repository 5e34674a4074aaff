#include "tabs/cell_panel.hpp"

#include "emulator/bank_editor.hpp"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

namespace zanst::app {

namespace {

constexpr int kEntryWidth = 52;

QSlider* makeSlider(QWidget* parent, const QString& name, emulator::SliderRange range, int value,
                    int pageStep, int tickInterval) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(range.min, range.max);
    slider->setValue(value);
    slider->setSingleStep(1);
    slider->setPageStep(pageStep);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(tickInterval);
    return slider;
}

} // namespace

QLineEdit* makeCellEntry(QWidget* parent, const QString& objectName, const QString& accessibleName,
                         const QString& tip, QObject* filter) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(objectName);
    box->setAccessibleName(accessibleName);
    box->setToolTip(tip);
    box->setFixedWidth(kEntryWidth);
    box->setAlignment(Qt::AlignRight);
    box->installEventFilter(filter);
    return box;
}

CellPanel::CellPanel(int cell, QObject* entryFilter, QWidget* parent)
    : QGroupBox(QStringLiteral("Cell %1").arg(cell + 1), parent), cell_(cell) {
    using emulator::Field;
    const int n = cell + 1;
    setObjectName(QStringLiteral("groupBoxCell%1").arg(n));
    setAccessibleName(title());
    // A hidden block keeps its place, so the layout does not jump with the preset.
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);

    // Ticks every 200 mV and every 10 degC.
    voltageSlider = makeSlider(this, QStringLiteral("mVTrackbarCell%1").arg(n),
                               emulator::rangeOf(Field::Voltage), emulator::kVoltageDefaultMv, 100, 200);
    voltageSlider->setAccessibleName(QStringLiteral("Cell %1 voltage slider").arg(n));
    voltageEntry = makeCellEntry(
        this, QStringLiteral("tbCell%1Voltage").arg(n), QStringLiteral("Cell %1 voltage").arg(n),
        QStringLiteral("Cell voltage, 1800 to 4000 mV; Enter applies it"), entryFilter);
    tempSlider = makeSlider(this, QStringLiteral("TempTrackbarCell%1").arg(n),
                            emulator::rangeOf(Field::Temperature), emulator::kTempDefaultTenths, 10, 100);
    tempSlider->setAccessibleName(QStringLiteral("Cell %1 temperature slider").arg(n));
    tempEntry = makeCellEntry(
        this, QStringLiteral("tbTemp%1").arg(n), QStringLiteral("Cell %1 temperature").arg(n),
        QString::fromUtf8("Cell temperature in whole °C, -40 to 80; Enter applies it"), entryFilter);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(6);
    grid->addWidget(voltageSlider, 0, 0);
    grid->addWidget(voltageEntry, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("mV"), this), 0, 2);
    grid->addWidget(tempSlider, 1, 0);
    grid->addWidget(tempEntry, 1, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("°C"), this), 1, 2);
    grid->setColumnStretch(0, 1);
}

} // namespace zanst::app
