#include "ui/recorder_panel.hpp"

#include "engine/locale_format.hpp"
#include "files/app_data.hpp"
#include "ui/cell_grid.hpp"
#include "ui/widgets.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <chrono>

namespace zanst::app {

namespace {

constexpr char kStartStyle[] = "QPushButton { background-color: lime; color: black; }";
constexpr char kStopStyle[] = "QPushButton { background-color: orangered; color: black; }";
constexpr char kErrorStyle[] = "QLabel { color: red; }";

const char* const kColumnCaptions[recording::kRecordColumnCount] = {
    "Cell ID", "Voltage", "Current", "Temp", "Serial", "Firmware", "ProdID", "BootLoader"};

QString fromPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

} // namespace

RecorderPanel::RecorderPanel(Kind kind, CellTableModel* model, RecordingLock& lock, QWidget* parent)
    : QWidget(parent), kind_(kind), model_(model), lock_(lock), format_(localeTextFormat()) {
    const bool monitor = kind == Kind::DataMonitor;
    setObjectName(monitor ? QStringLiteral("recorderBattDataMonitor")
                          : QStringLiteral("recorderBatteryTester"));

    preset = new QComboBox(this);
    preset->setObjectName(monitor ? QStringLiteral("cbRecordingPresetBattDataMonitor")
                                  : QStringLiteral("cbRecordingPreset"));
    preset->addItems({QStringLiteral("Changing values only"), QStringLiteral("All"), QStringLiteral("None")});
    preset->setCurrentIndex(0);

    interval = new QSpinBox(this);
    interval->setObjectName(monitor ? QStringLiteral("numericUpDownBattDataMonitor")
                                    : QStringLiteral("numericUpDown1"));
    interval->setRange(recording::kMinIntervalMs, recording::kMaxIntervalMs);
    interval->setSingleStep(1000);
    interval->setValue(recording::kMinIntervalMs);
    interval->setKeyboardTracking(false); // round once the value is entered, not on every digit

    startButton = new QPushButton(QStringLiteral("Start Recording"), this);
    startButton->setObjectName(monitor ? QStringLiteral("btnRecordingBattDataMonitor")
                                       : QStringLiteral("btnRecording"));
    startButton->setStyleSheet(QString::fromLatin1(kStartStyle));

    stateLabel = new ValueLabel(QStringLiteral("Recording:"), QStringLiteral("Inactive"), this);
    pathLabel = new ValueLabel(QStringLiteral("Recording saved to:"), QStringLiteral("-"), this);
    pathLabel->setWordWrap(true);
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    pathLabel->setFocusPolicy(Qt::TabFocus); // reachable by keyboard, so the path can be read and copied

    for (int c = 0; c < recording::kRecordColumnCount; ++c) {
        auto* box = new QCheckBox(QString::fromLatin1(kColumnCaptions[c]), this);
        box->setAccessibleName(QStringLiteral("Record ") + box->text());
        columnBoxes[static_cast<std::size_t>(c)] = box;
    }
    balancingBox = new QCheckBox(QStringLiteral("Balancing"), this);
    balancingBox->setChecked(true);
    statusBox = new QCheckBox(QStringLiteral("Status"), this);
    statusBox->setChecked(true);
    selectAll = new QCheckBox(QStringLiteral(":Select all"), this);
    selectAll->setObjectName(monitor ? QStringLiteral("cbSelectAllBattDataMonitor")
                                     : QStringLiteral("cbSelectAll"));
    selectAll->setAccessibleName(QStringLiteral("Select all rows"));
    selectAll->setChecked(true);

    csvBox = new QCheckBox(QStringLiteral("Also write CSV"), this);
    csvBox->setObjectName(monitor ? QStringLiteral("cbRecordingCsvBattDataMonitor")
                                  : QStringLiteral("cbRecordingCsv"));
    csvBox->setToolTip(
        QStringLiteral("Beside the .txt recording, a .csv with a time stamp and one row per cell"));

    preset->setToolTip(QStringLiteral("Ticks the column boxes below at once: the changing values (Cell ID, "
                                      "voltage, current, temperature), all columns or none"));
    interval->setToolTip(QStringLiteral("One line is written per interval, in whole seconds"));
    startButton->setToolTip(
        QStringLiteral("Start or stop writing the ticked columns of the selected rows to a "
                       "file, one line per interval; the tabs cannot be changed meanwhile "
                       "(Ctrl+R)"));
    for (QCheckBox* box : columnBoxes) {
        box->setToolTip(QStringLiteral("Write the column \"%1\" into each line").arg(box->text()));
    }
    selectAll->setToolTip(
        QStringLiteral("Tick or clear the \"Select\" box of every row: only selected rows are "
                       "recorded"));
    pathLabel->setToolTip(QStringLiteral("The file being written, or the last one written"));

    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer); // a coarse timer would stretch and shrink the intervals
    timer->setObjectName(monitor ? QStringLiteral("RecordingTimerBattDataMonitor")
                                 : QStringLiteral("RecordingTimer"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* settings = new QHBoxLayout;
    settings->addWidget(makeCaption(QStringLiteral("Recording &Preset:"), preset, this));
    settings->addWidget(preset);
    settings->addSpacing(16);
    settings->addWidget(makeCaption(QStringLiteral("Record &every:"), interval, this));
    settings->addWidget(interval);
    settings->addWidget(new QLabel(QStringLiteral("ms. (1s interval minimum)"), this));
    settings->addStretch(1);
    settings->addWidget(startButton);
    grid->addLayout(settings, 0, 0);

    auto* boxes = new QHBoxLayout;
    for (int c = 0; c < 4; ++c) {
        boxes->addWidget(columnBoxes[static_cast<std::size_t>(c)]);
    }
    boxes->addWidget(balancingBox);
    boxes->addWidget(statusBox);
    for (int c = 4; c < recording::kRecordColumnCount; ++c) {
        boxes->addWidget(columnBoxes[static_cast<std::size_t>(c)]);
    }
    boxes->addStretch(1);
    boxes->addWidget(selectAll);
    grid->addLayout(boxes, 1, 0);

    auto* state = new QHBoxLayout;
    state->addWidget(new QLabel(QStringLiteral("Recording: "), this));
    state->addWidget(stateLabel);
    state->addSpacing(24);
    state->addWidget(new QLabel(QStringLiteral("Recording saved to:"), this));
    state->addWidget(pathLabel, 1);
    state->addWidget(csvBox);
    grid->addLayout(state, 2, 0);

    applyPreset(0);

    connect(preset, &QComboBox::currentIndexChanged, this, &RecorderPanel::applyPreset);
    connect(preset, &QComboBox::activated, this, &RecorderPanel::applyPreset);
    connect(interval, &QSpinBox::valueChanged, this, &RecorderPanel::onIntervalChanged);
    connect(selectAll, &QCheckBox::toggled, this, [this](bool checked) { model_->setAllSelected(checked); });
    connect(startButton, &QPushButton::clicked, this, &RecorderPanel::toggleRecording);
    connect(timer, &QTimer::timeout, this, &RecorderPanel::writeLine);
}

bool RecorderPanel::isRecording() const {
    return recorder_ && recorder_->recording();
}

recording::ColumnSet RecorderPanel::checkedColumns() const {
    recording::ColumnSet set{};
    for (std::size_t c = 0; c < set.size(); ++c) {
        set[c] = columnBoxes[c]->isChecked();
    }
    return set;
}

void RecorderPanel::applyPreset(int index) {
    if (index < 0) {
        return;
    }
    const recording::ColumnSet set = recording::presetColumns(static_cast<recording::RecordingPreset>(index));
    for (std::size_t c = 0; c < set.size(); ++c) {
        columnBoxes[c]->setChecked(set[c]);
    }
}

void RecorderPanel::onIntervalChanged(int ms) {
    const int rounded = recording::roundIntervalMs(ms);
    if (rounded != ms) {
        interval->setValue(rounded); // comes back here once with the rounded value
        return;
    }
    timer->setInterval(rounded);
}

void RecorderPanel::onShown() {
    model_->setAllSelected(selectAll->isChecked());
    const auto names =
        kind_ == Kind::DataMonitor ? recording::kDataMonitorNames : recording::kBatteryTesterNames;
    recorder_.emplace(std::filesystem::path(recordingsFolder().toStdString()), names);
    const recording::FileResult prepared = recorder_->prepare();
    if (!prepared.ok) {
        showPath(QString::fromStdString(prepared.message), true);
    }
    timer->setInterval(interval->value());
    timer->start();
    model_->setSelectEditable(true);
}

void RecorderPanel::hideRiskyTools() {
    balancingBox->hide();
    statusBox->hide();
}

void RecorderPanel::showPath(const QString& text, bool error) {
    pathLabel->setValue(text);
    pathLabel->setStyleSheet(error ? QString::fromLatin1(kErrorStyle) : QString());
}

void RecorderPanel::setControlsEnabled(bool enabled) {
    for (QCheckBox* box : columnBoxes) {
        box->setEnabled(enabled);
    }
    balancingBox->setEnabled(enabled);
    statusBox->setEnabled(enabled);
    csvBox->setEnabled(enabled);
    interval->setEnabled(enabled);
    selectAll->setEnabled(enabled);
    preset->setEnabled(enabled);
    model_->setSelectEditable(enabled);
}

void RecorderPanel::toggleRecording() {
    if (isRecording()) {
        stop();
    } else {
        start();
    }
}

void RecorderPanel::start() {
    if (!recorder_) {
        return; // not shown yet
    }
    timer->setInterval(interval->value());
    const recording::FileResult started = recorder_->start();
    if (!started.ok) {
        showPath(QString::fromStdString(started.message), true);
        return;
    }
    lock_.setRecording(kind_, true);

    startButton->setText(QStringLiteral("Stop Recording"));
    startButton->setStyleSheet(QString::fromLatin1(kStopStyle));
    stateLabel->setValue(QStringLiteral("Active"));
    setControlsEnabled(false);
    showPath(QStringLiteral("Started Saving to ") + fromPath(recorder_->activeFile()), false);
    csvError_.clear();
    if (csvBox->isChecked()) {
        startCsv();
    }
    emit recordingStarted(fromPath(recorder_->activeFile()),
                          csv_.isOpen() ? fromPath(csv_.path()) : QString());
}

recording::CsvValues RecorderPanel::csvValues() const {
    using recording::RecordColumn;
    const recording::ColumnSet columns = checkedColumns();
    const auto on = [&columns](RecordColumn c) { return columns[static_cast<std::size_t>(c)]; };
    return {on(RecordColumn::Voltage),   on(RecordColumn::Current),  on(RecordColumn::Temp),
            on(RecordColumn::Serial),    on(RecordColumn::Firmware), on(RecordColumn::ProdID),
            on(RecordColumn::BootLoader)};
}

void RecorderPanel::startCsv() {
    std::filesystem::path path = recorder_->activeFile();
    path.replace_extension(".csv");
    const recording::FileResult opened = csv_.open(path, recording::csvHeader(csvValues()));
    if (!opened.ok) {
        csvError_ = QStringLiteral("no CSV: ") + QString::fromStdString(opened.message);
        showPath(QStringLiteral("Started Saving to ") + fromPath(recorder_->activeFile()) +
                     QStringLiteral("; ") + csvError_,
                 true);
        return;
    }
    showPath(QStringLiteral("Started Saving to ") + fromPath(recorder_->activeFile()) +
                 QStringLiteral(" and ") + fromPath(csv_.path()),
             false);
}

void RecorderPanel::writeCsv() {
    if (!csv_.isOpen()) {
        return;
    }
    const std::string rows = recording::csvRows(std::chrono::system_clock::now(), model_->snapshot(),
                                                model_->selection(), csvValues());
    const recording::FileResult written = csv_.append(rows);
    if (!written.ok) {
        csv_.close();
        csvError_ = QStringLiteral("CSV stopped: ") + QString::fromStdString(written.message);
        showPath(csvError_ + QStringLiteral(" (the .txt recording goes on)"), true);
    }
}

void RecorderPanel::writeLine() {
    if (!isRecording()) {
        return;
    }
    const std::string line =
        recording::recordingLine(model_->table(), model_->selection(), checkedColumns(), format_);
    const recording::FileResult written = recorder_->append(line);
    if (!written.ok) {
        failStop(QString::fromStdString(written.message));
        return;
    }
    writeCsv();
}

void RecorderPanel::stop() {
    timer->setInterval(interval->value());
    const std::string line =
        recording::recordingLine(model_->table(), model_->selection(), checkedColumns(), format_);
    const recording::FileResult written = recorder_->append(line);
    const QString path = fromPath(recorder_->activeFile());
    writeCsv();
    const QString csvPath = csv_.isOpen() ? fromPath(csv_.path()) : QString();
    finish();
    emit recordingStopped(path, csvPath);
    if (!written.ok) {
        showPath(QStringLiteral("Recording stopped: ") + QString::fromStdString(written.message), true);
    } else if (!csvError_.isEmpty()) {
        showPath(QStringLiteral("Saved to ") + path + QStringLiteral("; ") + csvError_, true);
    } else if (!csvPath.isEmpty()) {
        showPath(QStringLiteral("Saved to ") + path + QStringLiteral(" and ") + csvPath, false);
    } else {
        showPath(QStringLiteral("Saved to ") + path, false);
    }
}

void RecorderPanel::failStop(const QString& reason) {
    const QString path = fromPath(recorder_->activeFile());
    const QString csvPath = csv_.isOpen() ? fromPath(csv_.path()) : QString();
    finish();
    emit recordingStopped(path, csvPath);
    showPath(QStringLiteral("Recording stopped: ") + reason, true);
}

void RecorderPanel::finish() {
    recorder_->stop();
    csv_.close();
    lock_.setRecording(kind_, false);
    startButton->setText(QStringLiteral("Start Recording"));
    startButton->setStyleSheet(QString::fromLatin1(kStartStyle));
    stateLabel->setValue(QStringLiteral("Inactive"));
    setControlsEnabled(true);
}

} // namespace zanst::app
