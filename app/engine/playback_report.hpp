#pragma once
// What the playback of a recorded bank tells its front ends, as values that cross threads: the
// recording loaded, where the player stands, the edits on the time line, the step the bank was
// last driven with, and the lines for the service log of the visit.

#include "emulator/bank_editor.hpp"
#include "emulator/played_bank.hpp"
#include "playback/player.hpp"
#include "playback/preset_match.hpp"
#include "playback/timeline.hpp"

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace zanst::app {

// A recording read and matched to a model, ready for the engine: reading takes time (an hour of
// 160 cells about 100 ms), so a front end does it off the engine's thread (openPlayback).
struct PlaybackSource {
    QString file;
    playback::Timeline timeline;
    playback::PresetMatch match; // ok
    // Where the BMS's answers are captured while the recording plays; empty: not captured.
    QString answersFolder;
};

struct PlaybackOpening {
    std::optional<PlaybackSource> source;
    QString error; // why it cannot be played: not read, or no model matches
};

// Reads `path` (a capture or a CSV recording) and picks the model that plays it. Any thread.
PlaybackOpening openPlayback(const QString& path, const QString& answersFolder);

// The folder the answers go to: the recording's own when it can be written there, else `fallback`
// (the recordings folder).
QString answersFolderFor(const QString& recording, const QString& fallback);
// "<recording's name>_answers_<yyyyMMdd-HHmmss>.zcap" in `folder`, with "_2", "_3", ... before
// ".zcap" when that file exists already.
QString answersCapturePath(const QString& folder, const QString& recording, const QDateTime& at);

struct PlaybackEditSpan {
    qint64 fromMs = 0;
    qint64 untilMs = -1; // -1: to the end of the recording
    QString text;        // as parsed and printed: "cell 5 drifts 2 mV a second lower from 00:03:10"
};

// The step the bank was driven with: what the responder answers (every battery) and what the
// sliders show (battery 1, within their ranges), with the model playing it.
struct PlayedStep {
    emulator::PlayedBank played;
    emulator::BankSettings sliders;
    int listIndex = -1;
};

struct PlaybackReport {
    QString file; // empty: nothing loaded
    // One line: file, source, steps, length, cells, the model and why, notes (for the service log).
    QString summary;
    QString model; // the model's caption
    int batteries = 0;
    QStringList notes;
    int cells = 0;
    playback::PlayState state = playback::PlayState::Stopped;
    playback::Pace pace = playback::Pace::Recorded;
    bool loop = false;
    long loops = 0;
    int step = 0;  // 0-based
    int steps = 0; // in the recording
    qint64 positionMs = 0;
    qint64 lengthMs = 0;
    std::vector<PlaybackEditSpan> edits;
    // Set when the bank was driven with a new step (or the same one with other edits).
    std::optional<PlayedStep> driven;
    QString capturePath;  // where the BMS's answers are being (or were last) captured
    QString captureError; // why they are not captured
    // Why the playback ended without being asked to: "finished", "another tab was selected".
    QString ended;

    // The bank is the recording's: the sliders are locked.
    bool holdsBank() const {
        return state == playback::PlayState::Playing || state == playback::PlayState::Paused;
    }
};

// A line for the service log of the visit.
struct PlaybackLogEntry {
    enum class Event { Started, EditsChanged, Stopped };
    Event event = Event::Started;
    QString text;      // what happened, in one line
    QString summary;   // the playback's summary (PlaybackReport::summary)
    QStringList edits; // every edit in force, in order
};

} // namespace zanst::app

Q_DECLARE_METATYPE(zanst::app::PlaybackReport)
Q_DECLARE_METATYPE(zanst::app::PlaybackLogEntry)
