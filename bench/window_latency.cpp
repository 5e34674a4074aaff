// The tool as a user runs it: the whole window shown (offscreen, or on the display in DISPLAY),
// its port a pseudo-terminal, measured beside socat in alternating rounds so that a noisy machine
// favours neither:
//   - the data sniffer's echo delay per byte at 25,000 bytes/s (realistic traffic of a BMS
//     polling 160 balancers), against socat relaying the same stream;
//   - the BMS tester's first answer byte after a request's last byte, against the time socat
//     takes to pass that byte on.
//
//   window_latency [--seconds S] [--rounds R] [--answers N] [--busy N] [--plots]
//
// --busy N starts N CPU-bound processes beside it for the whole run (a busy machine).
// --plots opens the live plots for the whole run, on the last hour of cell voltages.

#include "bench_options.hpp"
#include "echo_phase.hpp"
#include "offscreen.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "support/records.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "windows/plot_window.hpp"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
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

std::vector<pid_t> startBusy(int n) {
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            volatile unsigned long x = 0;
            for (;;) {
                x = x + 1;
            }
        }
        pids.push_back(pid);
    }
    return pids;
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
    int rounds = 3;
    int answers = 300;
    int busy = 0;
    bool plots = false;
    const zanst::bench::OptionTable options{
        "The whole window beside socat: the sniffer's echo delay and the BMS tester's first answer byte.",
        {{"--seconds", "S", "seconds of each sniffer round (default 10)", &seconds, 0.0},
         {"--rounds", "R", "rounds of each measurement (default 3)", &rounds, 1.0},
         {"--answers", "N", "BMS tester answers a round, at least 10 (default 300)", &answers, 10.0},
         {"--busy", "N", "CPU-bound processes beside it for the whole run (default 0)", &busy, 0.0},
         {"--plots", "", "open the live plots for the whole run", &plots}}};
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
    const std::vector<pid_t> hogs = startBusy(busy);
    std::printf("whole program, window shown (%s), %d CPU-bound processes beside it, plots %s\n",
                qPrintable(QGuiApplication::platformName()), busy, plots ? "open" : "closed");

    // Data sniffer against socat, alternating.
    const Bytes pattern = snifferPattern();
    window.select(window.form->snifferTab());
    std::vector<double> toolP99;
    std::vector<double> socatP99;
    bool lossless = true;
    for (int r = 0; r < rounds; ++r) {
        bool ran = false;
        const PhaseResult relay = socatPhase(pattern, seconds, ran);
        if (ran) {
            print("socat relay", relay);
            socatP99.push_back(relay.p99us);
        }
        const PhaseResult tool = whileWindowRuns<PhaseResult>(
            [&] { return runPhase(window.pty.masterFd(), window.pty.masterFd(), pattern, seconds); });
        print("zanst sniffer (window)", tool);
        toolP99.push_back(tool.p99us);
        lossless = lossless && tool.received == tool.sent && tool.mismatches == 0;
    }
    const double toolEcho = percentile(toolP99, 0.5);
    const double socatEcho = percentile(socatP99, 0.5);
    std::printf("echo p99, median of %d rounds: zanst %.1f us, socat %.1f us, ratio %.2f (goal <= 1.5); %s\n",
                rounds, toolEcho, socatEcho, socatEcho > 0 ? toolEcho / socatEcho : 0.0,
                lossless ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED");

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
    }
    const double toolP = percentile(toolFirst, 0.99);
    const double socatP = percentile(socatFirst, 0.99);
    std::printf(
        "BMS tester first answer byte: zanst p50 %.0f us p99 %.0f us (%zu answers); socat turnaround p50 "
        "%.0f us p99 %.0f us; ratio %.2f (goals: p99 < 2000 us and <= 3x socat)\n",
        percentile(toolFirst, 0.5), toolP, toolFirst.size(), percentile(socatFirst, 0.5), socatP,
        socatP > 0 ? toolP / socatP : 0.0);

    for (pid_t pid : hogs) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return lossless ? 0 : 1;
}
