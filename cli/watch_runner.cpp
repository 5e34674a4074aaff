// watch: poll as "Battery tester" does and print a line per tick.

#include "bus/mode.hpp"
#include "cli/rows_format.hpp"
#include "cli/runners.hpp"
#include "cli/session.hpp"
#include "engine/bus_engine.hpp"

#include <algorithm>
#include <chrono>

namespace zanst::cli {

int runWatch(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<WatchArgs>(invocation.args);
    Session session(console, "watch");
    bool first = true;
    bool answered = false;
    const auto end = [&] { session.finish(answered ? ExitCode::Success : ExitCode::NoBalancer); };
    if (args.format == OutputFormat::Csv && !console.print(watchCsvHeader())) {
        return code(ExitCode::Failed);
    }
    session.pollBank(args.port, [&](const tester::TickReport& report) {
        if (first) {
            first = false;
            // The mode step started the tab's own period; from the first tick on, the one asked for.
            if (args.intervalMs != bus::rulesOf(bus::Mode::BatteryTester)->pollPeriodMs) {
                session.post(session.engine().tester(),
                             [ms = args.intervalMs](app::TesterFeature& t) { t.startPolling(ms); });
            }
            // N seconds hold N / interval ticks: the run ends half an interval before the next one.
            if (args.seconds) {
                session.after(std::max(0, *args.seconds * 1000 - args.intervalMs / 2), end);
            }
        }
        answered = answered || !report.snapshot.balancers.empty();
        const auto now = std::chrono::system_clock::now();
        std::string out;
        switch (args.format) {
        case OutputFormat::Table:
            // Before the first measurement the tester works its bank values out of empty records;
            // they mean nothing to a reader.
            out = watchLine(now, report.snapshot,
                            anyMeasured(report.snapshot) ? std::optional(report.bank) : std::nullopt);
            break;
        case OutputFormat::Json:
            out = watchJsonLine(now, report.snapshot, report.bank);
            break;
        case OutputFormat::Csv:
            out = watchCsvRows(now, report.snapshot);
            break;
        }
        if (!console.print(out)) {
            end(); // nobody reads any more (the pipe was closed)
        }
    });
    // Ctrl+C is how a watch without --seconds ends.
    session.onInterrupt([&](int) { end(); });
    return session.run();
}

} // namespace zanst::cli
