#pragma once
// Playing a recorded bank into a real BMS, on the bus engine's thread. It holds the player and a
// single-shot precise timer at the player's nextDue(); at each step it applies the edits and
// hands the emulator the played bank (every battery its own cells), the sliders' settings and
// the model, so the answers are built exactly as for slider values. While the recording holds
// the bank (playing or paused) the BMS's answers are captured beside it.
//
// A front end without a window drives it the same way as the window: openPlayback() off the
// engine's thread, then queued calls (engine/post.hpp) to load(), play(), pause(), stop(),
// setPace(), setLoop(), seek(), step(), addEdit(); `reported` says where it stands after every
// call and step, `recordingRefused` and `editRefused` why one was not taken, `logged` what the service
// log of the visit should hold.

#include "bus/state.hpp"
#include "engine/playback_report.hpp"
#include "playback/edits.hpp"
#include "playback/player.hpp"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zanst::app {

class CaptureFeature;
class EmulatorFeature;
class ModeSwitch;

class PlaybackFeature : public QObject {
    Q_OBJECT
  public:
    struct Parts {
        bus::BusState& state;
        EmulatorFeature& emulator;
        CaptureFeature& capture;
        ModeSwitch& modes;
    };

    explicit PlaybackFeature(const Parts& parts, QObject* parent = nullptr);
    ~PlaybackFeature() override;

    // Engine thread. Replaces the recording loaded (a playing one stops first); edits are kept
    // only where they fit the new one. Refused when no model matches or it holds no step.
    void load(PlaybackSource source);
    // From the start when stopped or finished, else on from where it stands. The model, the
    // played bank and the answers' capture take over the emulated bank.
    void play();
    void pause();
    // Ends the playback where it stands: the bank keeps the last step's values.
    void stop();
    void setPace(playback::Pace pace);
    void setLoop(bool on);
    void seek(qint64 positionMs);
    void step(int by);
    // An edit in its text form; refused (with the reason) when it does not parse or fit.
    void addEdit(const QString& text);
    void removeEdit(int index);
    void clearEdits();

    // The engine stops: a playback ends ("the tool was closed") and the timer stops.
    void shutdown();

    bool loaded() const { return source_.has_value(); }
    const playback::Player* player() const { return player_.get(); }
    const std::vector<playback::Edit>& edits() const { return edits_; }

  signals:
    void reported(const zanst::app::PlaybackReport& report);
    void recordingRefused(const QString& file, const QString& reason);
    void editRefused(const QString& text, const QString& reason);
    void logged(const zanst::app::PlaybackLogEntry& entry);

  private:
    // Calls `fn` on the player, if one is loaded, and settles what follows from it.
    void control(const std::function<void(playback::Player&)>& fn);
    // After every call: the bank follows the player, the timer is armed, the front ends are told.
    // `endReason` says why, should the playback end here.
    void settle(const QString& endReason = {});
    void drive(std::size_t step);
    void arm();
    void takeBank();
    void releaseBank(const QString& ended);
    void startAnswersCapture();
    void publish();
    void log(PlaybackLogEntry::Event event, const QString& text);
    QString positionText() const;

    Parts parts_;
    playback::SteadyClock clock_;
    std::optional<PlaybackSource> source_;
    std::unique_ptr<playback::Player> player_;
    std::vector<playback::Edit> edits_;
    playback::Pace pace_ = playback::Pace::Recorded;
    bool loop_ = false;
    QTimer timer_;
    bool holding_ = false; // the recording holds the emulated bank
    std::optional<PlayedStep> driven_;
    bool drivenUnreported_ = false;
    QString ended_;
    QString capturePath_;
    QString captureError_;
    bool ownCapture_ = false;
    QString runningCapture_; // the capture being written now, whoever started it
    QString lastCaptureError_;
};

} // namespace zanst::app
