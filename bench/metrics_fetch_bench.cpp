// "Get All Metrics" against zanst-sim at line pace, the whole window shown offscreen: the time
// from the press to the fourth instance stored, how much of it the line itself takes, and the
// longest stall of the window's event loop while the fetch runs. A harness, not a timed test.
//
//   metrics_fetch_bench [--fetches N] [--slow-byte-us US]   (default 20 fetches at 40 us a byte)
//
// Line time per instance: the tool's wake-up bytes and request (10 + 19), then the request's
// echo and the 448-byte answer (19 + 448), every byte 40 us at 250000 baud. The simulator paces
// what it sends; the tool's own bytes cross the pseudo-terminal at once, so a real line adds
// their 1.2 ms per instance to the measured time.

#include "bench_options.hpp"
#include "engine/bus_engine.hpp"
#include "metrics/answer.hpp"
#include "offscreen.hpp"
#include "shell/main_window.hpp"
#include "support/sim_process.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using zanst::app::MetricsFeature;

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

} // namespace

int main(int argc, char** argv) {
    int fetches = 20;
    int slowByteUs = 40;
    const zanst::bench::OptionTable options{
        "\"Get All Metrics\" against zanst-sim at line pace, the window shown offscreen.",
        {{"--fetches", "N", "fetches of the four instances (default 20)", &fetches, 1.0},
         {"--slow-byte-us", "US", "zanst-sim's time per byte in microseconds (default 40)", &slowByteUs,
          0.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen();
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    zanst::test::TempDir dir;
    const std::string link = dir / "bank";
    zanst::test::SimProcess sim(ZANST_SIM_PATH, {"bank", "--batteries", "4", "--quiet", "--slow-byte-us",
                                                 std::to_string(slowByteUs), "--link", link});
    if (!sim.waitForLine(" ready ", std::chrono::seconds(10))) {
        std::fprintf(stderr, "zanst-sim did not start:\n%s\n", sim.transcript().c_str());
        return 1;
    }
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(link));

    QApplication app(argc, argv);
    zanst::app::diag_form window(zanst::app::ServiceMode::On);
    window.show();
    QComboBox* combo = window.connectionTab()->comboBox1;
    const int index = combo->findText(QString::fromStdString(link));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    if (!waitFor([&] { return window.windowTitle().endsWith(QString::fromStdString(link)); }, 5000)) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }
    zanst::app::MetricsTab* tab = window.metricsTab();
    window.tabs()->setCurrentWidget(tab);
    waitFor([] { return false; }, 800); // the tab's mode step has gone out

    // The window thread's stalls: gaps between the ticks of a 1 ms timer.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    qint64 worstGap = 0;
    bool watching = false;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (watching) {
            worstGap = std::max(worstGap, now - lastTick);
        }
        lastTick = now;
    });
    ticker.start(1);

    int stored = 0;
    qint64 fourthAt = 0;
    qint64 finishedAt = 0;
    MetricsFeature* feature = window.engine()->metrics();
    // Connected after the tab: runs once the tab has stored the record.
    QObject::connect(feature, &MetricsFeature::reported, &window,
                     [&](const zanst::metrics::FetchReport& report) {
                         for (std::size_t i = 0; i < report.recordsReceived.size(); ++i) {
                             if (++stored == 4) {
                                 fourthAt = clock.nsecsElapsed();
                             }
                         }
                         if (report.ended) {
                             finishedAt = clock.nsecsElapsed();
                         }
                     });

    const double answerLineMs =
        4.0 * (19 + static_cast<double>(zanst::metrics::kAnswerSize)) * slowByteUs / 1000.0;
    const double requestLineMs = 4.0 * (10 + 19) * slowByteUs / 1000.0;
    std::vector<double> toFourth;
    std::vector<double> toShown;
    std::vector<double> gaps;
    std::vector<double> idleGaps;
    for (int n = 0; n < fetches; ++n) {
        stored = 0;
        fourthAt = finishedAt = 0;
        // The same watch over 100 ms of an idle window: what the machine alone costs.
        worstGap = 0;
        watching = true;
        lastTick = clock.nsecsElapsed();
        waitFor([] { return false; }, 100);
        idleGaps.push_back(static_cast<double>(worstGap) / 1e6);
        worstGap = 0;
        lastTick = clock.nsecsElapsed();
        const qint64 pressed = clock.nsecsElapsed();
        tab->getAllMetrics->click();
        if (!waitFor([&] { return finishedAt != 0; }, 15000) || stored != 4) {
            std::fprintf(stderr, "fetch %d: %d instances stored\n", n + 1, stored);
            return 1;
        }
        watching = false;
        toFourth.push_back(static_cast<double>(fourthAt - pressed) / 1e6);
        toShown.push_back(static_cast<double>(finishedAt - pressed) / 1e6);
        gaps.push_back(static_cast<double>(worstGap) / 1e6);
    }
    std::printf(
        "metrics fetch of 4 instances, zanst-sim at %d us a byte, %d fetches, window shown offscreen\n",
        slowByteUs, fetches);
    std::printf("line time of the answers (paced):     %7.1f ms\n", answerLineMs);
    std::printf("line time of the requests (unpaced):  %7.1f ms\n", requestLineMs);
    std::printf("press to 4th instance stored: p50 %7.1f ms  max %7.1f ms\n", percentile(toFourth, 0.5),
                percentile(toFourth, 1.0));
    std::printf("press to fetch ended:         p50 %7.1f ms  max %7.1f ms\n", percentile(toShown, 0.5),
                percentile(toShown, 1.0));
    std::printf("longest window-thread gap:    p50 %7.1f ms  max %7.1f ms (timer period 1 ms)\n",
                percentile(gaps, 0.5), percentile(gaps, 1.0));
    std::printf("same, 100 ms of idle window:  p50 %7.1f ms  max %7.1f ms\n", percentile(idleGaps, 0.5),
                percentile(idleGaps, 1.0));
    // The window's own share: showing an instance (reading it, the fields, the matrix texts) and
    // painting the tab at once, as at the end of every fetch.
    std::vector<double> shows;
    for (int n = 0; n < 50; ++n) {
        QElapsedTimer t;
        t.start();
        tab->displayMetricData();
        tab->repaint();
        shows.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::printf("show an instance and paint:   p50 %7.2f ms  max %7.2f ms\n", percentile(shows, 0.5),
                percentile(shows, 1.0));
    std::printf("last console line: %s\n",
                tab->console->item(tab->console->count() - 1)->text().toStdString().c_str());
    return 0;
}
