// sniff: the data sniffer without a window. The engine repeats every byte on its own path, exactly
// as for the window's "Data Sniffer"; this runner only prints what the sniffer decoded, as it
// changes, and keeps the port: a sniffer left in a ring goes on after its adapter was replugged.

#include "cli/runners.hpp"
#include "cli/session.hpp"
#include "cli/sniff_view.hpp"
#include "engine/bus_engine.hpp"
#include "recording/csv_recording.hpp"

#include <chrono>

namespace zanst::cli {

namespace {

constexpr int kReopenEveryMs = 1000;
constexpr int kCaptureStopMs = 2000; // for the capture's last write at the end

} // namespace

int runSniff(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<SniffArgs>(invocation.args);
    Session session(console, "sniff");
    SniffView view;
    bool everOpen = false;
    bool lost = false;
    bool capturing = false;
    bool stopping = false;

    const auto print = [&](const std::vector<std::string>& lines) {
        if (lines.empty()) {
            return;
        }
        const std::string stamp = recording::isoTimestamp(std::chrono::system_clock::now());
        std::string out;
        for (const std::string& line : lines) {
            out += stamp + "  " + line + "\n";
        }
        if (!console.print(out)) {
            session.finish(ExitCode::Success); // nobody reads any more
        }
    };
    // The end: the capture's last bytes are written before the run ends.
    const auto stop = [&] {
        if (stopping) {
            return;
        }
        stopping = true;
        if (!capturing) {
            session.finish(ExitCode::Success);
            return;
        }
        session.post(&session.engine(), [](app::BusEngine& e) { e.stopCapture(); });
        session.after(kCaptureStopMs,
                      [&] { session.fail(ExitCode::Failed, "the capture did not close in time"); });
    };

    // The fields first, then the rows the same pass completed: this slot is served before the feed's.
    QObject::connect(
        session.engine().sniffer(), &app::SnifferFeature::reported, &session,
        [&](const sniffer::SnifferReport& report) { print(view.fields(report.bmsInfoReceived)); });
    QObject::connect(&session.feed(), &app::BankFeed::snapshotTaken, &session,
                     [&](const bank::BankSnapshot& snapshot) { print(view.rows(snapshot)); });
    QObject::connect(session.engine().capture(), &app::CaptureFeature::captureStateChanged, &session,
                     [&](bool on, const QString& path, const QString& error) {
                         if (on) {
                             capturing = true;
                             session.say("capturing every byte to " + path.toStdString());
                         } else if (!error.isEmpty()) {
                             capturing = false;
                             session.fail(ExitCode::Failed, error.toStdString());
                         } else if (capturing) {
                             capturing = false;
                             session.say("capture written to " + path.toStdString());
                             if (stopping) {
                                 session.finish(ExitCode::Success);
                             }
                         }
                     });

    session.openPort(args.port, [&] {
        if (everOpen) {
            lost = false;
            session.say(args.port + " is open again; repeating every byte");
            return;
        }
        everOpen = true;
        session.selectMode(bus::Mode::Sniffer);
        if (args.capture) {
            const QString path = QString::fromStdString(*args.capture);
            session.post(&session.engine(), [path](app::BusEngine& e) { e.startCapture(path); });
        }
        if (args.seconds) {
            session.after(*args.seconds * 1000, stop);
        }
    });
    // The ring is broken while the port is gone; it is asked for again every second.
    std::function<void()> reopen = [&] {
        if (!lost || stopping) {
            return;
        }
        session.reopenPort();
        session.after(kReopenEveryMs, reopen);
    };
    session.onPortLost([&](const QString& reason) {
        if (lost) {
            return;
        }
        lost = true;
        session.say("lost " + args.port + (reason.isEmpty() ? "" : ": " + reason.toStdString()) +
                    "; opening it again every second");
        session.after(kReopenEveryMs, reopen);
    });
    session.onPortFailed([&](const QString& reason) {
        if (!everOpen) {
            session.fail(ExitCode::PortUnavailable,
                         "cannot open " + args.port + (reason.isEmpty() ? "" : ": " + reason.toStdString()));
        } // else: still gone; the next try comes in a second
    });
    session.onInterrupt([&](int count) {
        if (count > 1) {
            session.finish(ExitCode::Success);
        } else {
            stop();
        }
    });
    return session.run();
}

} // namespace zanst::cli
