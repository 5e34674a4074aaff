// A whole firmware update through the window, as a technician runs it: the tool with its window
// shown (offscreen by default), on "Battery tester", its port zanst-sim playing 16 balancers with
// bytes paced at the real line rate (40 us a byte). The image is read as a chosen file is.
//
//   firmware_update_bench [--image-bytes N] [--balancers-preset ID] [--runs N]
//
// Figures: the block phase (first block sent to the last block back) against the pure line time
// of its bytes at 25,000 bytes/s, the whole update from the file to "Firmware updated to", and
// the longest stall of the window's event loop while the blocks stream (a 1 ms timer on the
// window's thread; a stall is the gap between two of its ticks beyond its period).

#include "bench_options.hpp"
#include "bus/protocol.hpp"
#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "offscreen.hpp"
#include "service/updater.hpp"
#include "shell/main_window.hpp"
#include "support/hex_text.hpp"
#include "support/qt_wait.hpp"
#include "support/sim_process.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/updater_group.hpp"
#include "ui/cell_grid.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kLineBytesPerSecond = 25000.0; // 250000 baud, 10 bits a byte

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Phase {
    std::mutex mutex;
    Clock::time_point firstBlock{};
    Clock::time_point lastBlockBack{};
    Clock::time_point done{};
    bool timedOut = false;
};

struct Result {
    bool ok = false;
    double blockPhaseMs = 0;
    double totalMs = 0;
    double maxStallMs = 0;
    double p99StallMs = 0;
    long ticks = 0;
};

Result runOnce(const std::string& simPath, const std::string& preset, std::size_t imageBytes, int run) {
    Result result;
    zanst::test::TempDir dir;
    const std::string link = dir / "port";
    zanst::test::SimProcess sim(simPath, {"bank", "--preset", preset, "--slow-byte-us", "40", "--no-noise",
                                          "--quiet", "--link", link});
    if (!sim.waitForLine(" ready ", 10s)) {
        std::fprintf(stderr, "the simulator did not start\n%s", sim.transcript().c_str());
        return result;
    }
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(link));

    const std::string hexPath = dir / "balancer.hex";
    {
        QFile f(QString::fromStdString(hexPath));
        if (!f.open(QIODevice::WriteOnly)) {
            return result;
        }
        f.write(QByteArray::fromStdString(
            zanst::test::hexFile(0x7000, zanst::test::imageBytes(imageBytes, 0x000300FF + (run << 8)))));
    }

    zanst::app::diag_form window(zanst::app::ServiceMode::On);
    Phase phase;
    // On the engine's thread, as the updater reports: its first progress line follows the write
    // of block 0; "Start Update...100%" comes at the sender's first look after the last block is back.
    QObject::connect(
        window.engine()->service(), &zanst::app::ServiceFeature::updaterReported, &window,
        [&phase](const zanst::service::UpdaterReport& report) {
            const auto now = Clock::now();
            std::lock_guard lock(phase.mutex);
            for (const zanst::service::UpdaterLogLine& line : report.log) {
                const QString text = QString::fromStdString(line.text);
                if (text.startsWith("Start Update...") && text.endsWith('%') &&
                    phase.firstBlock == Clock::time_point{}) {
                    phase.firstBlock = now;
                } else if (text == "Start Update...100%") {
                    phase.lastBlockBack = now;
                } else if (text.startsWith("Firmware updated to")) {
                    phase.done = now;
                } else if (text == "Updater Timeout") {
                    phase.timedOut = true;
                    phase.done = now;
                }
            }
        },
        Qt::DirectConnection);
    window.show();
    zanst::app::BatteryTesterTab* tester = window.batteryTesterTab();
    window.tabs()->setCurrentWidget(tester);
    const QString path = QString::fromStdString(link);
    zanst::app::post(window.engine(), [path](zanst::app::BusEngine& e) { e.ports()->selectPort(path); });
    const bool enumerated =
        zanst::test::waitUntil([&] { return tester->model()->table().rows.size() >= 16; }, 20s);
    if (!enumerated) {
        std::fprintf(stderr, "the bank was not enumerated\n");
        return result;
    }

    // The window's event loop: a 1 ms timer whose gaps show every stall.
    std::vector<double> gaps;
    gaps.reserve(100000);
    QElapsedTimer loopClock;
    bool measuring = false;
    double lastTick = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = static_cast<double>(loopClock.nsecsElapsed()) / 1e6;
        if (measuring) {
            gaps.push_back(now - lastTick);
        }
        lastTick = now;
    });
    loopClock.start();
    probe.start();

    const auto dropped = Clock::now();
    tester->updaterGroup->takeFiles({QString::fromStdString(hexPath)});
    const bool finished = zanst::test::waitUntil(
        [&] {
            std::lock_guard lock(phase.mutex);
            measuring = phase.firstBlock != Clock::time_point{} && phase.lastBlockBack == Clock::time_point{};
            return phase.done != Clock::time_point{};
        },
        40s);
    probe.stop();
    std::lock_guard lock(phase.mutex);
    if (!finished || phase.timedOut) {
        std::fprintf(stderr, "the update did not finish well%s\n",
                     phase.timedOut ? " (Updater Timeout)" : "");
        return result;
    }
    result.ok = true;
    result.blockPhaseMs = ms(phase.lastBlockBack - phase.firstBlock);
    result.totalMs = ms(phase.done - dropped);
    std::sort(gaps.begin(), gaps.end());
    result.ticks = static_cast<long>(gaps.size());
    if (!gaps.empty()) {
        result.maxStallMs = gaps.back();
        result.p99StallMs = gaps[static_cast<std::size_t>(0.99 * static_cast<double>(gaps.size() - 1))];
    }
    sim.stop();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t imageBytes = 100000;
    std::string preset = "0xA612"; // 16 cells: 16 balancers on the ring
    int runs = 3;
    const zanst::bench::OptionTable options{
        "A whole firmware update through the window and zanst-sim at the real line rate.",
        {{"--image-bytes", "N", "size of the image (default 100000)", &imageBytes},
         {"--balancers-preset", "ID", "zanst-sim's preset, its cells the balancers (default 0xA612)",
          &preset},
         {"--runs", "N", "updates measured (default 3)", &runs, 1.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen();
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);

    const std::size_t blocks =
        (imageBytes + zanst::service::kImageBlockSize - 1) / zanst::service::kImageBlockSize;
    const double lineMs =
        1000.0 * static_cast<double>(blocks * zanst::bus::kDataBlockSize) / kLineBytesPerSecond;
    std::printf("image %zu bytes = %zu blocks of %zu bytes; line time of the blocks %.0f ms\n", imageBytes,
                blocks, zanst::bus::kDataBlockSize, lineMs);
    int failed = 0;
    for (int run = 0; run < runs; ++run) {
        const Result r = runOnce(ZANST_SIM_PATH, preset, imageBytes, run);
        if (!r.ok) {
            ++failed;
            continue;
        }
        std::printf(
            "run %d: blocks %.0f ms (line efficiency %.1f %%), whole update %.2f s of the 20 s limit, "
            "window loop: longest stall %.1f ms, p99 %.2f ms over %ld ticks\n",
            run + 1, r.blockPhaseMs, 100.0 * lineMs / r.blockPhaseMs, r.totalMs / 1000.0, r.maxStallMs,
            r.p99StallMs, r.ticks);
        std::fflush(stdout);
    }
    return failed == 0 ? 0 : 1;
}
