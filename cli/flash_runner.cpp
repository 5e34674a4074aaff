// flash: the firmware updater of the service tools without a window. The bank is enumerated on
// "Battery tester", the file goes to the updater as a dropped one does, its log lines go to
// standard error (the progress as a bar on a terminal), and after the update every balancer's
// version is read back from the next enumeration.

#include "bus/hex.hpp"
#include "cli/flash_steps.hpp"
#include "cli/progress.hpp"
#include "cli/runners.hpp"
#include "cli/session.hpp"
#include "engine/bus_engine.hpp"

namespace zanst::cli {

namespace {

// The updater gives up after 20 s; reading back a bank that enumerates again takes a few ticks.
constexpr int kVerifyMs = 12000;
constexpr int kWholeRunMs = 90000; // a last guard: the updater's own limit ends every update sooner
constexpr int kStopWaitMs = 2000;  // for the end-update frame after Ctrl+C

enum class Phase { Enumerating, Updating, Stopping, Verifying };

bool enumerated(const tester::TickReport& report) {
    const auto& balancers = report.snapshot.balancers;
    if (balancers.empty()) {
        return false;
    }
    // Balancers left in their boot loader by an earlier update are only ever enumerated.
    bool allKnown = true;
    bool inBootLoader = false;
    for (const bank::BalancerReading& b : balancers) {
        allKnown = allKnown && b.id != 0;
        inBootLoader = inBootLoader || b.bootMode != 0;
    }
    return report.sent == tester::PollRequest::Measurement || (allKnown && inBootLoader);
}

} // namespace

int runFlash(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<FlashArgs>(invocation.args);
    service::HexReadResult file = readFirmwareFile(args.file);
    Progress progress(console.err, Progress::isTerminal(console.err));
    if (!file.image) {
        for (const std::string& line : file.log) {
            progress.log(line);
        }
        console.error("flash: " + args.file + " is no firmware image the updater takes");
        return code(ExitCode::Usage);
    }
    const std::uint32_t imageVersion = file.image->version();

    Session session(console, "flash");
    Phase phase = Phase::Enumerating;
    int ticks = 0;
    bool timedOut = false;
    bank::BankSnapshot before;
    std::optional<FlashVerdict> last;

    const auto conclude = [&] {
        progress.finish();
        if (!last) {
            session.fail(ExitCode::Failed, "no balancer was enumerated after the update");
            return;
        }
        std::string out;
        for (const std::string& line : verdictLines(*last, imageVersion)) {
            out += line + "\n";
        }
        console.print(out);
        if (timedOut) {
            session.fail(ExitCode::Failed, "the update ran into the updater's time limit");
        } else if (!last->passed()) {
            session.fail(ExitCode::Failed, "not every balancer reports the file's version");
        } else {
            session.finish(ExitCode::Success);
        }
    };
    const auto startVerifying = [&] {
        phase = Phase::Verifying;
        session.after(kVerifyMs, conclude);
    };

    session.pollBank(args.port, [&](const tester::TickReport& report) {
        ++ticks;
        if (phase == Phase::Enumerating) {
            if (enumerated(report)) {
                before = report.snapshot;
                progress.log(std::to_string(before.balancers.size()) + " balancers found; updating them to " +
                             bus::versionToString(imageVersion));
                phase = Phase::Updating;
                session.post(session.engine().service(),
                             [force = args.force, f = std::move(file)](app::ServiceFeature& s) mutable {
                                 s.setForceUpdate(force);
                                 s.fileRead(std::move(f));
                             });
            } else if (ticks >= kAnswerTicks && report.snapshot.balancers.empty()) {
                session.fail(ExitCode::NoBalancer,
                             "no balancer answered on " + args.port + "; nothing was sent");
            }
            return;
        }
        if (phase != Phase::Verifying || report.snapshot.balancers.size() != before.balancers.size()) {
            return;
        }
        FlashVerdict verdict = judgeVersions(before, report.snapshot, imageVersion);
        if (!verdict.complete) {
            return; // the enumeration is still under way
        }
        last = std::move(verdict);
        // A failed update is judged at once; a good one may take a tick until every balancer is back.
        if (timedOut || last->passed()) {
            conclude();
        }
    });

    QObject::connect(session.engine().service(), &app::ServiceFeature::updaterReported, &session,
                     [&](const service::UpdaterReport& report) {
                         for (const service::UpdaterLogLine& line : report.log) {
                             if (const auto percent = progressPercent(line.text); percent && !line.newLine) {
                                 progress.update(*percent, 100);
                                 continue;
                             }
                             if (line.text == "Updater Timeout") {
                                 progress.finish();
                                 timedOut = true;
                             }
                             progress.log(line.text);
                             if (line.text.starts_with("Firmware updated to")) {
                                 progress.finish();
                                 if (phase == Phase::Updating) {
                                     startVerifying();
                                 } else if (phase == Phase::Stopping) {
                                     session.fail(ExitCode::Failed, "interrupted after the update had ended; "
                                                                    "the versions were not read back");
                                 }
                             }
                         }
                         if (!report.endUpdateSent) {
                             return;
                         }
                         if (phase == Phase::Stopping) {
                             progress.finish();
                             session.fail(ExitCode::Failed,
                                          "interrupted: the update was ended with its end-update frame");
                         } else if (timedOut && phase == Phase::Updating) {
                             startVerifying();
                         }
                     });

    session.onInterrupt([&](int count) {
        progress.finish();
        if (count > 1) {
            session.fail(ExitCode::Failed, "interrupted again: stopping at once");
            return;
        }
        switch (phase) {
        case Phase::Enumerating:
            session.fail(ExitCode::Failed, "interrupted before the update began; nothing was sent");
            break;
        case Phase::Updating:
            phase = Phase::Stopping;
            session.post(session.engine().service(), [](app::ServiceFeature& s) {
                s.stopUpdate(QStringLiteral("Update stopped: interrupted"));
            });
            session.after(kStopWaitMs, [&] {
                session.fail(ExitCode::Failed,
                             "interrupted; the updater did not confirm its end-update frame");
            });
            break;
        case Phase::Stopping:
            break;
        case Phase::Verifying:
            session.fail(ExitCode::Failed,
                         "interrupted while the versions were read back; the update had ended");
            break;
        }
    });
    session.after(kWholeRunMs, [&] { session.fail(ExitCode::Failed, "the update did not end in time"); });
    return session.run();
}

} // namespace zanst::cli
