// metrics: "Get All Metrics" without a window. On the "Metrics" mode, after its mode step, the
// fetch asks the batteries one instance at a time; every record is appended to a metrics file of
// the Metrics tab's format, its console lines go to standard error.

#include "cli/runners.hpp"
#include "cli/session.hpp"
#include "engine/bus_engine.hpp"
#include "engine/mode_switch.hpp"
#include "files/app_data.hpp"
#include "files/metrics_archive.hpp"

namespace zanst::cli {

namespace {

// The mode step leaves test mode 500 ms after the selection; the fetch starts behind it, as a
// press of "Get All Metrics" could only come after the blocking pause.
constexpr int kAfterModeStepMs = app::ModeSwitch::kSettleMs + 200;
constexpr int kWholeRunMs = 60000; // every fetch ends by itself well before this

} // namespace

int runMetrics(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<MetricsArgs>(invocation.args);
    Session session(console, "metrics");
    const QString folder = args.outDir ? QString::fromStdString(*args.outDir) : app::metricsFolder();
    app::MetricsArchive archive(folder);
    bool interrupted = false;
    bool storeFailed = false;

    QObject::connect(
        session.engine().metrics(), &app::MetricsFeature::reported, &session,
        [&](const metrics::FetchReport& report) {
            if (report.started) {
                archive.fetchBegan();
            }
            for (const metrics::MetricsMetadata& record : report.recordsReceived) {
                const QString problem = archive.store(record);
                if (!problem.isEmpty()) {
                    std::fprintf(console.err, "%s\n", problem.toStdString().c_str());
                    storeFailed = storeFailed || archive.activeFile().isEmpty();
                }
            }
            for (const std::string& line : report.consoleLines) {
                std::fprintf(console.err, "%s\n", line.c_str());
            }
            std::fflush(console.err);
            if (!report.ended) {
                return;
            }
            const int stored = archive.stored();
            std::string out = archive.finishedLine(*report.ended).toStdString() + "\n";
            if (stored > 0) {
                out += "Metrics file: " + archive.activeFile().toStdString() + "\n";
            }
            console.print(out);
            if (interrupted) {
                session.fail(ExitCode::Failed, "interrupted");
            } else if (storeFailed && stored == 0) {
                session.fail(ExitCode::Failed, "no metrics file could be written in " + folder.toStdString());
            } else if (stored == 0) {
                session.fail(ExitCode::NoBalancer, "no battery answered the metrics request on " + args.port);
            } else {
                session.finish(ExitCode::Success);
            }
        });
    session.openPort(args.port, [&] {
        session.selectMode(bus::Mode::Metrics);
        session.after(kAfterModeStepMs, [&] {
            session.post(session.engine().modes(), [](app::ModeSwitch& m) { m.getAllMetrics(); });
        });
    });
    session.onInterrupt([&](int count) {
        if (count > 1 || interrupted) {
            session.fail(ExitCode::Failed, "interrupted");
            return;
        }
        interrupted = true;
        // The fetch ends with its count; the records stored so far stay in the file.
        session.post(session.engine().metrics(), [](app::MetricsFeature& m) {
            if (m.fetching()) {
                m.cancel(QStringLiteral("Metrics fetch stopped: interrupted"));
            }
        });
        session.after(1000, [&] { session.fail(ExitCode::Failed, "interrupted"); });
    });
    session.after(kWholeRunMs,
                  [&] { session.fail(ExitCode::Failed, "the metrics fetch did not end in time"); });
    return session.run();
}

} // namespace zanst::cli
