// scan: enumerate the balancers, poll them once, print one row per balancer.

#include "cli/rows_format.hpp"
#include "cli/runners.hpp"
#include "cli/session.hpp"

namespace zanst::cli {

namespace {

// Balancers that stay in their boot loader are enumerated but never polled: after this many ticks
// their rows are printed without measurements.
constexpr int kGiveUpTicks = kAnswerTicks + 2;

std::string rowsIn(OutputFormat format, const bank::BankSnapshot& snapshot) {
    switch (format) {
    case OutputFormat::Json:
        return scanJson(snapshot);
    case OutputFormat::Csv:
        return scanCsv(snapshot);
    case OutputFormat::Table:
        break;
    }
    return scanTable(snapshot);
}

} // namespace

int runScan(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<ScanArgs>(invocation.args);
    Session session(console, "scan");
    int ticks = 0;
    bool measurementSent = false;
    const auto print = [&](const bank::BankSnapshot& snapshot) {
        console.print(rowsIn(args.format, snapshot));
        session.finish(ExitCode::Success);
    };
    session.pollBank(args.port, [&](const tester::TickReport& report) {
        ++ticks;
        const bank::BankSnapshot& snapshot = report.snapshot;
        // This tick's table holds the answers to the measurement poll of the tick before.
        if (measurementSent && !snapshot.balancers.empty()) {
            print(snapshot);
            return;
        }
        measurementSent = report.sent == tester::PollRequest::Measurement;
        if (ticks >= kGiveUpTicks && !snapshot.balancers.empty()) {
            session.say("the balancers answered the enumeration but no measurement came back");
            print(snapshot);
        } else if (ticks >= kAnswerTicks && snapshot.balancers.empty()) {
            session.fail(ExitCode::NoBalancer,
                         "no balancer answered on " + args.port + " in " + std::to_string(ticks) + " polls");
        }
    });
    return session.run();
}

} // namespace zanst::cli
