#include "engine/playback_feature.hpp"

#include "emulator/presets.hpp"
#include "engine/capture_feature.hpp"
#include "engine/emulator_feature.hpp"
#include "engine/mode_switch.hpp"
#include "playback/bank_frame.hpp"
#include "playback/recording.hpp"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>

namespace zanst::app {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString modelText(const playback::PresetMatch& match) {
    const auto index =
        static_cast<std::size_t>(std::clamp(match.listIndex, 0, int(emulator::kPresetCount) - 1));
    const std::string_view caption = emulator::batteryPresetCaptions[index];
    return QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
}

} // namespace

PlaybackOpening openPlayback(const QString& path, const QString& answersFolder) {
    PlaybackOpening out;
    playback::ReadResult read = playback::readRecording(path.toStdString());
    if (!read.ok()) {
        out.error = qs(read.error);
        return out;
    }
    PlaybackSource source;
    source.file = path;
    source.timeline = std::move(*read.timeline);
    if (source.timeline.steps.empty()) {
        out.error = QStringLiteral("The recording holds no measurement");
        return out;
    }
    source.match = playback::matchPreset(source.timeline);
    if (!source.match.ok) {
        out.error = qs(source.match.reason);
        return out;
    }
    source.answersFolder = answersFolder;
    out.source = std::move(source);
    return out;
}

QString answersFolderFor(const QString& recording, const QString& fallback) {
    const QString folder = QFileInfo(recording).absolutePath();
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable() ? folder : fallback;
}

QString answersCapturePath(const QString& folder, const QString& recording, const QDateTime& at) {
    const QString stem = QFileInfo(recording).completeBaseName() + QStringLiteral("_answers_") +
                         at.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QDir dir(folder);
    QString path = dir.filePath(stem + QStringLiteral(".zcap"));
    for (int n = 2; QFileInfo::exists(path); ++n) {
        path = dir.filePath(stem + QStringLiteral("_%1.zcap").arg(n));
    }
    return path;
}

PlaybackFeature::PlaybackFeature(const Parts& parts, QObject* parent)
    : QObject(parent), parts_(parts), timer_(this) {
    qRegisterMetaType<PlaybackReport>();
    qRegisterMetaType<PlaybackLogEntry>();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { settle(); });
    connect(&parts_.modes, &ModeSwitch::modeSelected, this, [this](bus::Mode mode) {
        // The recording is played to a BMS; on another tab nobody answers it.
        if (holding_ && mode != bus::Mode::BmsTester) {
            player_->stop();
            settle(QStringLiteral("another tab was selected"));
        }
    });
    connect(&parts_.capture, &CaptureFeature::captureStateChanged, this,
            [this](bool capturing, const QString& path, const QString& error) {
                runningCapture_ = capturing ? path : QString();
                lastCaptureError_ = error;
                if (ownCapture_ && capturing && path != capturePath_) {
                    ownCapture_ = false; // the user started a capture of their own in its place
                }
            });
}

PlaybackFeature::~PlaybackFeature() = default;

void PlaybackFeature::load(PlaybackSource source) {
    if (!source.match.ok || source.timeline.steps.empty()) {
        emit recordingRefused(source.file, source.match.ok
                                               ? QStringLiteral("The recording holds no measurement")
                                               : qs(source.match.reason));
        return;
    }
    if (player_ && holding_) {
        player_->stop();
        settle(QStringLiteral("another recording was opened"));
    }
    source_ = std::move(source);
    player_ = std::make_unique<playback::Player>(source_->timeline, clock_);
    player_->setPace(pace_);
    player_->setLoop(loop_);
    const std::size_t before = edits_.size();
    std::erase_if(edits_, [this](const playback::Edit& e) {
        return !playback::checkEdit(e, source_->timeline).empty();
    });
    if (edits_.size() != before) {
        log(PlaybackLogEntry::Event::EditsChanged,
            QStringLiteral("%1 playback edits do not fit %2 and were dropped")
                .arg(before - edits_.size())
                .arg(source_->file));
    }
    driven_.reset();
    drivenUnreported_ = false;
    ended_.clear();
    capturePath_.clear();
    captureError_.clear();
    publish();
}

void PlaybackFeature::control(const std::function<void(playback::Player&)>& fn) {
    if (player_) {
        fn(*player_);
        settle();
    }
}

void PlaybackFeature::play() {
    control([](playback::Player& p) { p.play(); });
}

void PlaybackFeature::pause() {
    control([](playback::Player& p) { p.pause(); });
}

void PlaybackFeature::stop() {
    control([](playback::Player& p) { p.stop(); });
}

void PlaybackFeature::shutdown() {
    if (player_ && holding_) {
        player_->stop();
        settle(QStringLiteral("the tool was closed"));
    }
    timer_.stop();
}

void PlaybackFeature::setPace(playback::Pace pace) {
    pace_ = pace;
    control([pace](playback::Player& p) { p.setPace(pace); });
}

void PlaybackFeature::setLoop(bool on) {
    loop_ = on;
    control([on](playback::Player& p) { p.setLoop(on); });
}

void PlaybackFeature::seek(qint64 positionMs) {
    control([positionMs](playback::Player& p) { p.seek(positionMs); });
}

void PlaybackFeature::step(int by) {
    control([by](playback::Player& p) { p.step(by); });
}

void PlaybackFeature::addEdit(const QString& text) {
    if (!source_) {
        emit editRefused(text, QStringLiteral("Open a recording first: an edit acts on its cells and times"));
        return;
    }
    const playback::EditParse parsed = playback::parseEdit(text.toStdString());
    if (!parsed.edit) {
        emit editRefused(text, qs(parsed.error));
        return;
    }
    const std::string misfit = playback::checkEdit(*parsed.edit, source_->timeline);
    if (!misfit.empty()) {
        emit editRefused(text, qs(misfit));
        return;
    }
    edits_.push_back(*parsed.edit);
    log(PlaybackLogEntry::Event::EditsChanged,
        QStringLiteral("Playback edit added: ") + qs(playback::editText(*parsed.edit)));
    if (holding_) {
        drive(player_->currentStep()); // shown at once, also while paused
    }
    settle();
}

void PlaybackFeature::removeEdit(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= edits_.size()) {
        return;
    }
    const QString text = qs(playback::editText(edits_[static_cast<std::size_t>(index)]));
    edits_.erase(edits_.begin() + index);
    log(PlaybackLogEntry::Event::EditsChanged, QStringLiteral("Playback edit removed: ") + text);
    if (holding_) {
        drive(player_->currentStep());
    }
    settle();
}

void PlaybackFeature::clearEdits() {
    if (edits_.empty()) {
        return;
    }
    edits_.clear();
    log(PlaybackLogEntry::Event::EditsChanged, QStringLiteral("Playback edits removed"));
    if (holding_) {
        drive(player_->currentStep());
    }
    settle();
}

void PlaybackFeature::settle(const QString& endReason) {
    if (!player_) {
        publish();
        return;
    }
    const auto holds = [this] {
        const playback::PlayState s = player_->state();
        return s == playback::PlayState::Playing || s == playback::PlayState::Paused;
    };
    if (!holding_ && holds()) {
        takeBank();
    }
    if (holding_) {
        // Also when it has just stopped or finished: the bank shows the step it ended on.
        if (const auto due = player_->update()) {
            drive(*due);
        }
        if (!holds()) {
            releaseBank(player_->state() == playback::PlayState::Finished ? QStringLiteral("finished")
                                                                          : endReason);
        }
    }
    arm();
    publish();
}

void PlaybackFeature::drive(std::size_t step) {
    const playback::BankFrame frame = playback::frameAt(source_->timeline, step, edits_);
    PlayedStep played;
    played.played = playback::playedBank(frame, source_->match);
    played.sliders = playback::sliderSettings(frame, source_->match, parts_.emulator.responder().settings());
    played.listIndex = source_->match.listIndex;
    parts_.emulator.playBank(played.played, played.listIndex, played.sliders);
    driven_ = played;
    drivenUnreported_ = true;
}

void PlaybackFeature::arm() {
    const auto due = player_ ? player_->nextDue() : std::nullopt;
    if (!due) {
        timer_.stop();
        return;
    }
    // Rounded up: a wake-up before the step is due would find nothing to do.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - playback::PlayClock::now()).count();
    timer_.start(static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX)));
}

void PlaybackFeature::takeBank() {
    holding_ = true;
    ended_.clear();
    startAnswersCapture();
    QString text =
        qs(playback::playbackSummary(source_->file.toStdString(), source_->timeline, source_->match));
    text += capturePath_.isEmpty() ? QStringLiteral(". The BMS's answers are not captured: ") + captureError_
                                   : QStringLiteral(". The BMS's answers are captured to ") + capturePath_;
    log(PlaybackLogEntry::Event::Started, text);
}

void PlaybackFeature::releaseBank(const QString& ended) {
    holding_ = false;
    parts_.emulator.releasePlayedBank();
    if (ownCapture_ && runningCapture_ == capturePath_) {
        parts_.capture.stopCapture();
    }
    ownCapture_ = false;
    ended_ = ended;
    QString text =
        QStringLiteral("Playback of %1 %2 at %3")
            .arg(source_->file, ended == QStringLiteral("finished") ? ended : QStringLiteral("stopped"),
                 positionText());
    if (player_->loops() > 0) {
        text += QStringLiteral(" after %1 loops").arg(player_->loops());
    }
    if (!ended.isEmpty() && ended != QStringLiteral("finished")) {
        text += QStringLiteral(": ") + ended;
    }
    log(PlaybackLogEntry::Event::Stopped, text);
}

void PlaybackFeature::startAnswersCapture() {
    capturePath_.clear();
    captureError_.clear();
    ownCapture_ = false;
    if (source_->answersFolder.isEmpty()) {
        captureError_ = QStringLiteral("no folder was given for them");
        return;
    }
    if (!runningCapture_.isEmpty()) {
        capturePath_ = runningCapture_; // the capture running already holds them
        return;
    }
    QDir().mkpath(source_->answersFolder);
    const QString path =
        answersCapturePath(source_->answersFolder, source_->file, QDateTime::currentDateTime());
    lastCaptureError_.clear();
    parts_.capture.startCapture(path, parts_.state.selectedMode);
    if (parts_.capture.capturing()) {
        capturePath_ = path;
        ownCapture_ = true;
    } else {
        captureError_ =
            lastCaptureError_.isEmpty() ? QStringLiteral("the capture did not start") : lastCaptureError_;
    }
}

void PlaybackFeature::publish() {
    PlaybackReport r;
    if (source_) {
        r.file = source_->file;
        r.summary =
            qs(playback::playbackSummary(source_->file.toStdString(), source_->timeline, source_->match));
        r.model = modelText(source_->match);
        r.batteries = source_->match.batteries;
        for (const std::string& note : source_->timeline.notes) {
            r.notes << qs(note);
        }
        r.cells = source_->timeline.cellCount;
        r.steps = static_cast<int>(source_->timeline.steps.size());
        r.lengthMs = source_->timeline.lengthMs();
    }
    r.pace = pace_;
    r.loop = loop_;
    if (player_) {
        r.state = player_->state();
        r.loops = player_->loops();
        r.step = static_cast<int>(player_->currentStep());
        r.positionMs = player_->positionMs();
    }
    for (const playback::Edit& e : edits_) {
        r.edits.push_back({e.fromMs, e.untilMs.value_or(-1), qs(playback::editText(e))});
    }
    if (drivenUnreported_) {
        r.driven = driven_;
        drivenUnreported_ = false;
    }
    r.capturePath = capturePath_;
    r.captureError = captureError_;
    r.ended = ended_;
    emit reported(r);
}

void PlaybackFeature::log(PlaybackLogEntry::Event event, const QString& text) {
    PlaybackLogEntry entry;
    entry.event = event;
    entry.text = text;
    if (source_) {
        entry.summary =
            qs(playback::playbackSummary(source_->file.toStdString(), source_->timeline, source_->match));
    }
    for (const playback::Edit& e : edits_) {
        entry.edits << qs(playback::editText(e));
    }
    emit logged(entry);
}

QString PlaybackFeature::positionText() const {
    return qs(playback::clockText(player_->positionMs())) + QStringLiteral(" (step %1 of %2)")
                                                                .arg(player_->currentStep() + 1)
                                                                .arg(source_->timeline.steps.size());
}

} // namespace zanst::app
