// The tool's CPU use while it polls a bank of 160 balancers once a second: the whole window,
// offscreen, on the "Battery tester" tab, its port a pseudo-terminal whose far end is a scripted
// ring of balancers in a child process.
//
//   poll_cpu_bench [--seconds S] [--balancers N]
//
// Measures the process's CPU time (user + system, all threads) over S seconds (default 30),
// after the enumeration has settled.

#include "bench_options.hpp"
#include "engine/post.hpp"
#include "offscreen.hpp"
#include "scripted_bus.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "ui/cell_grid.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    int balancers = 160;
    const zanst::bench::OptionTable options{
        "The whole tool's CPU while it polls a scripted ring of balancers once a second.",
        {{"--seconds", "S", "whole seconds measured after the enumeration (default 30)", &seconds, 0.0},
         {"--balancers", "N", "balancers on the ring (default 160)", &balancers, 0.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }

    zanst::test::Pty pty;
    pty.closeSlave(); // the tool refuses a port another process holds open (the ring's child would)
    const pid_t ring = zanst::bench::startRingProcess(pty.masterFd(), balancers, true);

    zanst::bench::setUpOffscreen();
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);
    int tables = 0;
    std::size_t lastRows = 0;
    {
        zanst::app::diag_form window;
        QObject::connect(window.engine()->tester(), &zanst::app::TesterFeature::ticked, &window,
                         [&](const zanst::tester::TickReport& report) {
                             if (!report.polled) {
                                 return;
                             }
                             const zanst::bank::BankSnapshot& s = report.snapshot;
                             ++tables;
                             lastRows = s.balancers.size();
                         });
        window.show();
        const QString path = QString::fromStdString(pty.slavePath());
        zanst::app::post(window.engine(), [path](zanst::app::BusEngine& e) { e.ports()->selectPort(path); });
        window.tabs()->setCurrentWidget(window.batteryTesterTab());
        runFor(5000); // port settle, leave frame, enumeration, first polls

        const int ticksBefore = tables;
        QElapsedTimer wall;
        wall.start();
        const double before = cpuSeconds();
        runFor(seconds * 1000);
        const double used = cpuSeconds() - before;
        const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
        std::printf("%d balancers polled for %.1f s: %d table refreshes, %zu rows in the last one\n",
                    balancers, elapsed, tables - ticksBefore, lastRows);
        std::printf("tool CPU: %.3f s = %.2f %% of one core\n", used, 100.0 * used / elapsed);
        std::fflush(stdout);
    }
    kill(ring, SIGTERM);
    waitpid(ring, nullptr, 0);
    return lastRows == static_cast<std::size_t>(std::min(balancers, 255)) ? 0 : 1;
}
