#include "tabs/bms_tester_tab.hpp"

#include "bus/hex.hpp"
#include "emulator/entries.hpp"
#include "emulator/presets.hpp"
#include "engine/locale_format.hpp"
#include "tabs/cell_panel.hpp"
#include "tabs/playback_group.hpp"
#include "ui/widgets.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace zanst::app {

using emulator::Field;

namespace {

constexpr int kEntryWidth = 52;
constexpr int kInfoWidth = 70;
constexpr int kDiagramWidth = 280;
const char* const kInvalidProperty = "zanstInvalid";

template <typename T, std::size_t N> int indexIn(const std::array<T*, N>& controls, const QObject* control) {
    for (std::size_t i = 0; i < N; ++i) {
        if (controls[i] == control) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

void setText(QLineEdit* box, const std::string& text) {
    const QString shown = qs(text);
    if (box->text() != shown) {
        box->setText(shown);
    }
}

// An entry that is not a whole number shows in red until it is fixed. A played value is no entry.
void markEntry(QLineEdit* box, const std::string& text, bool played = false) {
    const bool invalid = !played && !emulator::isInteger(text);
    if (box->property(kInvalidProperty).toBool() == invalid) {
        return;
    }
    box->setProperty(kInvalidProperty, invalid);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Text,
                     invalid ? QColor(Qt::red) : box->parentWidget()->palette().color(QPalette::Text));
    box->setPalette(palette);
}

QLineEdit* makeReadOnly(QWidget* parent, const QString& name, const QString& text = QString()) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::TabFocus); // readable by keyboard, not a typing target
    return box;
}

} // namespace

BmsTesterTab::BmsTesterTab(QWidget* parent) : TabPage(parent) {
    groupBoxEmulator = new QGroupBox(QStringLiteral("Battery Cells Emulator"), this);
    groupBoxEmulator->setObjectName(QStringLiteral("groupBoxEmulator"));
    groupBoxEmulator->setAccessibleName(groupBoxEmulator->title());

    auto* inside = new QVBoxLayout(groupBoxEmulator);
    inside->setContentsMargins(8, 6, 8, 8);
    inside->setSpacing(6);
    inside->addWidget(buildTop());
    wiringWarning =
        new QLabel(QStringLiteral("the bus returns our answers: connect the BMS alone, see the diagram"),
                   groupBoxEmulator);
    wiringWarning->setObjectName(QStringLiteral("wiringWarning"));
    wiringWarning->setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
    wiringWarning->setAccessibleName(wiringWarning->text());
    wiringWarning->hide();
    inside->addWidget(wiringWarning);
    adapterWarning = new WarningLine(QStringLiteral("adapterWarning"), this);
    inside->addWidget(adapterWarning);
    inside->addWidget(buildBatteryGroup(), 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(groupBoxEmulator);

    editor_.setTextFormat(localeTextFormat());
    showEditor();
}

QWidget* BmsTesterTab::buildTop() {
    auto* top = new QWidget(groupBoxEmulator);
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    auto* form = new QGridLayout;
    form->setHorizontalSpacing(8);
    form->setVerticalSpacing(6);

    tbNumBat = new QLineEdit(QStringLiteral("1"), top);
    tbNumBat->setObjectName(QStringLiteral("tbNumBat"));
    tbNumBat->setFixedWidth(kEntryWidth);
    tbNumBat->setToolTip(QStringLiteral("Whole number of batteries; Enter applies it"));
    tbNumBat->installEventFilter(this);
    labelNumBat = makeCaption(QStringLiteral("Number of Batteries in parallel:"), tbNumBat, top);
    labelMax10 = new QLabel(QStringLiteral("(Max 10)"), top);
    auto* numBatRow = new QHBoxLayout;
    numBatRow->addWidget(tbNumBat);
    numBatRow->addWidget(labelMax10);
    numBatRow->addStretch(1);
    form->addWidget(labelNumBat, 0, 0);
    form->addLayout(numBatRow, 0, 1);

    cbBatteryPresets = new QComboBox(top);
    cbBatteryPresets->setObjectName(QStringLiteral("cbBatteryPresets"));
    for (const auto caption : emulator::batteryPresetCaptions) {
        cbBatteryPresets->addItem(
            QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
    }
    // No selection at start, so that choosing the first model still announces it; the list
    // shows the first caption meanwhile, in the normal text colour.
    cbBatteryPresets->setCurrentIndex(-1);
    cbBatteryPresets->setPlaceholderText(cbBatteryPresets->itemText(0));
    QPalette presetPalette = cbBatteryPresets->palette();
    presetPalette.setColor(QPalette::PlaceholderText, presetPalette.color(QPalette::ButtonText));
    cbBatteryPresets->setPalette(presetPalette);
    cbBatteryPresets->setToolTip(
        QStringLiteral("The battery model the emulated bank reports: cells in series, "
                       "capacity and product id"));
    form->addWidget(makeCaption(QStringLiteral("Zanthe Model:"), cbBatteryPresets, top), 1, 0);
    form->addWidget(cbBatteryPresets, 1, 1);

    cbFwVersion = new QComboBox(top);
    cbFwVersion->setObjectName(QStringLiteral("cbFwVersion"));
    cbFwVersion->addItems({QStringLiteral("v1.00"), QStringLiteral("v1.01"), QStringLiteral("v1.02")});
    cbFwVersion->setCurrentIndex(-1);
    cbFwVersion->setMinimumWidth(90);
    cbFwVersion->setToolTip(QStringLiteral("The firmware version the emulated balancers report to the BMS"));
    auto* fwRow = new QHBoxLayout;
    fwRow->addWidget(cbFwVersion);
    fwRow->addStretch(1);
    form->addWidget(makeCaption(QStringLiteral("Firmware version:"), cbFwVersion, top), 2, 0);
    form->addLayout(fwRow, 2, 1);
    form->setColumnStretch(1, 1);
    left->addLayout(form);

    auto* boxes = new QHBoxLayout;
    boxes->setSpacing(8);
    boxes->addWidget(buildSentBox(), 1);
    boxes->addWidget(buildReceivedBox(), 1);
    left->addLayout(boxes);
    playbackGroup = new PlaybackGroup(top);
    left->addWidget(playbackGroup);
    left->addStretch(1);
    row->addLayout(left, 1);

    auto* brand = new QVBoxLayout;
    brand->setSpacing(4);
    brand->addWidget(makeLogo(top), 0, Qt::AlignRight);
    QLabel* diagram = makePicture(QStringLiteral("Zanst_connection_BMSTester"), kDiagramWidth, top);
    diagram->setAccessibleName(QStringLiteral("Wiring diagram"));
    brand->addWidget(diagram, 0, Qt::AlignRight);
    QLabel* legal = makeLegalLabel(top);
    legal->setFixedWidth(kDiagramWidth);
    brand->addWidget(legal, 0, Qt::AlignRight);
    brand->addStretch(1);
    row->addLayout(brand);

    connect(cbBatteryPresets, &QComboBox::currentIndexChanged, this,
            &BmsTesterTab::cbBatteryPresets_SelectedIndexChanged);
    connect(cbFwVersion, &QComboBox::currentIndexChanged, this, [this](int index) {
        editor_.setFirmwareIndex(index);
        if (!showing_) {
            publishSettings();
        }
    });
    connect(tbNumBat, &QLineEdit::textEdited, this, [this] { tbNumBat_KeyPress(false); });
    return top;
}

QGroupBox* BmsTesterTab::buildSentBox() {
    GroupboxSentBMSInfo = new QGroupBox(QStringLiteral("Sent BMS Info"), this);
    GroupboxSentBMSInfo->setObjectName(QStringLiteral("GroupboxSentBMSInfo"));
    GroupboxSentBMSInfo->setAccessibleName(GroupboxSentBMSInfo->title());
    auto* grid = new QGridLayout(GroupboxSentBMSInfo);
    grid->setVerticalSpacing(4);

    const emulator::SentBmsInfo start;
    tbSentBankVoltage =
        makeReadOnly(GroupboxSentBMSInfo, QStringLiteral("tbSentBankVoltage"), qs(start.bankVoltage));
    tbSentBankCurrent =
        makeReadOnly(GroupboxSentBMSInfo, QStringLiteral("tbSentBankCurrent"), qs(start.current));
    tbSentBankAvgTemp =
        makeReadOnly(GroupboxSentBMSInfo, QStringLiteral("tbSentBankAvgTemp"), qs(start.avgTemp));
    tbSentBMSInfoBattInParallel =
        makeReadOnly(GroupboxSentBMSInfo, QStringLiteral("tbSentBMSInfoBattInParallel"), QStringLiteral("1"));
    int row = 0;
    auto add = [&](const QString& caption, QLineEdit* box, const QString& unit) {
        QLabel* label = makeCaption(caption, box, GroupboxSentBMSInfo);
        box->setMaximumWidth(kInfoWidth);
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1);
        if (!unit.isEmpty()) {
            grid->addWidget(new QLabel(unit, GroupboxSentBMSInfo), row, 2);
        }
        ++row;
        return label;
    };
    add(QStringLiteral("Bank Voltage"), tbSentBankVoltage, QStringLiteral("V"));
    add(QStringLiteral("Current"), tbSentBankCurrent, QStringLiteral("A"));
    add(QStringLiteral("Avg Temp"), tbSentBankAvgTemp, QString::fromUtf8("°C"));
    labelBatInParallel = add(QStringLiteral("Bat in parallel:"), tbSentBMSInfoBattInParallel, QString());
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(row, 1);
    return GroupboxSentBMSInfo;
}

QGroupBox* BmsTesterTab::buildReceivedBox() {
    groupBoxReceivedBMSInfo = new QGroupBox(QStringLiteral("Received BMS info"), this);
    groupBoxReceivedBMSInfo->setObjectName(QStringLiteral("groupBoxReceivedBMSInfo"));
    groupBoxReceivedBMSInfo->setAccessibleName(groupBoxReceivedBMSInfo->title());
    auto* grid = new QGridLayout(groupBoxReceivedBMSInfo);
    grid->setVerticalSpacing(4);

    tbBmsSerial = makeReadOnly(groupBoxReceivedBMSInfo, QStringLiteral("tbBmsSerial"));
    tbBmsPid = makeReadOnly(groupBoxReceivedBMSInfo, QStringLiteral("tbBmsPid"));
    tbBmsVoltage = makeReadOnly(groupBoxReceivedBMSInfo, QStringLiteral("tbBmsVoltage"));
    tbBmsCurrent = makeReadOnly(groupBoxReceivedBMSInfo, QStringLiteral("tbBmsCurrent"));
    receivedStale = new StaleNote(groupBoxReceivedBMSInfo);
    receivedStale->setWordWrap(true);
    int row = 0;
    auto add = [&](const QString& caption, QLineEdit* box, const QString& unit) {
        grid->addWidget(makeCaption(caption, box, groupBoxReceivedBMSInfo), row, 0);
        if (unit.isEmpty()) {
            grid->addWidget(box, row, 1, 1, 3); // the serial takes the unit's place too
        } else {
            box->setMaximumWidth(kInfoWidth);
            grid->addWidget(box, row, 1);
            grid->addWidget(new QLabel(unit, groupBoxReceivedBMSInfo), row, 2);
        }
        ++row;
    };
    tbBmsSerial->setMaximumWidth(140);
    tbBmsPid->setMaximumWidth(kInfoWidth);
    add(QStringLiteral("Serial"), tbBmsSerial, QString());
    grid->addWidget(makeCaption(QStringLiteral("PID"), tbBmsPid, groupBoxReceivedBMSInfo), row, 0);
    grid->addWidget(tbBmsPid, row++, 1);
    add(QStringLiteral("Voltage"), tbBmsVoltage, QStringLiteral("V"));
    add(QStringLiteral("Current"), tbBmsCurrent, QStringLiteral("A"));
    grid->addWidget(receivedStale, row, 0, 1, 4);
    grid->setColumnStretch(3, 1);
    return groupBoxReceivedBMSInfo;
}

QGroupBox* BmsTesterTab::buildBatteryGroup() {
    groupBoxBattery = new QGroupBox(QStringLiteral("Battery"), groupBoxEmulator);
    groupBoxBattery->setObjectName(QStringLiteral("groupBoxBattery"));
    groupBoxBattery->setAccessibleName(groupBoxBattery->title());
    auto* v = new QVBoxLayout(groupBoxBattery);
    v->setContentsMargins(8, 6, 8, 8);
    v->setSpacing(6);

    auto* header = new QHBoxLayout;
    SeriesParallelLabel = new QLabel(QStringLiteral("Capacity: - Ah"), groupBoxBattery);
    SeriesParallelLabel->setObjectName(QStringLiteral("SeriesParallelLabel"));
    SeriesParallelLabel->setMinimumWidth(130);
    tbCellType = makeReadOnly(groupBoxBattery, QStringLiteral("tbCellType"));
    tbCellType->setMinimumWidth(200);
    labelCellType = makeCaption(QStringLiteral("CellType:"), tbCellType, groupBoxBattery);
    CbEditAll = new QCheckBox(QStringLiteral("Edit all cells"), groupBoxBattery);
    CbEditAll->setObjectName(QStringLiteral("CbEditAll"));
    CbEditAll->setAccessibleName(CbEditAll->text());
    btnResetCells = new QPushButton(QStringLiteral("Reset Cells"), groupBoxBattery);
    btnResetCells->setObjectName(QStringLiteral("btnResetCells"));
    btnResetCells->setAccessibleName(btnResetCells->text());
    CbEditAll->setToolTip(QStringLiteral("Moving one cell's voltage or temperature sets every cell to it"));
    btnResetCells->setToolTip(QStringLiteral("Every cell back to 3300 mV and 20 °C, the current to 0 A"));
    header->addWidget(SeriesParallelLabel);
    header->addWidget(labelCellType);
    header->addWidget(tbCellType);
    header->addStretch(1);
    header->addWidget(CbEditAll);
    header->addSpacing(12);
    header->addWidget(btnResetCells);
    v->addLayout(header);

    auto* current = new QGridLayout;
    current->setHorizontalSpacing(6);
    current->setVerticalSpacing(0);
    tbBatCurrent = makeCellEntry(groupBoxBattery, QStringLiteral("tbBatCurrent"), QStringLiteral("Current"),
                                 QStringLiteral("Bank current, -500 to 500 A; Enter applies it"), this);
    CurrentTrackbar = new QSlider(Qt::Horizontal, groupBoxBattery);
    CurrentTrackbar->setObjectName(QStringLiteral("CurrentTrackbar"));
    CurrentTrackbar->setRange(emulator::kCurrentMinA, emulator::kCurrentMaxA);
    CurrentTrackbar->setValue(emulator::kCurrentDefaultA);
    CurrentTrackbar->setPageStep(10);
    CurrentTrackbar->setAccessibleName(QStringLiteral("Current slider"));
    CurrentTrackbar->setTickPosition(QSlider::TicksBelow);
    CurrentTrackbar->setTickInterval(100);
    auto* ends = new QHBoxLayout;
    ends->addWidget(new QLabel(QStringLiteral("Discharge"), groupBoxBattery));
    ends->addStretch(1);
    ends->addWidget(new QLabel(QStringLiteral("Charge"), groupBoxBattery));
    current->addLayout(ends, 0, 3);
    current->addWidget(makeCaption(QStringLiteral("Current"), tbBatCurrent, groupBoxBattery), 1, 0);
    current->addWidget(tbBatCurrent, 1, 1);
    current->addWidget(new QLabel(QStringLiteral("A"), groupBoxBattery), 1, 2);
    current->addWidget(CurrentTrackbar, 1, 3);
    current->setColumnStretch(3, 1);
    v->addLayout(current);

    auto* cells = new QGridLayout;
    cells->setHorizontalSpacing(6);
    cells->setVerticalSpacing(6);
    for (int cell = 0; cell < kCells; ++cell) {
        auto* panel = new CellPanel(cell, this, groupBoxBattery);
        const auto i = static_cast<std::size_t>(cell);
        cellPanels[i] = panel;
        mVTrackbarCell[i] = panel->voltageSlider;
        tbCellVoltage[i] = panel->voltageEntry;
        TempTrackbarCell[i] = panel->tempSlider;
        tbTemp[i] = panel->tempEntry;
        connect(panel->voltageSlider, &QSlider::valueChanged, this, &BmsTesterTab::ScrollVoltageTrackbar);
        connect(panel->tempSlider, &QSlider::valueChanged, this, &BmsTesterTab::ScrollTempTrackbar);
        QLineEdit* voltageBox = panel->voltageEntry;
        QLineEdit* tempBox = panel->tempEntry;
        connect(voltageBox, &QLineEdit::textEdited, this,
                [this, voltageBox] { KeyPressCellVoltage(voltageBox, false); });
        connect(tempBox, &QLineEdit::textEdited, this,
                [this, tempBox] { KeyPressCellTemperature(tempBox, false); });
        cells->addWidget(panel, cell / emulator::kCellsPerBlock, cell % emulator::kCellsPerBlock);
    }
    v->addLayout(cells);
    v->addStretch(1);

    connect(CurrentTrackbar, &QSlider::valueChanged, this, &BmsTesterTab::ScrollCurrentTrackbar);
    connect(tbBatCurrent, &QLineEdit::textEdited, this, [this] { KeyPressCurrent(false); });
    connect(CbEditAll, &QCheckBox::toggled, this, &BmsTesterTab::CbEditAll_CheckedChanged);
    connect(btnResetCells, &QPushButton::clicked, this, &BmsTesterTab::resetCells);
    return groupBoxBattery;
}

void BmsTesterTab::shown() {
    clearAllBatteryCells();
    setUpBatteryPreset(0, false);
    publishSettings();
}

void BmsTesterTab::hideRiskyTools() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{labelCellType, tbCellType, labelNumBat, tbNumBat, labelMax10,
                                         labelBatInParallel, tbSentBMSInfoBattInParallel}) {
        w->hide();
    }
}

void BmsTesterTab::onCurrent(bool current) {
    if (current && cbFwVersion->currentIndex() < 0) {
        cbFwVersion->setCurrentIndex(emulator::kDefaultFirmwareIndex);
    }
}

// ---- model list and presets ----

void BmsTesterTab::cbBatteryPresets_SelectedIndexChanged(int index) {
    clearAllBatteryCells();
    setUpBatteryPreset(index, true); // the engine rebuilds batserial and announces the change
}

void BmsTesterTab::clearAllBatteryCells() {
    for (int block = 0; block < kCells / emulator::kCellsPerBlock; ++block) {
        showBlock(block, false);
    }
    for (int cell = 0; cell < kCells; ++cell) {
        cellPanels[static_cast<std::size_t>(cell)]->setTitle(QStringLiteral("Cell %1").arg(cell + 1));
    }
}

void BmsTesterTab::showBlock(int block, bool visible) {
    for (int k = 0; k < emulator::kCellsPerBlock; ++k) {
        const int cell = block * emulator::kCellsPerBlock + k;
        if (cell >= 0 && cell < kCells) {
            cellPanels[static_cast<std::size_t>(cell)]->setVisible(visible);
        }
    }
}

void BmsTesterTab::setUpBatteryPreset(int index, bool announce) {
    selectedPreset_ = -1;
    clearAllBatteryCells();
    // Published whole: the responder never answers from a half-changed preset.
    emit presetApplied(index, announce);
    showPreset(index);
}

void BmsTesterTab::showPreset(int index) {
    selectedPreset_ = -1;
    clearAllBatteryCells();
    const auto view = emulator::presetView(index);
    if (!view) {
        return;
    }
    selectedPreset_ = view->selectedPreset;
    SeriesParallelLabel->setText(qs(view->capacityText));
    tbCellType->setText(qs(view->cellType));
    for (int block = 0; block < view->blocksShown; ++block) {
        showBlock(block, true);
    }
    editor_.presetApplied(view->totalCellsShown);
}

// ---- cell and current editing ----

void BmsTesterTab::ScrollVoltageTrackbar(int value) {
    const int cell = indexIn(mVTrackbarCell, sender());
    if (showing_ || cell < 0) {
        return;
    }
    editor_.sliderMoved(Field::Voltage, cell, value);
    edited();
}

void BmsTesterTab::ScrollTempTrackbar(int value) {
    const int cell = indexIn(TempTrackbarCell, sender());
    if (showing_ || cell < 0) {
        return;
    }
    editor_.sliderMoved(Field::Temperature, cell, value);
    edited();
}

void BmsTesterTab::ScrollCurrentTrackbar(int value) {
    if (showing_) {
        return;
    }
    editor_.sliderMoved(Field::Current, 0, value);
    edited();
}

void BmsTesterTab::KeyPressCellVoltage(QLineEdit* box, bool enter) {
    const int cell = indexIn(tbCellVoltage, box);
    if (cell >= 0) {
        editor_.keyPressed(Field::Voltage, cell, box->text().toStdString(), enter);
        edited();
    }
}

void BmsTesterTab::KeyPressCellTemperature(QLineEdit* box, bool enter) {
    const int cell = indexIn(tbTemp, box);
    if (cell >= 0) {
        editor_.keyPressed(Field::Temperature, cell, box->text().toStdString(), enter);
        edited();
    }
}

void BmsTesterTab::KeyPressCurrent(bool enter) {
    editor_.keyPressed(Field::Current, 0, tbBatCurrent->text().toStdString(), enter);
    edited();
}

void BmsTesterTab::FocusEnterCellVoltage(QLineEdit* box) {
    editor_.focusEntered(Field::Voltage, indexIn(tbCellVoltage, box));
}

void BmsTesterTab::FocusEnterCellTemperature(QLineEdit* box) {
    editor_.focusEntered(Field::Temperature, indexIn(tbTemp, box));
}

void BmsTesterTab::FocusEnterCurrent() {
    editor_.focusEntered(Field::Current, 0);
}

void BmsTesterTab::FocusLeaveCellVoltage(QLineEdit* box) {
    const int cell = indexIn(tbCellVoltage, box);
    if (cell >= 0) {
        editor_.focusLeft(Field::Voltage, cell, box->text().toStdString());
        edited();
    }
}

void BmsTesterTab::FocusLeaveCellTemperature(QLineEdit* box) {
    const int cell = indexIn(tbTemp, box);
    if (cell >= 0) {
        editor_.focusLeft(Field::Temperature, cell, box->text().toStdString());
        edited();
    }
}

void BmsTesterTab::FocusLeaveCurrent() {
    editor_.focusLeft(Field::Current, 0, tbBatCurrent->text().toStdString());
    edited();
}

void BmsTesterTab::CbEditAll_CheckedChanged(bool checked) {
    editor_.setEditAllCells(checked);
}

void BmsTesterTab::resetCells() {
    editor_.resetCells();
    edited();
}

void BmsTesterTab::tbNumBat_KeyPress(bool enter) {
    const std::string text = tbNumBat->text().toStdString();
    if (enter) {
        editor_.numBatEntered(text);
    } else {
        editor_.numBatTyped(text);
    }
    edited();
}

bool BmsTesterTab::eventFilter(QObject* watched, QEvent* event) {
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box == nullptr) {
        return QWidget::eventFilter(watched, event);
    }
    const bool isVoltage = indexIn(tbCellVoltage, box) >= 0;
    const bool isTemp = indexIn(tbTemp, box) >= 0;
    const bool isCurrent = box == tbBatCurrent;
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) {
            break; // other keys arrive through textEdited once the text has changed
        }
        if (isVoltage) {
            KeyPressCellVoltage(box, true);
        } else if (isTemp) {
            KeyPressCellTemperature(box, true);
        } else if (isCurrent) {
            KeyPressCurrent(true);
        } else if (box == tbNumBat) {
            tbNumBat_KeyPress(true);
        }
        break;
    }
    case QEvent::KeyRelease: {
        // Any key but Enter refreshes "Sent BMS Info", whether or not it changed the text.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
            break;
        }
        if (isVoltage) {
            KeyPressCellVoltage(box, false);
        } else if (isTemp) {
            KeyPressCellTemperature(box, false);
        } else if (isCurrent) {
            KeyPressCurrent(false);
        }
        break;
    }
    case QEvent::FocusIn:
        if (isVoltage) {
            FocusEnterCellVoltage(box);
        } else if (isTemp) {
            FocusEnterCellTemperature(box);
        } else if (isCurrent) {
            FocusEnterCurrent();
        }
        break;
    case QEvent::FocusOut: {
        // Switching windows or opening a menu does not leave the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
            break;
        }
        if (isVoltage) {
            FocusLeaveCellVoltage(box);
        } else if (isTemp) {
            FocusLeaveCellTemperature(box);
        } else if (isCurrent) {
            FocusLeaveCurrent();
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- what the responder reports ----

void BmsTesterTab::showResponderReport(const emulator::ResponderReport& report) {
    if (report.identityReceived) {
        // The BMS's serial is whatever bytes it sent; show them one character each.
        const std::string& serial = report.identityReceived->serial;
        showBmsIdentity(QString::fromStdString(bus::ConvertHex1(report.identityReceived->productId, 4)),
                        QString::fromLatin1(serial.data(), static_cast<qsizetype>(serial.size())));
    }
    if (report.measurementReceived) {
        showBmsMeasurement(report.measurementReceived->voltageTenths,
                           report.measurementReceived->currentTenths);
    }
    if (report.measurementAnswered) {
        cellTextsRefreshed();
    }
    if (report.batteriesInParallelRead) {
        batteriesInParallelRead();
    }
    if (report.firmwareVersionDefaulted) {
        firmwareVersionDefaulted();
    }
    if (report.ownAnswersReturning) {
        showOwnAnswersReturning(*report.ownAnswersReturning);
    }
}

void BmsTesterTab::showBmsIdentity(const QString& pid, const QString& serial) {
    tbBmsPid->setText(pid);
    tbBmsSerial->setText(serial);
}

void BmsTesterTab::showOwnAnswersReturning(bool returning) {
    wiringWarning->setVisible(returning);
}

void BmsTesterTab::setAdapterWarning(const QString& text) {
    adapterWarning->setWarning(text);
}

void BmsTesterTab::setStale(bool stale, const QString& age) {
    receivedStale->setStale(stale, age);
    for (QLineEdit* box : {tbBmsSerial, tbBmsPid, tbBmsVoltage, tbBmsCurrent}) {
        greyOut(box, stale);
    }
}

void BmsTesterTab::showBmsMeasurement(int voltageTenths, int currentTenths) {
    const bus::TextFormat format = localeTextFormat();
    const QString voltage = QString::fromStdString(bus::tenthsText(voltageTenths, format));
    const QString current = QString::fromStdString(bus::groupedTenthsText(currentTenths, format));
    tbBmsVoltage->setText(voltage);
    tbBmsCurrent->setText(current);
}

void BmsTesterTab::batteriesInParallelRead() {
    editor_.batteriesInParallelRead();
    // The responder read the same text; it needs no copy of what it already applied.
    published_.numBatText = editor_.settings().numBatText;
    showEditor();
}

void BmsTesterTab::cellTextsRefreshed() {
    editor_.refreshFromSliders();
    showEditor();
}

void BmsTesterTab::firmwareVersionDefaulted() {
    if (cbFwVersion->currentIndex() >= 0) {
        return;
    }
    // The responder took "v1.02" already; the list follows without sending it back.
    showing_ = true;
    cbFwVersion->setCurrentIndex(emulator::kDefaultFirmwareIndex);
    showing_ = false;
    published_.fwVersionIndex = emulator::kDefaultFirmwareIndex;
}

// ---- editor -> controls -> engine ----

void BmsTesterTab::edited() {
    showEditor();
    publishSettings();
}

void BmsTesterTab::showEditor() {
    showing_ = true;
    for (int cell = 0; cell < kCells; ++cell) {
        const auto i = static_cast<std::size_t>(cell);
        mVTrackbarCell[i]->setValue(editor_.slider(Field::Voltage, cell)); // no-op when unchanged
        TempTrackbarCell[i]->setValue(editor_.slider(Field::Temperature, cell));
        const std::string& voltage = editor_.text(Field::Voltage, cell);
        if (voltage != shownVoltage_[i]) {
            setText(tbCellVoltage[i], voltage);
            markEntry(tbCellVoltage[i], voltage, editor_.showingPlayed());
            shownVoltage_[i] = voltage;
        }
        const std::string& temp = editor_.text(Field::Temperature, cell);
        if (temp != shownTemp_[i]) {
            setText(tbTemp[i], temp);
            markEntry(tbTemp[i], temp, editor_.showingPlayed());
            shownTemp_[i] = temp;
        }
    }
    CurrentTrackbar->setValue(editor_.slider(Field::Current, 0));
    const std::string& current = editor_.text(Field::Current, 0);
    if (current != shownCurrent_) {
        setText(tbBatCurrent, current);
        markEntry(tbBatCurrent, current, editor_.showingPlayed());
        shownCurrent_ = current;
    }
    const emulator::SentBmsInfo& sent = editor_.sentBmsInfo();
    if (!(sent == shownSent_)) {
        setText(tbSentBankVoltage, sent.bankVoltage);
        setText(tbSentBankCurrent, sent.current);
        setText(tbSentBankAvgTemp, sent.avgTemp);
        shownSent_ = sent;
    }
    if (editor_.numBatText() != shownNumBat_) {
        setText(tbNumBat, editor_.numBatText());
        markEntry(tbNumBat, editor_.numBatText());
        shownNumBat_ = editor_.numBatText();
    }
    setText(tbSentBMSInfoBattInParallel, editor_.batInParallelText());
    showing_ = false;
}

void BmsTesterTab::publishSettings() {
    if (publishedOnce_ && editor_.settings() == published_) {
        return;
    }
    published_ = editor_.settings();
    publishedOnce_ = true;
    // The responder answers from these from now on, unless a playback still holds the bank.
    editor_.dropPlayed();
    emit settingsPublished(published_);
}

// ---- a recording drives the bank ----

void BmsTesterTab::followPlayback(const PlayedStep& step) {
    if (step.listIndex >= 0 && step.listIndex != cbBatteryPresets->currentIndex()) {
        const QSignalBlocker blocker(cbBatteryPresets);
        cbBatteryPresets->setCurrentIndex(step.listIndex);
        showPreset(step.listIndex);
    }
    editor_.showPlayed(step.sliders, step.played);
    showEditor();
    // What the engine gave the responder; a later change of the user's is published whole.
    published_ = step.sliders;
    publishedOnce_ = true;
}

void BmsTesterTab::setPlaybackLock(bool locked) {
    if (locked == playbackLocked_) {
        return;
    }
    playbackLocked_ = locked;
    // The entries stay readable: read-only and out of the focus chain, so no edit flag is set.
    std::vector<QLineEdit*> entries{tbBatCurrent};
    std::vector<QWidget*> controls{CurrentTrackbar, CbEditAll, btnResetCells, cbBatteryPresets, tbNumBat};
    for (std::size_t i = 0; i < static_cast<std::size_t>(kCells); ++i) {
        entries.insert(entries.end(), {tbCellVoltage[i], tbTemp[i]});
        controls.insert(controls.end(), {mVTrackbarCell[i], TempTrackbarCell[i]});
    }
    for (QLineEdit* box : entries) {
        if (locked && box->hasFocus()) {
            box->clearFocus(); // what was typed is taken as on leaving the field
        }
        box->setReadOnly(locked);
        box->setFocusPolicy(locked ? Qt::NoFocus : Qt::StrongFocus);
    }
    for (QWidget* w : controls) {
        w->setEnabled(!locked);
    }
}

} // namespace zanst::app
