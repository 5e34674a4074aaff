// emulate: a recorded bank played into a real BMS without a window. The engine's playback feature
// drives the emulated bank exactly as "Play bank..." does; this runner reads the recording, hands
// it over with the pace, loop and edits asked for, prints a line a step and ends at the recording's
// end, after --seconds or at Ctrl+C, once the BMS's answers are written.

#include "cli/runners.hpp"
#include "cli/session.hpp"
#include "engine/bus_engine.hpp"
#include "engine/playback_feature.hpp"
#include "files/app_data.hpp"
#include "playback/edits.hpp"
#include "playback/timeline.hpp"
#include "recording/csv_recording.hpp"

#include <chrono>

namespace zanst::cli {

namespace {

constexpr int kCaptureStopMs = 2000; // for the answers' capture to close at the end

playback::Pace paceOf(int speed) {
    switch (speed) {
    case 2:
        return playback::Pace::Double;
    case 10:
        return playback::Pace::Tenfold;
    default:
        return playback::Pace::Recorded;
    }
}

// "00:00:04 / 00:00:08  step 5/8  loop 2" (the loop only once it came round).
std::string emulateStepLine(const app::PlaybackReport& r) {
    std::string line = playback::clockText(r.positionMs) + " / " + playback::clockText(r.lengthMs) +
                       "  step " + std::to_string(r.step + 1) + "/" + std::to_string(r.steps);
    if (r.loops > 0) {
        line += "  loop " + std::to_string(r.loops + 1);
    }
    return line;
}

} // namespace

int runEmulate(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<EmulateArgs>(invocation.args);
    Session session(console, "emulate");

    // Read before the port opens: a recording that cannot be played needs no bus.
    const QString from = QString::fromStdString(args.from);
    app::PlaybackOpening opening =
        app::openPlayback(from, app::answersFolderFor(from, app::recordingsFolder()));
    if (!opening.source) {
        session.say("cannot play " + args.from + ": " + opening.error.toStdString());
        return code(ExitCode::Failed);
    }

    // Edits are checked against the recording here too, so that a refused one never reaches a BMS.
    for (const std::string& text : args.edits) {
        const playback::EditParse parsed = playback::parseEdit(text);
        const std::string why =
            parsed.edit ? playback::checkEdit(*parsed.edit, opening.source->timeline) : parsed.error;
        if (!why.empty()) {
            session.say("edit \"" + text + "\" refused: " + why);
            return code(ExitCode::Failed);
        }
    }

    int steps = 0;
    int lastStep = -1;
    long lastLoops = -1;
    int answered = 0;
    bool summarised = false;
    bool capturing = false;
    bool stopping = false;
    std::string capturePath;
    int result = code(ExitCode::Success);

    const auto print = [&](const std::string& line) {
        if (!console.print(recording::isoTimestamp(std::chrono::system_clock::now()) + "  " + line + "\n")) {
            session.finish(ExitCode::Success); // nobody reads any more
        }
    };
    // The end: the playback stops, the answers' capture closes, then the run ends.
    const auto stop = [&](int exitCode) {
        if (stopping) {
            return;
        }
        stopping = true;
        result = exitCode;
        session.post(session.engine().playback(), [](app::PlaybackFeature& p) { p.stop(); });
        if (!capturing) {
            session.finish(result);
            return;
        }
        session.after(kCaptureStopMs,
                      [&] { session.fail(ExitCode::Failed, "the answers' capture did not close in time"); });
    };
    // What the run did, and its exit code: a playback that no BMS asked for showed it nothing.
    const auto ended = [&] {
        session.say("played " + std::to_string(lastStep + 1) + " of " + std::to_string(steps) +
                    (steps == 1 ? " step" : " steps") +
                    (lastLoops > 0 ? ", " + std::to_string(lastLoops + 1) + " times round" : std::string()) +
                    "; the BMS was answered " + std::to_string(answered) +
                    (answered == 1 ? " time" : " times") +
                    (capturePath.empty() || capturePath == "-" ? std::string()
                                                               : "; its answers are in " + capturePath));
        if (answered == 0) {
            session.say("no BMS asked for the bank while it played: is " + args.port + " on the BMS's bus?");
            return code(ExitCode::Failed);
        }
        return code(ExitCode::Success);
    };

    QObject::connect(session.engine().playback(), &app::PlaybackFeature::reported, &session,
                     [&](const app::PlaybackReport& r) {
                         steps = r.steps;
                         if (!summarised && !r.file.isEmpty()) {
                             summarised = true;
                             session.say(r.summary.toStdString());
                             for (const app::PlaybackEditSpan& e : r.edits) {
                                 session.say("edit: " + e.text.toStdString());
                             }
                         }
                         if (!r.captureError.isEmpty() && capturePath.empty()) {
                             capturePath = "-";
                             session.say("the BMS's answers are not captured: " +
                                         r.captureError.toStdString());
                         }
                         if (r.holdsBank() && (r.step != lastStep || r.loops != lastLoops)) {
                             lastStep = r.step;
                             lastLoops = r.loops;
                             print(emulateStepLine(r));
                         }
                         if (r.state == playback::PlayState::Finished) {
                             stop(ended());
                         }
                     });
    QObject::connect(session.engine().playback(), &app::PlaybackFeature::recordingRefused, &session,
                     [&](const QString& file, const QString& reason) {
                         session.fail(ExitCode::Failed,
                                      "cannot play " + file.toStdString() + ": " + reason.toStdString());
                     });
    QObject::connect(session.engine().playback(), &app::PlaybackFeature::editRefused, &session,
                     [&](const QString& text, const QString& reason) {
                         session.say("edit \"" + text.toStdString() + "\" refused: " + reason.toStdString());
                         stop(code(ExitCode::Failed));
                     });
    QObject::connect(session.engine().emulator(), &app::EmulatorFeature::reported, &session,
                     [&](const emulator::ResponderReport& r) {
                         if (r.identityReceived && answered == 0) {
                             session.say("the BMS asked for the bank's info");
                         }
                         answered += r.measurementAnswered ? 1 : 0;
                     });
    QObject::connect(session.engine().capture(), &app::CaptureFeature::captureStateChanged, &session,
                     [&](bool on, const QString& path, const QString& error) {
                         if (on) {
                             capturing = true;
                             capturePath = path.toStdString();
                             session.say("capturing the BMS's answers to " + capturePath);
                         } else {
                             capturing = false;
                             if (!error.isEmpty()) {
                                 session.say("the answers' capture failed: " + error.toStdString());
                             }
                             if (stopping) {
                                 session.finish(result);
                             }
                         }
                     });

    session.openPort(args.port, [&] {
        // The playback holds the bank before the BMS asks, so that no answer carries the sliders'.
        session.selectMode(bus::Mode::BmsTester);
        session.post(session.engine().playback(),
                     [s = std::move(*opening.source), pace = paceOf(args.speed), loop = args.loop,
                      edits = args.edits](app::PlaybackFeature& p) mutable {
                         p.load(std::move(s));
                         p.setPace(pace);
                         p.setLoop(loop);
                         for (const std::string& e : edits) {
                             p.addEdit(QString::fromStdString(e));
                         }
                         p.play();
                     });
        if (args.seconds) {
            session.after(*args.seconds * 1000, [&] { stop(ended()); });
        }
    });
    session.onInterrupt([&](int count) {
        if (count > 1) {
            session.finish(result);
        } else {
            stop(ended());
        }
    });
    return session.run();
}

} // namespace zanst::cli
