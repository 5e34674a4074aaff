// The tool as a user runs it: the whole window shown (offscreen, or on the display in DISPLAY),
// its port a pseudo-terminal, measured beside socat and a bare poll() echo loop in alternating
// rounds so that a noisy machine favours none of them:
//   - the data sniffer's echo delay per byte at 25,000 bytes/s (realistic traffic of a BMS
//     polling 160 balancers), against socat relaying the same stream and the poll() loop echoing
//     it, and the window thread's CPU time per second meanwhile;
//   - with --views, a second sniffer phase in every round with the traffic view and the live plots
//     open, against the first;
//   - the BMS tester's first answer byte after a request's last byte, against the time socat
//     takes to pass that byte on.
// Every figure is the median of the rounds (at least five for the goals).
//
//   window_latency [--seconds S] [--rounds R] [--answers N] [--busy N] [--plots] [--views]
//
// --busy N starts N CPU-bound processes beside it for the whole run (a busy machine).
// --plots opens the live plots for the whole run, on the last hour of cell voltages.

#include "bench_options.hpp"
#include "busy.hpp"
#include "echo_phase.hpp"
#include "offscreen.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "support/records.hpp"
#include "tabs/adapter_panel.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "windows/plot_window.hpp"
#include "windows/traffic_window.hpp"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using namespace zanst::bench;
using zanst::bus::Bytes;
using Clock = std::chrono::steady_clock;

// Runs `work` on a thread of its own while the window's event loop keeps running.
template <typename T> T whileWindowRuns(std::function<T()> work) {
    T result{};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = work();
        done = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done) {
            loop.quit();
        }
    });
    poll.start(20);
    loop.exec();
    worker.join();
    return result;
}

void runFor(std::chrono::milliseconds ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v) {
    return percentile(std::move(v), 0.5);
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct WindowPhase {
    PhaseResult echo;
    double windowCpuMsPerS = 0; // the window thread's own CPU time
};

// The echo phase on a thread of its own while the window's event loop runs on this one.
WindowPhase sniff(int fd, const Bytes& pattern, double seconds) {
    WindowPhase phase;
    const double cpu0 = threadCpuMs();
    const auto t0 = Clock::now();
    phase.echo = whileWindowRuns<PhaseResult>([&] { return runPhase(fd, fd, pattern, seconds); });
    phase.windowCpuMsPerS = (threadCpuMs() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
    return phase;
}

// Writes `head`, lets it arrive, writes the last byte and times the first byte that comes back.
std::vector<double> firstByteDelays(int writeFd, int readFd, const Bytes& request, std::size_t answerSize,
                                    int count) {
    std::vector<double> delays;
    const Bytes head(request.begin(), request.end() - 1);
    const std::uint8_t last = request.back();
    std::vector<std::uint8_t> buffer(8192);
    for (int i = 0; i < count; ++i) {
        if (::write(writeFd, head.data(), head.size()) < 0) {
            break;
        }
        std::this_thread::sleep_for(2ms);
        // A relay passes the head on at once: drain it, so only the last byte's way is timed.
        while (::read(readFd, buffer.data(), buffer.size()) > 0) {
        }
        const auto t0 = Clock::now();
        if (::write(writeFd, &last, 1) != 1) {
            break;
        }
        std::size_t got = 0;
        Clock::time_point first{};
        Clock::time_point latest{};
        const auto deadline = t0 + 1s;
        // Until the answer is whole, or 20 ms pass without a byte once it began: an answer of
        // another size must not hold every exchange for the whole second.
        while (got < answerSize && Clock::now() < deadline && (got == 0 || Clock::now() - latest < 20ms)) {
            pollfd p{readFd, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                const ssize_t n = ::read(readFd, buffer.data(), buffer.size());
                if (n > 0) {
                    latest = Clock::now();
                    if (got == 0) {
                        first = latest;
                    }
                    got += static_cast<std::size_t>(n);
                }
            }
        }
        if (got > 0) {
            delays.push_back(micros(first - t0));
        }
        std::this_thread::sleep_for(3ms);
    }
    return delays;
}

struct Window {
    zanst::test::Pty pty;
    QTemporaryDir data;
    std::unique_ptr<zanst::app::diag_form> form;

    Window() {
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(pty.slavePath()));
        form = std::make_unique<zanst::app::diag_form>();
        form->show();
        runFor(300ms);
        // Choose the port as a user does.
        QComboBox* ports = form->connectionTab()->comboBox1;
        const int index = ports->findText(QString::fromStdString(pty.slavePath()));
        ports->setCurrentIndex(index);
        emit ports->activated(index);
        runFor(800ms);
    }
    void select(QWidget* tab) {
        form->tabs()->setCurrentWidget(tab);
        runFor(800ms);
        char drain[4096];
        while (::read(pty.masterFd(), drain, sizeof drain) > 0) {
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    int rounds = 5;
    int answers = 300;
    int busy = 0;
    double neighbour = 0;
    bool plots = false;
    bool views = false;
    const zanst::bench::OptionTable options{
        "The whole window beside socat and a poll() loop: sniffer echo, window CPU, BMS tester answers.",
        {{"--seconds", "S", "seconds of each sniffer phase (default 10)", &seconds, 0.0},
         {"--rounds", "R", "rounds of each measurement (default 5)", &rounds, 1.0},
         {"--answers", "N", "BMS tester answers a round, at least 10 (default 300)", &answers, 10.0},
         {"--busy", "N", "CPU-bound processes beside it for the whole run (default 0)", &busy, 0.0},
         {"--neighbour", "MS", kNeighbourHelp, &neighbour, 0.0},
         {"--plots", "", "open the live plots for the whole run", &plots},
         {"--views", "", "each round also with the traffic view and the plots open", &views}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen(zanst::bench::DisplayUse::WhenSet);
    QApplication app(argc, argv);
    Window window;
    if (plots) {
        window.form->plotsButton()->click();
        window.form->plotWindow()->span->setCurrentIndex(2);
    }
    const std::vector<pid_t> hogs = startLoad(busy, neighbour);
    std::printf("whole program, window shown (%s), %d CPU-bound processes beside it, a neighbour working "
                "%.0f ms a second in bursts, plots %s\n",
                qPrintable(QGuiApplication::platformName()), busy, neighbour, plots ? "open" : "closed");

    // Data sniffer against socat and the poll() loop, alternating; with --views also with the
    // traffic view and the plots open.
    const Bytes pattern = snifferPattern();
    window.select(window.form->snifferTab());
    zanst::app::TrafficWindow* traffic = window.form->trafficWindow();
    if (const auto* panel = window.form->connectionTab()->findChild<zanst::app::AdapterPanel*>()) {
        std::printf("the port, as \"Connection\" shows it:\n  %s\n",
                    qPrintable(panel->details->text().replace(QLatin1Char('\n'), QStringLiteral("\n  "))));
    }
    const auto showViews = [&](bool open) {
        if (open) {
            traffic->show();
            if (!window.form->plotWindow()->isVisible()) {
                window.form->plotsButton()->click();
            }
        } else {
            traffic->hide();
            if (!plots) {
                window.form->plotWindow()->hide();
            }
        }
        runFor(500ms);
    };
    std::vector<double> toolP99, openP99, socatP99, loopP99, cpu, openCpu;
    bool lossless = true;
    for (int r = 0; r < rounds; ++r) {
        bool ran = false;
        const PhaseResult relay = socatPhase(pattern, seconds, ran);
        if (ran) {
            print("socat relay", relay);
            socatP99.push_back(relay.p99us);
        }
        const PhaseResult loop = echoLoopPhase(pattern, seconds);
        print("poll() echo loop", loop);
        loopP99.push_back(loop.p99us);
        for (const bool open : views ? std::vector<bool>{false, true} : std::vector<bool>{false}) {
            showViews(open);
            const WindowPhase tool = sniff(window.pty.masterFd(), pattern, seconds);
            print(open ? "zanst sniffer, views open" : "zanst sniffer (window)", tool.echo);
            std::printf("%-28s window thread %.1f ms CPU/s\n", "", tool.windowCpuMsPerS);
            (open ? openP99 : toolP99).push_back(tool.echo.p99us);
            (open ? openCpu : cpu).push_back(tool.windowCpuMsPerS);
            lossless = lossless && tool.echo.received == tool.echo.sent && tool.echo.mismatches == 0;
        }
        if (views) {
            showViews(false);
        }
    }
    const double toolEcho = median(toolP99);
    const double socatEcho = median(socatP99);
    const double loopEcho = median(loopP99);
    std::printf("echo p99, median of %d rounds: zanst %.1f us, socat %.1f us, poll() loop %.1f us; "
                "%.2f x socat (goal <= 1.0), %.2f x the loop (goal <= 1.3); %s\n",
                rounds, toolEcho, socatEcho, loopEcho, socatEcho > 0 ? toolEcho / socatEcho : 0.0,
                loopEcho > 0 ? toolEcho / loopEcho : 0.0,
                lossless ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED");
    std::printf("window thread on \"Data Sniffer\" at line rate: %.1f ms CPU/s, median (goal < 15)\n",
                median(cpu));
    if (views) {
        std::printf(
            "views open: echo p99 %.1f us, %.2f x closed (goal <= 1.1); window thread %.1f ms CPU/s\n",
            median(openP99), toolEcho > 0 ? median(openP99) / toolEcho : 0.0, median(openCpu));
    }

    // BMS tester: first answer byte of a measurement request with 4 records, after an info
    // exchange; socat's turnaround is the time it takes to pass the last byte on.
    window.select(window.form->bmsTesterTab());
    Bytes info(16, 0);
    zanst::bus::putLe16(info, 0, 0xB00C);
    zanst::bus::putAscii(info, 4, "BMS-0000042");
    const Bytes infoRequest = zanst::test::frame(0x01, info, 0);
    Bytes measurement = zanst::test::frame(0x02, Bytes(20, 0x10), 2);
    for (int i = 1; i <= 4; ++i) {
        const Bytes rec =
            zanst::test::measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < 4 ? 2 : 0);
        measurement.insert(measurement.end(), rec.begin(), rec.end());
    }
    std::vector<double> toolFirst;
    std::vector<double> socatFirst;
    std::vector<double> toolRoundP99;
    std::vector<double> socatRoundP99;
    for (int r = 0; r < rounds; ++r) {
        const auto [fa, fb, pid] = [] {
            const std::string a = "/tmp/zanst-turn-a-" + std::to_string(getpid());
            const std::string b = "/tmp/zanst-turn-b-" + std::to_string(getpid());
            const std::string argA = "pty,raw,echo=0,link=" + a;
            const std::string argB = "pty,raw,echo=0,link=" + b;
            char* args[] = {const_cast<char*>("socat"), const_cast<char*>(argA.c_str()),
                            const_cast<char*>(argB.c_str()), nullptr};
            pid_t child = 0;
            if (posix_spawnp(&child, "socat", nullptr, nullptr, args, environ) != 0) {
                return std::tuple<int, int, pid_t>{-1, -1, 0};
            }
            for (int i = 0; i < 100 && !(std::filesystem::exists(a) && std::filesystem::exists(b)); ++i) {
                std::this_thread::sleep_for(20ms);
            }
            const int x = ::open(a.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const int y = ::open(b.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            makeRaw(x);
            makeRaw(y);
            return std::tuple<int, int, pid_t>{x, y, child};
        }();
        if (fa >= 0 && fb >= 0) {
            const std::vector<double> d = firstByteDelays(fa, fb, measurement, measurement.size(), answers);
            socatFirst.insert(socatFirst.end(), d.begin(), d.end());
            socatRoundP99.push_back(percentile(d, 0.99));
            ::close(fa);
            ::close(fb);
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        const int master = window.pty.masterFd();
        const std::vector<double> d = whileWindowRuns<std::vector<double>>([&] {
            (void)::write(master, infoRequest.data(), infoRequest.size());
            std::this_thread::sleep_for(100ms);
            char drain[4096];
            while (::read(master, drain, sizeof drain) > 0) {
            }
            return firstByteDelays(master, master, measurement, 36 + 4 * 12, answers);
        });
        toolFirst.insert(toolFirst.end(), d.begin(), d.end());
        toolRoundP99.push_back(percentile(d, 0.99));
        std::printf("BMS tester round %d: zanst p99 %.0f us (%zu answers), socat p99 %.0f us\n", r + 1,
                    toolRoundP99.back(), d.size(), socatRoundP99.empty() ? 0.0 : socatRoundP99.back());
    }
    const double toolP = median(toolRoundP99);
    const double socatP = median(socatRoundP99);
    std::printf(
        "BMS tester first answer byte: zanst p50 %.0f us, p99 %.0f us (median of %d rounds, %zu answers); "
        "socat turnaround p50 %.0f us, p99 %.0f us; ratio %.2f (goals: p99 < 2000 us and <= 1.5 x socat)\n",
        percentile(toolFirst, 0.5), toolP, rounds, toolFirst.size(), percentile(socatFirst, 0.5), socatP,
        socatP > 0 ? toolP / socatP : 0.0);

    stopBusy(hogs);
    return lossless ? 0 : 1;
}
