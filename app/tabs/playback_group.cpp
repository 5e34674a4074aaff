#include "tabs/playback_group.hpp"

#include "playback/timeline.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace zanst::app {

using playback::Pace;
using playback::PlayState;

namespace {

constexpr int kGrooveHeight = 8;
constexpr int kLaneHeight = 3;
constexpr int kLaneGap = 1;
constexpr int kMargin = 4;

QString clock(qint64 ms) {
    // Whole seconds on screen; the time line's tool tip and the edits carry the milliseconds.
    return QString::fromStdString(playback::clockText(std::max<qint64>(ms, 0) / 1000 * 1000));
}

QToolButton* transportButton(QWidget* parent, const QString& name, QStyle::StandardPixmap icon,
                             const QString& caption, const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setText(caption);
    b->setToolTip(tip);
    b->setAccessibleName(caption);
    b->setAutoRaise(false);
    return b;
}

const QColor kEditColours[PlaybackTimeLine::kLanes] = {QColor(214, 96, 0), QColor(150, 60, 170),
                                                       QColor(0, 130, 110)};

} // namespace

// ---- time line ----

PlaybackTimeLine::PlaybackTimeLine(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("playbackTimeLine"));
    setAccessibleName(QStringLiteral("Time line of the recording"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize PlaybackTimeLine::sizeHint() const {
    return {240, kMargin + kGrooveHeight + 2 + kLanes * (kLaneHeight + kLaneGap) + kMargin};
}

QSize PlaybackTimeLine::minimumSizeHint() const {
    return {80, sizeHint().height()};
}

void PlaybackTimeLine::setLength(qint64 ms) {
    if (ms != lengthMs_) {
        lengthMs_ = std::max<qint64>(ms, 0);
        update();
    }
}

void PlaybackTimeLine::setPosition(qint64 ms) {
    ms = std::clamp<qint64>(ms, 0, lengthMs_);
    if (ms != positionMs_) {
        positionMs_ = ms;
        update();
    }
}

void PlaybackTimeLine::setEdits(const std::vector<PlaybackEditSpan>& edits) {
    edits_ = edits;
    update();
}

QRect PlaybackTimeLine::groove() const {
    return {kMargin, kMargin, std::max(width() - 2 * kMargin, 1), kGrooveHeight};
}

int PlaybackTimeLine::xOf(qint64 ms) const {
    const QRect g = groove();
    if (lengthMs_ <= 0) {
        return g.left();
    }
    const qint64 at = std::clamp<qint64>(ms, 0, lengthMs_);
    return g.left() + static_cast<int>(at * (g.width() - 1) / lengthMs_);
}

qint64 PlaybackTimeLine::positionAt(int x) const {
    const QRect g = groove();
    if (lengthMs_ <= 0 || g.width() <= 1) {
        return 0;
    }
    const qint64 offset = std::clamp(x - g.left(), 0, g.width() - 1);
    return std::clamp<qint64>(offset * lengthMs_ / (g.width() - 1), 0, lengthMs_);
}

QStringList PlaybackTimeLine::editsAt(qint64 ms) const {
    QStringList texts;
    for (const PlaybackEditSpan& e : edits_) {
        if (ms >= e.fromMs && (e.untilMs < 0 || ms < e.untilMs)) {
            texts << e.text;
        }
    }
    return texts;
}

void PlaybackTimeLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect g = groove();
    const QPalette& pal = palette();
    p.setPen(pal.color(QPalette::Mid));
    p.setBrush(pal.color(QPalette::Base));
    p.drawRect(g.adjusted(0, 0, -1, -1));
    if (lengthMs_ <= 0) {
        return;
    }
    const int at = xOf(positionMs_);
    p.fillRect(QRect(g.left() + 1, g.top() + 1, std::max(at - g.left() - 1, 0), g.height() - 2),
               isEnabled() ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid));
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        const PlaybackEditSpan& e = edits_[i];
        const int lane = static_cast<int>(std::min<std::size_t>(i, kLanes - 1));
        const int from = xOf(e.fromMs);
        const int until = e.untilMs < 0 ? g.right() : xOf(e.untilMs);
        const int y = g.bottom() + 3 + lane * (kLaneHeight + kLaneGap);
        p.fillRect(QRect(from, y, std::max(until - from, 2), kLaneHeight), kEditColours[lane]);
    }
    p.setPen(QPen(pal.color(QPalette::WindowText), 2));
    p.drawLine(at, 1, at, height() - 2);
    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void PlaybackTimeLine::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && lengthMs_ > 0) {
        emit seekRequested(positionAt(event->position().toPoint().x()));
    }
    QWidget::mousePressEvent(event);
}

void PlaybackTimeLine::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && lengthMs_ > 0) {
        emit seekRequested(positionAt(event->position().toPoint().x()));
    }
    QWidget::mouseMoveEvent(event);
}

void PlaybackTimeLine::keyPressEvent(QKeyEvent* event) {
    if (lengthMs_ <= 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
        emit seekRequested(std::max<qint64>(positionMs_ - kKeyStepMs, 0));
        break;
    case Qt::Key_Right:
        emit seekRequested(std::min<qint64>(positionMs_ + kKeyStepMs, lengthMs_ - 1));
        break;
    case Qt::Key_Home:
        emit seekRequested(0);
        break;
    case Qt::Key_End:
        emit seekRequested(lengthMs_ - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool PlaybackTimeLine::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (lengthMs_ > 0) {
            const qint64 at = positionAt(help->pos().x());
            QString tip = QString::fromStdString(playback::clockText(at));
            for (const QString& e : editsAt(at)) {
                tip += QStringLiteral("\n") + e;
            }
            QToolTip::showText(help->globalPos(), tip, this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

// ---- edits dialog ----

PlaybackEditsDialog::PlaybackEditsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("playbackEditsDialog"));
    setWindowTitle(QStringLiteral("Edits on the recorded bank"));
    auto* v = new QVBoxLayout(this);
    auto* help = new QLabel(
        QStringLiteral("What the BMS is shown beyond the recording, from a time of the recording, in the "
                       "order given. For example:\n"
                       "cell 5 drifts 2 mV a second lower from 00:03:10\n"
                       "cell 3 pinned at 45.0 \u00B0C from 00:01:00 until 00:02:30\n"
                       "cell 12 offset -15 mV from 00:00:00\n"
                       "current pinned at -120.5 A from 00:05:00"),
        this);
    help->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(help);
    auto* row = new QHBoxLayout;
    tbEdit = new QLineEdit(this);
    tbEdit->setObjectName(QStringLiteral("tbEdit"));
    tbEdit->setAccessibleName(QStringLiteral("Edit"));
    tbEdit->setPlaceholderText(QStringLiteral("cell 5 drifts 2 mV a second lower from 00:03:10"));
    tbEdit->setMinimumWidth(380);
    btnAddEdit = new QPushButton(QStringLiteral("Add"), this);
    btnAddEdit->setObjectName(QStringLiteral("btnAddEdit"));
    btnAddEdit->setAutoDefault(false);
    row->addWidget(tbEdit, 1);
    row->addWidget(btnAddEdit);
    v->addLayout(row);
    lbEditError = new QLabel(this);
    lbEditError->setObjectName(QStringLiteral("lbEditError"));
    lbEditError->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    lbEditError->setWordWrap(true);
    lbEditError->hide();
    v->addWidget(lbEditError);
    lstEdits = new QListWidget(this);
    lstEdits->setObjectName(QStringLiteral("lstEdits"));
    lstEdits->setAccessibleName(QStringLiteral("Edits in force"));
    v->addWidget(lstEdits, 1);
    auto* buttons = new QHBoxLayout;
    btnRemoveEdit = new QPushButton(QStringLiteral("Remove"), this);
    btnRemoveEdit->setObjectName(QStringLiteral("btnRemoveEdit"));
    btnRemoveEdit->setAutoDefault(false);
    btnRemoveEdit->setEnabled(false);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setAutoDefault(false);
    buttons->addWidget(btnRemoveEdit);
    buttons->addStretch(1);
    buttons->addWidget(close);
    v->addLayout(buttons);

    connect(btnAddEdit, &QPushButton::clicked, this, &PlaybackEditsDialog::add);
    connect(tbEdit, &QLineEdit::returnPressed, this, &PlaybackEditsDialog::add);
    connect(lstEdits, &QListWidget::currentRowChanged, this,
            [this](int current) { btnRemoveEdit->setEnabled(current >= 0); });
    connect(btnRemoveEdit, &QPushButton::clicked, this, [this] {
        if (lstEdits->currentRow() >= 0) {
            emit editRemoveRequested(lstEdits->currentRow());
        }
    });
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
}

void PlaybackEditsDialog::add() {
    const QString text = tbEdit->text().trimmed();
    if (!text.isEmpty()) {
        emit editEntered(text);
    }
}

void PlaybackEditsDialog::showEdits(const std::vector<PlaybackEditSpan>& edits) {
    QStringList texts;
    for (const PlaybackEditSpan& e : edits) {
        texts << e.text;
    }
    QStringList shown;
    for (int i = 0; i < lstEdits->count(); ++i) {
        shown << lstEdits->item(i)->text();
    }
    if (texts == shown) {
        return;
    }
    // A new edit in the list is the one just entered: the entry is free for the next.
    if (texts.size() > shown.size()) {
        tbEdit->clear();
        lbEditError->hide();
    }
    lstEdits->clear();
    lstEdits->addItems(texts);
}

void PlaybackEditsDialog::showRefused(const QString& text, const QString& reason) {
    tbEdit->setText(text);
    lbEditError->setText(reason);
    lbEditError->show();
}

// ---- the group ----

PlaybackGroup::PlaybackGroup(QWidget* parent) : QGroupBox(QStringLiteral("Recorded bank"), parent) {
    setObjectName(QStringLiteral("groupBoxPlayback"));
    setAccessibleName(title());
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(8, 4, 8, 6);
    v->setSpacing(4);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(4);
    btnPlayBank = new QPushButton(QStringLiteral("Play bank..."), this);
    btnPlayBank->setObjectName(QStringLiteral("btnPlayBank"));
    btnPlayBank->setToolTip(
        QStringLiteral("Play a capture (.zcap) or a CSV recording of a bank into the BMS"));
    btnPlay = transportButton(this, QStringLiteral("btnPlay"), QStyle::SP_MediaPlay, QStringLiteral("Play"),
                              QStringLiteral("Play from here (from the start when stopped)"));
    btnPause =
        transportButton(this, QStringLiteral("btnPause"), QStyle::SP_MediaPause, QStringLiteral("Pause"),
                        QStringLiteral("Pause: the bank keeps the step shown"));
    btnStop =
        transportButton(this, QStringLiteral("btnStop"), QStyle::SP_MediaStop, QStringLiteral("Stop"),
                        QStringLiteral("Stop: the bank keeps the last values and the sliders are free"));
    btnStepBack = transportButton(this, QStringLiteral("btnStepBack"), QStyle::SP_MediaSeekBackward,
                                  QStringLiteral("Step back"), QStringLiteral("One recorded step back"));
    btnStepForward = transportButton(this, QStringLiteral("btnStepForward"), QStyle::SP_MediaSeekForward,
                                     QStringLiteral("Step on"), QStringLiteral("One recorded step on"));
    cbPace = new QComboBox(this);
    cbPace->setObjectName(QStringLiteral("cbPace"));
    cbPace->setAccessibleName(QStringLiteral("Pace"));
    cbPace->setToolTip(QStringLiteral("How fast the recording plays"));
    cbPace->addItem(QStringLiteral("1x"), static_cast<int>(Pace::Recorded));
    cbPace->addItem(QStringLiteral("2x"), static_cast<int>(Pace::Double));
    cbPace->addItem(QStringLiteral("10x"), static_cast<int>(Pace::Tenfold));
    cbPace->addItem(QStringLiteral("Step by step"), static_cast<int>(Pace::Step));
    CbLoop = new QCheckBox(QStringLiteral("Loop"), this);
    CbLoop->setObjectName(QStringLiteral("CbLoop"));
    CbLoop->setToolTip(QStringLiteral("Start again from the beginning after the end"));
    btnEdits = new QPushButton(QStringLiteral("Edits..."), this);
    btnEdits->setObjectName(QStringLiteral("btnEdits"));
    btnEdits->setToolTip(
        QStringLiteral("Pin, offset or drift a cell or the current on top of the recording"));
    controls->addWidget(btnPlayBank);
    controls->addSpacing(6);
    for (QToolButton* b : {btnPlay, btnPause, btnStop, btnStepBack, btnStepForward}) {
        controls->addWidget(b);
    }
    controls->addSpacing(6);
    controls->addWidget(cbPace);
    controls->addWidget(CbLoop);
    controls->addStretch(1);
    controls->addWidget(btnEdits);
    v->addLayout(controls);

    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    timeLine = new PlaybackTimeLine(this);
    lbPosition = new QLabel(this);
    lbPosition->setObjectName(QStringLiteral("lbPosition"));
    lbPosition->setAccessibleName(QStringLiteral("Position"));
    line->addWidget(timeLine, 1);
    line->addWidget(lbPosition);
    v->addLayout(line);

    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbPlaybackStatus"));
    lbDetail = new QLabel(this);
    lbDetail->setObjectName(QStringLiteral("lbPlaybackDetail"));
    for (QLabel* l : {lbStatus, lbDetail}) {
        l->setTextFormat(Qt::PlainText);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        v->addWidget(l);
    }

    editsDialog = new PlaybackEditsDialog(this);

    connect(btnPlayBank, &QPushButton::clicked, this, &PlaybackGroup::chooseRecording);
    connect(btnPlay, &QToolButton::clicked, this, &PlaybackGroup::playRequested);
    connect(btnPause, &QToolButton::clicked, this, &PlaybackGroup::pauseRequested);
    connect(btnStop, &QToolButton::clicked, this, &PlaybackGroup::stopRequested);
    connect(btnStepBack, &QToolButton::clicked, this, [this] { emit stepRequested(-1); });
    connect(btnStepForward, &QToolButton::clicked, this, [this] { emit stepRequested(1); });
    connect(cbPace, &QComboBox::activated, this,
            [this](int index) { emit paceChosen(static_cast<Pace>(cbPace->itemData(index).toInt())); });
    connect(CbLoop, &QCheckBox::clicked, this, &PlaybackGroup::loopChosen);
    connect(btnEdits, &QPushButton::clicked, this, [this] {
        editsDialog->show();
        editsDialog->raise();
        editsDialog->activateWindow();
    });
    connect(timeLine, &PlaybackTimeLine::seekRequested, this, &PlaybackGroup::seekRequested);
    connect(editsDialog, &PlaybackEditsDialog::editEntered, this, &PlaybackGroup::editEntered);
    connect(editsDialog, &PlaybackEditsDialog::editRemoveRequested, this,
            &PlaybackGroup::editRemoveRequested);
    // A refusal stays in view until the user goes on with the recording still loaded.
    for (auto signal :
         {&PlaybackGroup::playRequested, &PlaybackGroup::pauseRequested, &PlaybackGroup::stopRequested}) {
        connect(this, signal, this, [this] { refusal_.clear(); });
    }
    connect(this, &PlaybackGroup::stepRequested, this, [this] { refusal_.clear(); });
    connect(this, &PlaybackGroup::seekRequested, this, [this] { refusal_.clear(); });
    positionTimer_.setInterval(kPositionTickMs);
    connect(&positionTimer_, &QTimer::timeout, this, &PlaybackGroup::tickPosition);

    showReport(PlaybackReport{});
    showStatus(QStringLiteral("Play bank... plays a capture (.zcap) or a CSV recording into the BMS,"), false,
               QStringLiteral("at its recorded pace or faster, or step by step, with edits on top."), {});
}

void PlaybackGroup::chooseRecording() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Play a recorded bank"), startFolder_,
        QStringLiteral(
            "Recordings (*.zcap *.csv);;Captures (*.zcap);;CSV recordings (*.csv);;All files (*)"));
    if (!path.isEmpty()) {
        emit recordingChosen(path);
    }
}

void PlaybackGroup::showReading(const QString& path) {
    btnPlayBank->setEnabled(false);
    showStatus(QStringLiteral("Reading %1 ...").arg(QFileInfo(path).fileName()), false, {}, path);
}

void PlaybackGroup::readingEnded() {
    btnPlayBank->setEnabled(true);
}

void PlaybackGroup::showRefused(const QString& path, const QString& reason) {
    readingEnded();
    refusal_ = QStringLiteral("Cannot play %1: %2").arg(QFileInfo(path).fileName(), reason);
    showStatus(refusal_, true,
               report_.file.isEmpty() ? QString()
                                      : QStringLiteral("Still loaded: ") + QFileInfo(report_.file).fileName(),
               refusal_);
}

void PlaybackGroup::showEditRefused(const QString& text, const QString& reason) {
    editsDialog->showRefused(text, reason);
    editsDialog->show();
}

void PlaybackGroup::showReport(const PlaybackReport& report) {
    const bool newFile = report.file != report_.file;
    report_ = report;
    sinceReport_.start();
    const bool loaded = !report.file.isEmpty();
    btnPlay->setEnabled(loaded && report.state != PlayState::Playing);
    btnPause->setEnabled(loaded && report.state == PlayState::Playing && report.pace != Pace::Step);
    btnStop->setEnabled(report.holdsBank());
    btnStepBack->setEnabled(loaded);
    btnStepForward->setEnabled(loaded);
    btnEdits->setEnabled(loaded);
    timeLine->setEnabled(loaded);
    const int pace = cbPace->findData(static_cast<int>(report.pace));
    if (pace >= 0 && pace != cbPace->currentIndex()) {
        cbPace->setCurrentIndex(pace);
    }
    CbLoop->setChecked(report.loop);
    timeLine->setLength(report.lengthMs);
    timeLine->setEdits(report.edits);
    editsDialog->showEdits(report.edits);
    showPosition(report.positionMs);
    const bool moving = report.state == PlayState::Playing && playback::paceFactor(report.pace) > 0;
    if (moving && !positionTimer_.isActive()) {
        positionTimer_.start();
    } else if (!moving) {
        positionTimer_.stop();
    }
    if (!loaded) {
        return;
    }
    if (newFile) {
        refusal_.clear();
    }
    const QString status = QStringLiteral("%1, %2 in %3 steps: %4 x %5")
                               .arg(QFileInfo(report.file).fileName(), clock(report.lengthMs))
                               .arg(report.steps)
                               .arg(report.batteries)
                               .arg(report.model);
    QString detail;
    switch (report.state) {
    case PlayState::Playing:
        detail =
            report.pace == Pace::Step ? QStringLiteral("Playing step by step") : QStringLiteral("Playing");
        break;
    case PlayState::Paused:
        detail = QStringLiteral("Paused");
        break;
    case PlayState::Finished:
        detail = QStringLiteral("Finished, the bank keeps the last step");
        break;
    case PlayState::Stopped:
        detail = report.ended.isEmpty() ? QStringLiteral("Stopped")
                                        : QStringLiteral("Stopped (%1)").arg(report.ended);
        break;
    }
    const bool played = report.holdsBank() || report.driven || !report.capturePath.isEmpty() ||
                        !report.captureError.isEmpty();
    if (!played) {
        detail = QStringLiteral("Ready");
    }
    QString tip = report.summary;
    if (!report.capturePath.isEmpty()) {
        const QFileInfo capture(report.capturePath);
        const QString where = capture.absolutePath() == QFileInfo(report.file).absolutePath()
                                  ? QStringLiteral("beside the recording")
                                  : QStringLiteral("in ") + capture.absolutePath();
        detail += (report.holdsBank() ? QStringLiteral("; answers captured %1: %2")
                                      : QStringLiteral("; answers were captured %1: %2"))
                      .arg(where, capture.fileName());
        tip += QStringLiteral("\nThe BMS's answers: ") + report.capturePath;
    } else if (!report.captureError.isEmpty()) {
        detail += QStringLiteral("; answers not captured: ") + report.captureError;
    }
    if (!report.notes.isEmpty()) {
        detail += QStringLiteral(". Note: ") + report.notes.join(QStringLiteral("; "));
    }
    if (!refusal_.isEmpty()) {
        showStatus(refusal_, true, QStringLiteral("Still loaded: ") + status,
                   refusal_ + QStringLiteral("\n") + tip);
        return;
    }
    showStatus(status, false, detail, tip);
}

void PlaybackGroup::showStatus(const QString& status, bool error, const QString& detail, const QString& tip) {
    status_ = status;
    detail_ = detail;
    lbStatus->setStyleSheet(error ? QStringLiteral("QLabel { color: red; }") : QString());
    const QString full = tip.isEmpty() ? status + QStringLiteral("\n") + detail : tip;
    lbStatus->setToolTip(full);
    lbDetail->setToolTip(full);
    lbStatus->setAccessibleDescription(status);
    lbDetail->setAccessibleDescription(detail);
    elide();
}

void PlaybackGroup::elide() {
    const int width = std::max(lbStatus->width(), 50);
    lbStatus->setText(lbStatus->fontMetrics().elidedText(status_, Qt::ElideRight, width));
    lbDetail->setText(lbDetail->fontMetrics().elidedText(detail_, Qt::ElideRight, width));
}

void PlaybackGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    elide();
}

void PlaybackGroup::showPosition(qint64 positionMs) {
    timeLine->setPosition(positionMs);
    if (report_.file.isEmpty()) {
        lbPosition->setText(QStringLiteral("--:--:-- / --:--:--"));
        return;
    }
    QString text = clock(positionMs) + QStringLiteral(" / ") + clock(report_.lengthMs) +
                   QStringLiteral(" (%1/%2").arg(report_.step + 1).arg(report_.steps);
    if (report_.loops > 0) {
        text += QStringLiteral(", loop %1").arg(report_.loops + 1);
    }
    text += QStringLiteral(")");
    lbPosition->setText(text);
}

void PlaybackGroup::tickPosition() {
    // Between reports the position moves with the pace, as the player's does.
    const qint64 length = report_.lengthMs;
    qint64 at = report_.positionMs + sinceReport_.elapsed() * playback::paceFactor(report_.pace);
    if (length > 0 && at >= length) {
        at = report_.loop ? at % length : length;
    }
    showPosition(at);
}

} // namespace zanst::app
