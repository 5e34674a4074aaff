// check: the end-of-line test. Polls as "Battery tester" does, holds every tick against the limits
// for S seconds from the first measured tick, prints one line a test case and writes the JUnit XML.

#include "cli/check.hpp"
#include "cli/junit.hpp"
#include "cli/rows_format.hpp"
#include "cli/runners.hpp"
#include "cli/session.hpp"
#include "recording/csv_recording.hpp"

#include <QElapsedTimer>

#include <unistd.h>

namespace zanst::cli {

namespace {

// A bank that has not reported one voltage after this many ticks is judged as it is.
constexpr int kMeasureTicks = kAnswerTicks + 2;

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

std::string limitsText(const CheckArgs& a) {
    std::string s = "--cells " + std::to_string(a.cells);
    const auto add = [&s](const char* name, const auto& v) {
        if (v) {
            s += std::string(" ") + name + " " + std::to_string(*v);
        }
    };
    add("--min-mv", a.minMv);
    add("--max-mv", a.maxMv);
    add("--max-spread-mv", a.maxSpreadMv);
    if (a.maxTempTenths) {
        s += " --max-temp " + recording::fixedPoint(*a.maxTempTenths, 1);
    }
    add("--max-crc-errors", a.maxCrcErrors);
    return s + " --seconds " + std::to_string(a.seconds);
}

} // namespace

int runCheck(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<CheckArgs>(invocation.args);
    Session session(console, "check");
    CheckEvaluator evaluator(CheckLimits::from(args));
    JunitSuite suite;
    suite.startedAt = std::chrono::system_clock::now();
    suite.hostname = hostName();
    suite.properties = {{"port", args.port}, {"limits", limitsText(args)}};
    QElapsedTimer observed;
    int ticks = 0;
    bool answered = false;

    const auto judge = [&](bool interrupted) {
        if (session.finished()) {
            return;
        }
        const double seconds = observed.isValid() ? static_cast<double>(observed.elapsed()) / 1000.0 : 0.0;
        const CheckReport report = evaluator.finish(seconds);
        std::string lines;
        for (const CheckCase& c : report.cases) {
            lines += std::string(c.passed ? "PASS " : "FAIL ") + c.name + ": " +
                     (c.passed ? c.measured : c.failure) + "\n";
        }
        lines += std::to_string(report.cases.size() - static_cast<std::size_t>(report.failures())) + " of " +
                 std::to_string(report.cases.size()) + " passed over " + std::to_string(report.ticks) +
                 (report.ticks == 1 ? " tick" : " ticks") + "\n";
        console.print(lines);
        if (args.junit) {
            if (const std::string error = writeTextFile(*args.junit, junitXml(report, suite));
                !error.empty()) {
                session.fail(ExitCode::Failed, error);
                return;
            }
        }
        if (interrupted) {
            session.fail(ExitCode::Failed, "interrupted before the " + std::to_string(args.seconds) +
                                               " s of the test were over; the test did not pass");
        } else if (!answered) {
            session.fail(ExitCode::NoBalancer, "no balancer answered on " + args.port);
        } else {
            session.finish(report.passed() ? ExitCode::Success : ExitCode::Failed);
        }
    };

    session.pollBank(args.port, [&](const tester::TickReport& report) {
        ++ticks;
        answered = answered || !report.snapshot.balancers.empty();
        if (!observed.isValid()) {
            if (anyMeasured(report.snapshot)) {
                observed.start();
                session.after(args.seconds * 1000, [&] { judge(false); });
            } else if (ticks >= kMeasureTicks) {
                evaluator.observe(report.snapshot); // judged as it stands: nothing measured
                judge(false);
                return;
            } else {
                return; // still enumerating
            }
        }
        evaluator.observe(report.snapshot);
    });
    session.onInterrupt([&](int) { judge(true); });
    return session.run();
}

} // namespace zanst::cli
