// Long runs and faults through the whole program with its window shown (run it under xvfb-run,
// or offscreen without a display). Not a test: a harness whose findings go into the release notes.
//
//   soak sniffer [--seconds S]   the sniffer at 25,000 bytes/s: no byte lost, duplicated or
//                                reordered
//   soak tester [--seconds S] [--drop P] [--corrupt P]
//                                the battery tester polling 160 balancers of zanst-sim with lost
//                                and corrupted bytes (per byte, default 0.01 and 0.001) while
//                                recording: no value out of the bank's range shown or recorded,
//                                how many polls brought measurements, resident memory after the
//                                warm-up
//   soak faults                  the port vanishing in each mode; the recordings folder removed,
//                                read-only, full (the last two need root for a small tmpfs)

#include "bank/cell_rows.hpp"
#include "bench_options.hpp"
#include "echo_phase.hpp"
#include "offscreen.hpp"
#include "shell/main_window.hpp"
#include "support/pty.hpp"
#include "support/sim_process.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "ui/cell_grid.hpp"
#include "ui/recorder_panel.hpp"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zanst::bank::Column;
namespace fs = std::filesystem;

void runFor(std::chrono::milliseconds ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Pred> bool waitFor(Pred done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        runFor(20ms);
    }
    return true;
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The window, its files in a folder of its own, its port list holding `port`.
struct Window {
    QTemporaryDir data;
    std::unique_ptr<zanst::app::diag_form> form;

    explicit Window(const std::string& port) {
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(port));
        form = std::make_unique<zanst::app::diag_form>();
        form->show();
        runFor(300ms);
        choose(port);
    }
    void choose(const std::string& port) {
        QComboBox* ports = form->connectionTab()->comboBox1;
        form->refreshPortList();
        const int index = ports->findText(QString::fromStdString(port));
        ports->setCurrentIndex(index);
        emit ports->activated(index);
        waitFor([&] { return form->windowTitle().endsWith(QString::fromStdString(port)); }, 3000ms);
    }
    QString recordings() const { return data.path() + "/Kestrova Energy/Zanthe Service Tool/Recordings"; }
};

// A bank at 10 A without noise: 3.0..3.7 V, 0..60 degC, every current near 10 A.
struct Bands {
    long values = 0;
    long outside = 0;
    void check(double volts, const std::string& current, double celsius) {
        values += 3;
        outside += (volts < 3.0 || volts > 3.7) ? 1 : 0;
        outside += (celsius < 0 || celsius > 60) ? 1 : 0;
        if (current != "-") {
            ++values;
            const double amps = std::atof(current.c_str() + (current.find(':') + 1));
            outside += std::abs(amps - 10.0) > 1.0 ? 1 : 0;
        }
    }
};

int soakSniffer(double seconds) {
    zanst::test::Pty pty;
    Window window(pty.slavePath());
    window.form->tabs()->setCurrentWidget(window.form->snifferTab());
    runFor(800ms);
    zanst::bench::PhaseResult r;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        r = zanst::bench::runPhase(pty.masterFd(), pty.masterFd(), zanst::bench::snifferPattern(), seconds);
        done = true;
    });
    waitFor([&] { return done.load(); },
            std::chrono::milliseconds(static_cast<long>(seconds * 1000) + 60000));
    worker.join();
    zanst::bench::print("sniffer soak", r);
    const bool clean = r.received == r.sent && r.mismatches == 0;
    std::printf("%s\n", clean ? "no byte lost, duplicated or reordered" : "BYTES LOST OR REORDERED");
    return clean ? 0 : 1;
}

struct FaultRates {
    double drop = 0.01;
    double corrupt = 0.001;
};

int soakTester(double seconds, FaultRates faults) {
    zanst::test::TempDir dir;
    const std::string link = dir / "port";
    zanst::test::SimProcess sim(ZANST_SIM_PATH,
                                {"bank", "--preset", "0xA612", "--batteries", "10", "--current", "10",
                                 "--no-noise", "--quiet", "--drop-rate", std::to_string(faults.drop),
                                 "--corrupt-rate", std::to_string(faults.corrupt), "--link", link});
    if (!sim.waitForLine(" ready ", 10s)) {
        std::fprintf(stderr, "zanst-sim did not start\n");
        return 1;
    }
    Window window(link);
    auto* tab = window.form->batteryTesterTab();
    window.form->tabs()->setCurrentWidget(tab);
    auto* model = tab->model();
    // With many lost bytes a 160-record list may never come back whole; the soak goes on anyway.
    if (!waitFor([&] { return model->table().rows.size() == 160; }, 20000ms)) {
        std::printf("the 160 balancers were not all enumerated within 20 s\n");
    }
    tab->recorder()->startButton->click();

    Bands shown;
    long secondsWithVoltages = 0;
    long warmKb = 0;
    long minKb = 0;
    long maxKb = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto warmUp = std::min(60.0, seconds / 5);
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
        runFor(1000ms);
        bool anyVoltage = false;
        for (const auto& row : model->table().rows) {
            if (row.volts) {
                anyVoltage = true;
                shown.check(*row.volts, row[Column::Current], row.celsius);
            }
        }
        secondsWithVoltages += anyVoltage ? 1 : 0;
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long kb = residentKb();
        if (t >= warmUp) {
            if (warmKb == 0) {
                warmKb = minKb = maxKb = kb;
            }
            minKb = std::min(minKb, kb);
            maxKb = std::max(maxKb, kb);
        }
    }
    tab->recorder()->startButton->click();
    const QString file = window.recordings() + "/Recording_1.txt";

    // The recording: " id volts current temp" per row, the current "-" or "L: x" / "H: x".
    Bands recorded;
    long lines = 0;
    std::ifstream in(file.toStdString());
    for (std::string line; std::getline(in, line);) {
        ++lines;
        std::istringstream words(line);
        std::string id;
        std::string volts;
        std::string current;
        std::string temp;
        while (words >> id >> volts >> current) {
            if (current != "-") {
                std::string value;
                words >> value;
                current += " " + value;
            }
            words >> temp;
            if (volts == "-") {
                continue; // no measurement yet: nothing was shown as a value
            }
            recorded.check(std::atof(volts.c_str()), current, std::atof(temp.c_str()));
        }
    }
    const auto health = window.form->engine(); // keeps the engine alive until the end
    (void)health;
    std::printf(
        "tester soak %.0f s, 160 balancers, drop %g, corrupt %g: %ld of the seconds showed voltages; "
        "shown %ld values, %ld outside the bank's range; recorded %ld lines, %ld values, %ld outside\n",
        seconds, faults.drop, faults.corrupt, secondsWithVoltages, shown.values, shown.outside, lines,
        recorded.values, recorded.outside);
    std::printf("resident memory after %.0f s warm-up: %ld..%ld kB (spread %ld kB)\n", warmUp, minKb, maxKb,
                maxKb - minKb);
    return shown.outside == 0 && recorded.outside == 0 && lines > 0 ? 0 : 1;
}

// --- faults ---

struct Outcome {
    std::string what;
    bool ok;
    std::string detail;
};

Outcome portVanishes(const char* role, QWidget* (*tabOf)(zanst::app::diag_form&)) {
    zanst::test::TempDir dir;
    const std::string link = dir / "port";
    auto sim = std::make_unique<zanst::test::SimProcess>(ZANST_SIM_PATH,
                                                         std::vector<std::string>{role, "--link", link});
    sim->waitForLine(" ready ", 10s);
    Window window(link);
    window.form->tabs()->setCurrentWidget(tabOf(*window.form));
    runFor(3000ms);
    sim.reset(); // the far end goes away mid-stream, as an unplugged adapter does
    const bool told = waitFor([&] { return window.form->windowTitle().contains("Connection lost"); }, 5000ms);
    // The window stays usable: the other tabs still switch.
    window.form->tabs()->setCurrentIndex(0);
    runFor(300ms);
    return {std::string("port vanishes, ") + role, told && window.form->tabs()->currentIndex() == 0,
            window.form->windowTitle().toStdString()};
}

// Records on the battery tester against a bank, then does `fault` to the folder and waits for the
// recorder to stop with its reason in red; checks that the lines written before are whole.
Outcome recordingFault(const std::string& name, const std::function<bool(const QString& folder)>& fault) {
    zanst::test::TempDir dir;
    const std::string link = dir / "port";
    zanst::test::SimProcess sim(ZANST_SIM_PATH, {"bank", "--quiet", "--link", link});
    sim.waitForLine(" ready ", 10s);
    Window window(link);
    auto* tab = window.form->batteryTesterTab();
    window.form->tabs()->setCurrentWidget(tab);
    waitFor([&] { return !tab->model()->table().rows.empty(); }, 10000ms);
    const QString folder = window.recordings();
    if (!fault(folder)) {
        return {name, true, "skipped (needs root for a small tmpfs)"};
    }
    tab->recorder()->startButton->click();
    auto* panel = tab->recorder();
    const bool stopped = waitFor([&] { return !panel->isRecording(); }, 60000ms);
    const QString label = panel->pathLabel->text();
    // Whatever the file holds, every line in it is whole.
    bool whole = true;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.toStdString(), ec)) {
        if (entry.path().filename().string().rfind("Recording_", 0) == 0) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            whole = whole && (text.empty() || text.back() == '\n');
        }
    }
    ::umount2(folder.toStdString().c_str(), MNT_DETACH);
    return {name, stopped && label.startsWith("Recording stopped: ") && whole, label.toStdString()};
}

int faults() {
    std::vector<Outcome> results;
    results.push_back(
        portVanishes("bank", [](zanst::app::diag_form& w) -> QWidget* { return w.batteryTesterTab(); }));
    results.push_back(
        portVanishes("bms", [](zanst::app::diag_form& w) -> QWidget* { return w.bmsTesterTab(); }));
    results.push_back(
        portVanishes("ring", [](zanst::app::diag_form& w) -> QWidget* { return w.snifferTab(); }));
    results.push_back(recordingFault("recordings folder removed", [](const QString& folder) {
        // Removed a little after the recording starts.
        QTimer::singleShot(2500, [folder] { fs::remove_all(folder.toStdString()); });
        return true;
    }));
    const auto smallTmpfs = [](const QString& folder, const char* options) {
        fs::create_directories(folder.toStdString());
        return ::mount("tmpfs", folder.toStdString().c_str(), "tmpfs", 0, options) == 0;
    };
    results.push_back(recordingFault("recordings folder made read-only", [&](const QString& folder) {
        if (!smallTmpfs(folder, "size=1m")) {
            return false;
        }
        QTimer::singleShot(2500, [folder] {
            ::mount(nullptr, folder.toStdString().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
        });
        return true;
    }));
    results.push_back(recordingFault("disk fills while recording",
                                     [&](const QString& folder) { return smallTmpfs(folder, "size=8k"); }));
    int failed = 0;
    for (const Outcome& o : results) {
        std::printf("%-34s %s  %s\n", o.what.c_str(), o.ok ? "ok  " : "FAIL", o.detail.c_str());
        failed += o.ok ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string what;
    double seconds = 600;
    FaultRates rates;
    const zanst::bench::OptionTable options{
        "Long runs and faults through the whole window (sniffer and tester use the seconds).",
        {{"--seconds", "S", "length of the run in seconds (default 600)", &seconds, 0.0},
         {"--drop", "P", "tester: chance that zanst-sim drops a byte (default 0.01)", &rates.drop, 0.0, 1.0},
         {"--corrupt", "P", "tester: chance that zanst-sim corrupts a byte (default 0.001)", &rates.corrupt,
          0.0, 1.0}},
        {{"run",
          "the sniffer at full rate, the tester with faults, or the port and folder failing",
          {"sniffer", "tester", "faults"},
          &what}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen(zanst::bench::DisplayUse::WhenSet);
    QApplication app(argc, argv);
    if (what == "sniffer") {
        return soakSniffer(seconds);
    }
    if (what == "tester") {
        return soakTester(seconds, rates);
    }
    return faults();
}
