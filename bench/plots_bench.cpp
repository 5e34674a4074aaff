// The live plots at full line rate: the whole window offscreen on "Battery tester", polling a
// scripted ring of 160 balancers once a second, first with the plots closed, then open on the
// cell voltages of all cells (all ticked: 160 lines over the band), then open with an hour of
// history already in it. For each phase: the window thread's CPU time per second, the longest
// stall of its event loop (a 1 ms timer's gaps beyond its period) and the longest redraw.
// Then memory: resident size before and after an hour, and after two hours, of samples.
//
//   plots_bench [--seconds S] [--balancers N] [--grab DIR]
//       default 20 s a phase and 160 balancers; --grab saves the plots and the tester tab as PNGs

#include "bench_options.hpp"
#include "engine/post.hpp"
#include "offscreen.hpp"
#include "scripted_bus.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "ui/cell_grid.hpp"
#include "windows/plot_window.hpp"

#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Phase {
    double cpuMsPerSecond = 0;
    double maxStallMs = 0;
    double maxBusyMs = 0;
    int refreshes = 0;
};

// Runs the event loop for `seconds` with a 1 ms probe on the window thread.
Phase measure(int seconds, int& tables) {
    QElapsedTimer clock;
    double last = -1;
    double maxGap = 0;
    double lastCpu = -1;
    double maxBusy = 0; // the window thread's own CPU time between two ticks: load elsewhere aside
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double cpuNow = threadCpuMs();
        if (last >= 0) {
            maxGap = std::max(maxGap, now - last);
            maxBusy = std::max(maxBusy, cpuNow - lastCpu);
        }
        last = now;
        lastCpu = cpuNow;
    });
    const int before = tables;
    clock.start();
    probe.start();
    const double cpu = threadCpuMs();
    runFor(seconds * 1000);
    const double used = threadCpuMs() - cpu;
    const double elapsedS = static_cast<double>(clock.elapsed()) / 1000.0;
    probe.stop();
    return {used / elapsedS, std::max(0.0, maxGap - 1.0), maxBusy, tables - before};
}

void print(const char* name, const Phase& p) {
    std::printf("%-32s window thread %5.1f ms/s; longest stall %6.1f ms wall, %5.1f ms of its own CPU; "
                "%d refreshes\n",
                name, p.cpuMsPerSecond, p.maxStallMs, p.maxBusyMs, p.refreshes);
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 20;
    int balancers = 160;
    std::string grab;
    const zanst::bench::OptionTable options{
        "The live plots at full line rate: window-thread time, event-loop stalls, memory of an hour.",
        {{"--seconds", "S", "whole seconds of each phase (default 20)", &seconds, 0.0},
         {"--balancers", "N", "balancers on the ring (default 160)", &balancers, 0.0},
         {"--grab", "DIR", "save the plots and the tester tab as PNGs in DIR", &grab}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    const QString grabDir = QString::fromLocal8Bit(grab.c_str());

    zanst::test::Pty pty;
    pty.closeSlave(); // the tool refuses a port another process holds open (the ring's child would)
    const pid_t ring = zanst::bench::startRingProcess(pty.masterFd(), balancers, false);

    zanst::bench::setUpOffscreen();
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);
    int status = 0;
    {
        zanst::app::diag_form window;
        int tables = 0;
        zanst::bank::BankSnapshot last;
        QObject::connect(window.engine()->tester(), &zanst::app::TesterFeature::ticked, &window,
                         [&](const zanst::tester::TickReport& report) {
                             if (!report.polled) {
                                 return;
                             }
                             const zanst::bank::BankSnapshot& s = report.snapshot;
                             ++tables;
                             last = s;
                         });
        window.show();
        const QString path = QString::fromStdString(pty.slavePath());
        zanst::app::post(window.engine(), [path](zanst::app::BusEngine& e) { e.ports()->selectPort(path); });
        window.tabs()->setCurrentWidget(window.batteryTesterTab());
        runFor(5000); // port settle, enumeration, first polls
        zanst::app::PlotWindow* plots = window.plotWindow();
        plots->span->setCurrentIndex(2); // the last hour: the most points a line can have

        print("plots closed", measure(seconds, tables));

        window.plotsButton()->click();
        print("plots open, 160 lines", measure(seconds, tables));

        // An hour of samples a second apart, ending now; the live polls carry on after it.
        const long beforeKb = residentKb();
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        QPushButton* clear = plots->findChild<QPushButton*>(QStringLiteral("plotClear"));
        clear->click();
        for (int s = 3600; s > 0; --s) {
            plots->addSample(now - s * 1000LL, last);
        }
        QElapsedTimer redraw;
        redraw.start();
        plots->refresh(); // the whole hour at once, as when the window opens on a full history
        const double firstRedrawMs = static_cast<double>(redraw.nsecsElapsed()) / 1e6;
        plots->span->setCurrentIndex(1);
        redraw.restart();
        plots->span->setCurrentIndex(2); // a redraw as the timer does it: the lines are there
        const double redrawMs = static_cast<double>(redraw.nsecsElapsed()) / 1e6;
        redraw.restart();
        plots->findChild<QChartView*>()->viewport()->repaint();
        const double paintMs = static_cast<double>(redraw.nsecsElapsed()) / 1e6;
        runFor(1500);
        const long hourKb = residentKb();
        print("plots open, an hour of history", measure(seconds, tables));
        std::printf("an hour (%zu samples, %d lines of at most %d points): first redraw %.1f ms, "
                    "redraw %.1f ms, paint %.1f ms\n",
                    plots->history().size(), plots->cellSeriesCount(),
                    zanst::app::PlotWindow::kMaxPointsPerSeries, firstRedrawMs, redrawMs, paintMs);

        // Two hours of samples: the ring overwrites the first, the memory stays.
        clear->click();
        const std::int64_t end = QDateTime::currentMSecsSinceEpoch();
        for (int s = 7200; s > 0; --s) {
            plots->addSample(end - s * 1000LL, last);
        }
        plots->refresh();
        runFor(1500);
        const long twoHoursKb = residentKb();
        std::printf(
            "resident: %ld MB before the hour, %ld MB after one hour, %ld MB after two (%zu samples kept)\n",
            beforeKb / 1024, hourKb / 1024, twoHoursKb / 1024, plots->history().size());
        if (!grabDir.isEmpty()) {
            plots->grab().save(grabDir + QStringLiteral("/plots.png"));
            window.batteryTesterTab()->grab().save(grabDir + QStringLiteral("/tester.png"));
        }
        if (last.balancers.size() != static_cast<std::size_t>(std::min(balancers, 255))) {
            std::fprintf(stderr, "the bank was not polled: %zu rows\n", last.balancers.size());
            status = 1;
        }
    }
    kill(ring, SIGTERM);
    waitpid(ring, nullptr, 0);
    return status;
}
