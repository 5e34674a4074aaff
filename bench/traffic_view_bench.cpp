// The traffic view at full line rate through the whole window (offscreen): the data sniffer
// echoes realistic traffic of a BMS polling 160 balancers at 25,000 bytes/s while the view is
// closed, open, and open with a capture being written, in alternating rounds so that a noisy
// machine favours none of them. For each: the echo delay per byte (p50, p99), the window
// thread's CPU time per second and its longest event-loop stall. Then the view's memory after an
// hour of that traffic, appended as the engine's batches would bring it.
//
//   traffic_view_bench [--seconds S] [--rounds R]

#include "bench_options.hpp"
#include "capture/traffic.hpp"
#include "echo_phase.hpp"
#include "offscreen.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "windows/traffic_window.hpp"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace zanst::bench;
using Clock = std::chrono::steady_clock;

void runFor(std::chrono::milliseconds ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long rssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

struct Phase {
    PhaseResult echo;
    double cpuMsPerS = 0;
    double longestStallMs = 0;
};

// The echo phase on a thread of its own while the window's event loop runs; a 5 ms timer on the
// window's thread finds its longest stall.
Phase measure(int fd, const zanst::bus::Bytes& pattern, double seconds) {
    Phase phase;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        phase.echo = runPhase(fd, fd, pattern, seconds);
        done = true;
    });
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    auto last = Clock::now();
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        if (done) {
            loop.quit();
        }
    });
    const double cpu0 = threadCpuMs();
    const auto t0 = Clock::now();
    tick.start(5);
    loop.exec();
    worker.join();
    phase.cpuMsPerS = (threadCpuMs() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
    phase.longestStallMs = longest - 5.0;
    return phase;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    int rounds = 3;
    const zanst::bench::OptionTable options{
        "The traffic view at full line rate, closed, open and capturing: echo delay, stalls, memory.",
        {{"--seconds", "S", "seconds of each phase (default 10)", &seconds, 0.0},
         {"--rounds", "R", "rounds of the three phases (default 3)", &rounds, 1.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen(zanst::bench::DisplayUse::WhenSet);
    QApplication app(argc, argv);
    zanst::test::Pty pty;
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(pty.slavePath()));
    zanst::app::diag_form form;
    form.show();
    runFor(300ms);
    QComboBox* ports = form.connectionTab()->comboBox1;
    const int index = ports->findText(QString::fromStdString(pty.slavePath()));
    ports->setCurrentIndex(index);
    emit ports->activated(index);
    runFor(800ms);
    form.tabs()->setCurrentWidget(form.snifferTab());
    runFor(800ms);
    zanst::app::TrafficWindow* view = form.trafficWindow();
    QSignalSpy rows(view->model(), &QAbstractItemModel::rowsInserted);

    const zanst::bus::Bytes pattern = snifferPattern();
    enum { Closed, Open, Capturing, Kinds };
    const char* names[Kinds] = {"view closed", "view open", "view open, capturing"};
    std::vector<double> p99[Kinds], cpu[Kinds], stall[Kinds];
    bool lossless = true;
    const QString capturePath = data.path() + QStringLiteral("/bench.zcap");
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < Kinds; ++k) {
            if (k == Closed) {
                view->hide();
            } else {
                view->show();
            }
            if (k == Capturing) {
                view->startCapture(capturePath);
            }
            runFor(300ms);
            const qsizetype batches = rows.count();
            const Phase p = measure(pty.masterFd(), pattern, seconds);
            if (k == Capturing) {
                emit view->captureStopRequested();
            }
            runFor(300ms);
            std::printf(
                "%-22s echo p50 %6.1f us p99 %6.1f us max %7.1f us | window %5.1f ms CPU/s, longest stall "
                "%5.1f ms | %lld row batches, %d rows held\n",
                names[k], p.echo.p50us, p.echo.p99us, p.echo.maxus, p.cpuMsPerS, p.longestStallMs,
                static_cast<long long>(rows.count() - batches), view->model()->rowCount());
            p99[k].push_back(p.echo.p99us);
            cpu[k].push_back(p.cpuMsPerS);
            stall[k].push_back(p.longestStallMs);
            lossless = lossless && p.echo.received == p.echo.sent && p.echo.mismatches == 0;
        }
    }
    std::printf("\nmedians of %d rounds of %.0f s at 25,000 bytes/s:\n", rounds, seconds);
    for (int k = 0; k < Kinds; ++k) {
        std::printf(
            "  %-22s echo p99 %6.1f us (%.2f x closed) | window %5.1f ms CPU/s | longest stall %5.1f ms "
            "(worst %5.1f)\n",
            names[k], median(p99[k]), median(p99[k]) / median(p99[Closed]), median(cpu[k]), median(stall[k]),
            *std::max_element(stall[k].begin(), stall[k].end()));
    }
    std::printf("  %s\n", lossless ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED");

    // An hour of the same traffic into the view, one batch per 100 ms as the engine sends them.
    view->hide();
    view->model()->clear();
    runFor(300ms);
    const long before = rssKb();
    zanst::capture::TrafficDecoder decoder;
    const double patternSeconds = static_cast<double>(pattern.size()) / kBytesPerSecond;
    const int passes = static_cast<int>(3600.0 / patternSeconds);
    const std::size_t batchBytes = static_cast<std::size_t>(kBytesPerSecond / 10);
    std::uint64_t timeUs = 0;
    const auto t0 = Clock::now();
    for (int p = 0; p < passes; ++p) {
        for (std::size_t at = 0; at < pattern.size(); at += batchBytes) {
            zanst::app::TrafficBatch batch;
            const std::size_t n = std::min(batchBytes, pattern.size() - at);
            decoder.feed(zanst::capture::Direction::Received, timeUs, std::span(pattern).subspan(at, n),
                         batch.rows);
            decoder.flushLineBytes(batch.rows);
            view->model()->append(std::move(batch.rows));
            timeUs += 100000;
        }
    }
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf(
        "\nan hour of traffic into the view (%d passes of the pattern, decoding included, in %.1f s): "
        "%d rows held, %llu dropped; resident memory %.1f MB before, %.1f MB after\n",
        passes, took, view->model()->rowCount(), static_cast<unsigned long long>(view->model()->dropped()),
        static_cast<double>(before) / 1024.0, static_cast<double>(rssKb()) / 1024.0);
    return lossless ? 0 : 1;
}
