#include "windows/traffic_window.hpp"

#include "capture/pcapng.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace zanst::app {

namespace {

constexpr std::uint8_t kFilterCommands[] = {0x01, 0x02, 0x08, 0x10, 0x11, 0x12, 0x13, 0x14,
                                            0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x50, 0x80};

struct Speed {
    const char* caption;
    double factor;
};
constexpr Speed kSpeeds[] = {
    {"Recorded pace", 1.0}, {"2 x", 2.0}, {"10 x", 10.0}, {"As fast as possible", 0.0}};

} // namespace

TrafficWindow::TrafficWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("trafficWindow"));
    setWindowTitle(QStringLiteral("Traffic"));
    resize(1000, 600);

    captureButton = new QPushButton(QStringLiteral("Save capture..."), this);
    openButton = new QPushButton(QStringLiteral("Open capture..."), this);
    speedBox = new QComboBox(this);
    speedBox->setAccessibleName(QStringLiteral("Replay speed"));
    for (const Speed& s : kSpeeds) {
        speedBox->addItem(QString::fromLatin1(s.caption), s.factor);
    }
    stopReplayButton = new QPushButton(QStringLiteral("Stop replay"), this);
    stopReplayButton->setEnabled(false);
    exportButton = new QPushButton(QStringLiteral("Export for Wireshark..."), this);
    exportButton->setObjectName(QStringLiteral("exportForWireshark"));
    setShownCapture({});

    commandFilter = new QComboBox(this);
    commandFilter->setAccessibleName(QStringLiteral("Command filter"));
    commandFilter->addItem(QStringLiteral("All commands"), -1);
    for (const std::uint8_t c : kFilterCommands) {
        commandFilter->addItem(QString::fromStdString(capture::commandName(c)), static_cast<int>(c));
    }
    balancerFilter = new QSpinBox(this);
    balancerFilter->setAccessibleName(QStringLiteral("Balancer id filter"));
    balancerFilter->setRange(0, 4095);
    balancerFilter->setSpecialValueText(QStringLiteral("All balancers"));
    pauseBox = new QCheckBox(QStringLiteral("Pause"), this);
    copyButton = new QPushButton(QStringLiteral("Copy rows"), this);
    clearButton = new QPushButton(QStringLiteral("Clear"), this);

    statusLabel = new QLabel(this);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    droppedLabel = new QLabel(this);
    droppedLabel->hide();

    model_ = new TrafficModel(this);
    table_ = new QTableView(this);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed row heights and column widths: nothing is measured per row as rows stream in.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {90, 70, 140, 55, 45, 330};
    for (int c = 0; c < static_cast<int>(std::size(widths)); ++c) {
        table_->setColumnWidth(c, widths[c]);
    }

    auto* captureRow = new QHBoxLayout;
    captureRow->addWidget(captureButton);
    captureRow->addWidget(openButton);
    captureRow->addWidget(speedBox);
    captureRow->addWidget(stopReplayButton);
    captureRow->addWidget(exportButton);
    captureRow->addStretch(1);
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(new QLabel(QStringLiteral("Command:"), this));
    filterRow->addWidget(commandFilter);
    filterRow->addWidget(new QLabel(QStringLiteral("Balancer id:"), this));
    filterRow->addWidget(balancerFilter);
    filterRow->addWidget(pauseBox);
    filterRow->addWidget(copyButton);
    filterRow->addWidget(clearButton);
    filterRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(captureRow);
    layout->addLayout(filterRow);
    layout->addWidget(statusLabel);
    layout->addWidget(droppedLabel);
    layout->addWidget(table_, 1);

    connect(captureButton, &QPushButton::clicked, this, [this] {
        if (capturing_) {
            emit captureStopRequested();
            return;
        }
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save capture"), {},
                                                          QStringLiteral("Captures (*.zcap);;All files (*)"));
        if (!path.isEmpty()) {
            startCapture(path);
        }
    });
    connect(openButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open capture"), {},
                                                          QStringLiteral("Captures (*.zcap);;All files (*)"));
        if (!path.isEmpty()) {
            openCapture(path);
        }
    });
    connect(stopReplayButton, &QPushButton::clicked, this, &TrafficWindow::replayStopRequested);
    connect(exportButton, &QPushButton::clicked, this, &TrafficWindow::chooseExportFile);
    connect(commandFilter, &QComboBox::currentIndexChanged, this, [this] {
        const int c = commandFilter->currentData().toInt();
        model_->setCommandFilter(c < 0 ? std::nullopt
                                       : std::optional<std::uint8_t>(static_cast<std::uint8_t>(c)));
    });
    connect(balancerFilter, &QSpinBox::valueChanged, this,
            [this](int id) { model_->setBalancerFilter(id == 0 ? std::nullopt : std::optional<int>(id)); });
    connect(pauseBox, &QCheckBox::toggled, this, &TrafficWindow::onPauseToggled);
    connect(copyButton, &QPushButton::clicked, this, &TrafficWindow::copyRows);
    connect(clearButton, &QPushButton::clicked, this, [this] {
        incoming_.clear();
        held_.clear();
        droppedWhilePaused_ = 0;
        model_->clear();
    });
    connect(model_, &TrafficModel::droppedChanged, this, &TrafficWindow::updateDroppedNote);
    showTimer_ = new QTimer(this);
    showTimer_->setSingleShot(true);
    showTimer_->setInterval(kShowEveryMs);
    connect(showTimer_, &QTimer::timeout, this, &TrafficWindow::flushIncoming);
    auto* copy = new QShortcut(QKeySequence::Copy, table_);
    connect(copy, &QShortcut::activated, this, &TrafficWindow::copyRows);
}

void TrafficWindow::startCapture(const QString& path) {
    emit captureRequested(path);
}

void TrafficWindow::openCapture(const QString& path) {
    replayAsked_ = path;
    emit replayRequested(path, replaySpeed());
}

void TrafficWindow::setShownCapture(const QString& path) {
    shownCapture_ = path;
    exportButton->setToolTip(path.isEmpty()
                                 ? QStringLiteral("Exports the capture this view replays or saved last; "
                                                  "open or save one first")
                                 : QStringLiteral("Export %1 as pcapng for Wireshark").arg(path));
}

void TrafficWindow::chooseExportFile() {
    if (shownCapture_.isEmpty()) {
        exportForWireshark({}); // says why there is nothing to export
        return;
    }
    const QFileInfo source(shownCapture_);
    const QString suggested = source.dir().filePath(source.completeBaseName() + QStringLiteral(".pcapng"));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export %1 for Wireshark").arg(source.fileName()),
                                     suggested, QStringLiteral("pcapng files (*.pcapng);;All files (*)"));
    if (!path.isEmpty()) {
        exportForWireshark(path);
    }
}

void TrafficWindow::exportForWireshark(const QString& path) {
    if (shownCapture_.isEmpty()) {
        setStatus(QStringLiteral("Nothing to export for Wireshark yet: open a capture or save one, then "
                                 "export it"),
                  true);
        return;
    }
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(shownCapture_).absoluteFilePath()) {
        setStatus(QStringLiteral("Not exported: %1 is the capture itself").arg(path), true);
        return;
    }
    capture::PcapngOptions options;
    options.application = "zanst";
    const capture::ExportResult r =
        capture::exportPcapng(shownCapture_.toStdString(), path.toStdString(), options);
    const QString message = QString::fromStdString(r.message);
    if (!r.written) {
        setStatus(QStringLiteral("Cannot export %1 for Wireshark: %2").arg(shownCapture_, message), true);
    } else if (!r.captureComplete) {
        setStatus(QStringLiteral("Exported the valid part of %1 for Wireshark, %2 packets to %3: %4")
                      .arg(shownCapture_)
                      .arg(r.packets)
                      .arg(path, message),
                  true);
    } else {
        setStatus(QStringLiteral("Exported %1 for Wireshark: %2 packets to %3")
                      .arg(shownCapture_)
                      .arg(r.packets)
                      .arg(path),
                  false);
    }
}

double TrafficWindow::replaySpeed() const {
    return speedBox->currentData().toDouble();
}

void TrafficWindow::appendBatch(const TrafficBatch& batch) {
    if (pauseBox->isChecked()) {
        held_.insert(held_.end(), batch.rows.begin(), batch.rows.end());
        if (held_.size() > TrafficModel::kDefaultLimit) {
            const std::size_t drop = held_.size() - TrafficModel::kDefaultLimit;
            held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(drop));
            droppedWhilePaused_ += drop;
            updateDroppedNote();
        }
        return;
    }
    incoming_.insert(incoming_.end(), batch.rows.begin(), batch.rows.end());
    if (!showTimer_->isActive()) {
        showTimer_->start();
    }
}

void TrafficWindow::flushIncoming() {
    const QScrollBar* bar = table_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    std::vector<capture::TrafficRow> rows;
    rows.swap(incoming_);
    model_->append(std::move(rows));
    if (atEnd) {
        table_->scrollToBottom();
    }
}

void TrafficWindow::onPauseToggled(bool paused) {
    if (paused) {
        return;
    }
    std::vector<capture::TrafficRow> held;
    held.swap(held_);
    model_->append(std::move(held));
    table_->scrollToBottom();
}

void TrafficWindow::updateDroppedNote() {
    const std::uint64_t dropped = model_->dropped() + droppedWhilePaused_;
    droppedLabel->setVisible(dropped > 0);
    droppedLabel->setText(QStringLiteral("%1 older frames dropped from the view").arg(dropped));
}

void TrafficWindow::copyRows() {
    std::vector<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    if (rows.empty()) {
        for (int i = 0; i < model_->rowCount(); ++i) {
            rows.push_back(i);
        }
    }
    std::sort(rows.begin(), rows.end());
    QApplication::clipboard()->setText(model_->copyText(rows));
}

void TrafficWindow::setStatus(const QString& text, bool error) {
    statusLabel->setStyleSheet(error ? QStringLiteral("QLabel { color: red; }") : QString());
    statusLabel->setText(text);
}

void TrafficWindow::showCaptureState(bool capturing, const QString& path, const QString& error) {
    if (capturing_ && !capturing && error.isEmpty()) {
        setShownCapture(path); // saved whole
    }
    capturing_ = capturing;
    captureButton->setText(capturing ? QStringLiteral("Stop capture") : QStringLiteral("Save capture..."));
    if (!error.isEmpty()) {
        setStatus(error, true);
    } else {
        setStatus((capturing ? QStringLiteral("Capturing to ") : QStringLiteral("Capture saved: ")) + path,
                  false);
    }
}

void TrafficWindow::showReplayStarted(const QString& name, const QString& error) {
    stopReplayButton->setEnabled(true);
    // The engine names the replay by its file name; the path is the one asked for.
    setShownCapture(QFileInfo(replayAsked_).fileName() == name ? replayAsked_ : name);
    if (error.isEmpty()) {
        setStatus(QStringLiteral("Replaying ") + name, false);
    } else {
        setStatus(QStringLiteral("Replaying the valid part of ") + name + QStringLiteral(": ") + error, true);
    }
}

void TrafficWindow::showReplayFinished(const QString& name, int records) {
    stopReplayButton->setEnabled(false);
    if (statusLabel->styleSheet().isEmpty()) {
        setStatus(records < 0 ? QStringLiteral("Replay of %1 stopped").arg(name)
                              : QStringLiteral("Replay of %1 finished: %2 records").arg(name).arg(records),
                  false);
    }
}

void TrafficWindow::showReplayFailed(const QString& path, const QString& error) {
    stopReplayButton->setEnabled(false);
    setStatus(QStringLiteral("Cannot replay ") + path + QStringLiteral(": ") + error, true);
}

void TrafficWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit viewingChanged(true);
}

void TrafficWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit viewingChanged(false);
}

} // namespace zanst::app
