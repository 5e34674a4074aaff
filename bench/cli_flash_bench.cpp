// A whole firmware update through zanst-cli and through the window, in alternating rounds of the
// same run, each against a fresh zanst-sim bank of 16 balancers at the real line rate (40 us a
// byte). Both are timed from the simulator's own lines, so that neither front end measures
// itself: the block phase runs from block 0 to the last block written by the balancers, and its
// line efficiency is the line time of the blocks in between (2064 bytes at 25,000 bytes/s each)
// over that phase; the whole update runs from the start of the boot loaders to the end update.
//
//   cli_flash_bench [--image-bytes N] [--rounds R] [--busy N]

#include "bench_options.hpp"
#include "bus/protocol.hpp"
#include "cli_bench.hpp"
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
#include <QTabWidget>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <optional>

namespace {

using namespace std::chrono_literals;
using zanst::bench::median;

constexpr double kLineBytesPerSecond = 25000.0;

struct Figures {
    double efficiency = 0; // %
    double blockPhaseMs = 0;
    double wholeS = 0;
};

// The block phase and the whole update from the simulator's lines.
std::optional<Figures> figuresOf(const std::vector<std::string>& lines, std::size_t blocks) {
    double firstBlock = -1;
    double lastBlock = -1;
    double bootLoaders = -1;
    double complete = -1;
    const std::string last = "0x23: block " + std::to_string(blocks - 1) + " written";
    for (const std::string& line : lines) {
        const double t = zanst::bench::simSeconds(line);
        if (line.find("0x23: block 0 written") != std::string::npos) {
            firstBlock = t;
        } else if (line.find(last) != std::string::npos) {
            lastBlock = t;
        } else if (line.find("0x20: all balancers in their boot loader") != std::string::npos &&
                   bootLoaders < 0) {
            bootLoaders = t;
        } else if (line.find("0x22: update complete") != std::string::npos) {
            complete = t;
        }
    }
    if (firstBlock < 0 || lastBlock <= firstBlock || complete < 0 || bootLoaders < 0) {
        return std::nullopt;
    }
    Figures f;
    f.blockPhaseMs = (lastBlock - firstBlock) * 1000.0;
    const double lineMs =
        1000.0 * static_cast<double>((blocks - 1) * zanst::bus::kDataBlockSize) / kLineBytesPerSecond;
    f.efficiency = 100.0 * lineMs / f.blockPhaseMs;
    f.wholeS = complete - bootLoaders;
    return f;
}

// The update as a technician runs it in the window: "Battery tester" with the service tools, the
// file taken as a dropped one.
bool updateInWindow(const std::string& link, const std::string& hexPath) {
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(link));
    zanst::app::diag_form window(zanst::app::ServiceMode::On);
    std::atomic<bool> done{false};
    QObject::connect(
        window.engine()->service(), &zanst::app::ServiceFeature::updaterReported, &window,
        [&done](const zanst::service::UpdaterReport& report) {
            for (const auto& line : report.log) {
                if (line.text.rfind("Firmware updated to", 0) == 0 || line.text == "Updater Timeout") {
                    done = true;
                }
            }
        },
        Qt::DirectConnection);
    window.show();
    zanst::app::BatteryTesterTab* tester = window.batteryTesterTab();
    window.tabs()->setCurrentWidget(tester);
    const QString path = QString::fromStdString(link);
    zanst::app::post(window.engine(), [path](zanst::app::BusEngine& e) { e.ports()->selectPort(path); });
    if (!zanst::test::waitUntil([&] { return tester->model()->table().rows.size() >= 16; }, 30s)) {
        return false;
    }
    tester->updaterGroup->takeFiles({QString::fromStdString(hexPath)});
    return zanst::test::waitUntil([&] { return done.load(); }, 60s);
}

bool updateWithCli(const std::string& link, const std::string& hexPath, const std::string& log) {
    zanst::bench::Child cli(ZANST_CLI_PATH, {"flash", hexPath, "--port", link}, log + ".out", log + ".err");
    return cli.started() && cli.wait(90) == 0;
}

std::optional<Figures> runOnce(bool window, std::size_t imageBytes, std::size_t blocks, int run) {
    zanst::test::TempDir dir;
    const std::string link = dir / "port";
    zanst::test::SimProcess sim(
        ZANST_SIM_PATH, {"bank", "--preset", "0xA612", "--slow-byte-us", "40", "--no-noise", "--link", link});
    if (!sim.waitForLine(" ready ", 15s)) {
        std::fprintf(stderr, "the simulator did not start\n%s", sim.transcript().c_str());
        return std::nullopt;
    }
    const std::string hexPath = dir / "balancer.hex";
    std::ofstream(hexPath) << zanst::test::hexFile(
        0x7000, zanst::test::imageBytes(imageBytes, 0x000300FF + (static_cast<std::uint32_t>(run) << 8)));
    const bool ok = window ? updateInWindow(link, hexPath) : updateWithCli(link, hexPath, dir / "cli");
    sim.stop();
    if (!ok) {
        std::fprintf(stderr, "%s: the update did not end well\n%s%s", window ? "window" : "zanst-cli",
                     sim.transcript().c_str(), zanst::test::readFile(dir / "cli.err").c_str());
        return std::nullopt;
    }
    return figuresOf(sim.lines(), blocks);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t imageBytes = 100000;
    int rounds = 3;
    int busy = 0;
    const zanst::bench::OptionTable options{
        "A firmware update's line efficiency through zanst-cli and through the window, in one run.",
        {{"--image-bytes", "N", "size of the image (default 100000)", &imageBytes, 4097.0, 100000.0},
         {"--rounds", "R", "updates of each front end (default 3)", &rounds, 1.0},
         {"--busy", "N", "CPU-bound processes beside it for the whole run (default 0)", &busy, 0.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen();
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);

    const std::size_t blocks =
        (imageBytes + zanst::service::kImageBlockSize - 1) / zanst::service::kImageBlockSize;
    std::printf(
        "image %zu bytes = %zu blocks; 16 balancers at 40 us a byte; %d CPU-bound processes beside it; "
        "load average %.1f\n",
        imageBytes, blocks, busy, zanst::bench::loadAverage());
    const std::vector<pid_t> hogs = zanst::bench::startBusy(busy);
    std::vector<double> efficiency[2];
    std::vector<double> whole[2];
    const char* names[2] = {"zanst-cli", "window"};
    int failed = 0;
    for (int r = 0; r < rounds; ++r) {
        // The order changes every round, so that neither front end always runs on a fresher machine.
        for (int k = 0; k < 2; ++k) {
            const int kind = (r + k) % 2;
            const auto f = runOnce(kind == 1, imageBytes, blocks, r * 2 + k);
            if (!f) {
                ++failed;
                continue;
            }
            efficiency[kind].push_back(f->efficiency);
            whole[kind].push_back(f->wholeS);
            std::printf("round %d %-9s: blocks %.0f ms, line efficiency %.1f %%, whole update %.2f s\n",
                        r + 1, names[kind], f->blockPhaseMs, f->efficiency, f->wholeS);
            std::fflush(stdout);
        }
    }
    zanst::bench::stopBusy(hogs);
    for (int kind = 0; kind < 2; ++kind) {
        std::printf("median of %zu rounds, %-9s: line efficiency %.1f %%, whole update %.2f s\n",
                    efficiency[kind].size(), names[kind], median(efficiency[kind]), median(whole[kind]));
    }
    std::printf("load average at the end %.1f\n", zanst::bench::loadAverage());
    return failed == 0 ? 0 : 1;
}
