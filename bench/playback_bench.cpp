// Timing of a playback against its recording through the engine's playback feature: a harness,
// not a test.
//
// A recording of 16 cells, one step about a second apart (uneven, as a real one), is loaded into a
// bus engine running on its own thread, as the window hands it over, and played with a drift edit
// on top. zanst-sim plays the BMS on a pseudo-terminal (polling once a second and checking every
// answer against the recording), so the engine answers it and captures the answers as it would at
// the bench. "Late" is the time from a step's recorded time stamp (divided by the pace, from the
// moment play() ran) to the moment the engine had handed that step to the responder. The CPU is
// this process's (the engine's thread, the idle main thread), the simulator's is its own; the same
// engine answering the same BMS from its sliders for --idle seconds first gives the share that is
// not the playback's.
//
// Usage: playback_bench [--minutes M] [--paces LIST] [--idle S] [--no-bms]
//   default: 10 minutes of recording at 1x and at 10x, 20 s idle.

#include "bench_options.hpp"
#include "engine/emulator_feature.hpp"
#include "engine/engine_host.hpp"
#include "engine/playback_feature.hpp"
#include "engine/post.hpp"
#include "support/sim_process.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace zanst;
using Clock = std::chrono::steady_clock;

constexpr int kCells = 16;

// Steps about a second apart: 1000 ms, give or take up to 40 ms, as a poll tick drifts.
playback::Timeline recording(int minutes) {
    playback::Timeline t;
    t.source = "bench";
    t.cellCount = kCells;
    t.batteries.push_back({"HQ2200A60D1", 0, kCells});
    t.structureKnown = true;
    t.cellFlags.assign(kCells, 0);
    t.cellFlags[0] = 0x01;
    t.cellFlags[2] = 0x03;
    std::uint32_t seed = 12345;
    std::int64_t at = 0;
    while (at < static_cast<std::int64_t>(minutes) * 60000) {
        playback::Step s;
        s.timeMs = at;
        for (int c = 0; c < kCells; ++c) {
            s.cells.push_back({3300 + c + static_cast<int>(at / 60000), 200 + c, 5000});
        }
        s.bankMilliamps = 5000;
        t.steps.push_back(s);
        seed = seed * 1664525u + 1013904223u;
        at += 960 + static_cast<std::int64_t>(seed >> 24) % 81;
    }
    return t;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeout.count()) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// What the engine reported, taken on its thread the moment it was emitted.
struct Observed {
    std::mutex mutex;
    std::vector<std::pair<int, Clock::time_point>> driven; // step, when it was handed over
    std::atomic<bool> finished{false};
    std::atomic<long> reports{0};
};

} // namespace

int main(int argc, char** argv) {
    int minutes = 10;
    std::string paces = "1,10";
    bool noBms = false;
    int idleSeconds = 20;
    const bench::OptionTable options{
        "A playback's steps against the recording's time stamps through the engine, and its CPU.",
        {{"--minutes", "M", "minutes of recording, 1 to 600 (default 10)", &minutes, 1.0, 600.0},
         {"--paces", "LIST", "paces to play at, of 1, 2 and 10, comma-separated (default 1,10)", &paces},
         {"--idle", "S", "seconds of answering from the sliders first, for the CPU baseline (default 20)",
          &idleSeconds, 0.0, 3600.0},
         {"--no-bms", "", "no simulated BMS on the port (the engine answers nobody)", &noBms}}};
    if (const auto exit = bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    std::vector<playback::Pace> chosen;
    for (std::size_t at = 0; at <= paces.size();) {
        const std::size_t comma = std::min(paces.find(',', at), paces.size());
        const std::string p = paces.substr(at, comma - at);
        if (p == "1" || p == "2" || p == "10") {
            chosen.push_back(p == "10"  ? playback::Pace::Tenfold
                             : p == "2" ? playback::Pace::Double
                                        : playback::Pace::Recorded);
        } else {
            std::fprintf(stderr, "--paces '%s': choose among 1, 2 and 10\n%s\n", paces.c_str(),
                         bench::usageLine(options, "playback_bench").c_str());
            return bench::kUsageExit;
        }
        at = comma + 1;
    }
    QCoreApplication app(argc, argv);
    test::TempDir dir;
    const playback::Timeline timeline = recording(minutes);
    app::PlaybackSource source;
    source.file = QString::fromStdString(dir / "bench.csv");
    source.timeline = timeline;
    source.match = playback::matchPreset(timeline);
    source.answersFolder = QString::fromStdString(dir.path());

    app::EngineHost host;
    app::BusEngine* engine = host.engine();
    Observed seen;
    QObject context;
    QObject::connect(
        engine->playback(), &app::PlaybackFeature::reported, &context,
        [&seen](const app::PlaybackReport& r) {
            const Clock::time_point now = Clock::now();
            ++seen.reports;
            if (r.driven) {
                std::lock_guard lock(seen.mutex);
                seen.driven.emplace_back(r.step, now);
            }
            if (r.state == playback::PlayState::Finished) {
                seen.finished = true;
            }
        },
        Qt::DirectConnection);
    app::post(engine->modes(), [](app::ModeSwitch& m) { m.selectMode(bus::Mode::BmsTester); });
    // As the window's first showing does: the first model, the sliders' defaults.
    app::post(engine->emulator(), [](app::EmulatorFeature& e) {
        e.applyBatteryPreset(0, false);
        e.setBankSettings(emulator::BankSettings{});
    });

    std::unique_ptr<test::SimProcess> sim;
    if (!noBms) {
        const std::string link = dir / "bms";
        sim = std::make_unique<test::SimProcess>(ZANST_SIM_PATH,
                                                 std::vector<std::string>{"bms", "--link", link});
        if (!sim->waitForLine(" ready ", std::chrono::seconds(10))) {
            std::fprintf(stderr, "zanst-sim did not start:\n%s\n", sim->transcript().c_str());
            return 1;
        }
        std::atomic<bool> open{false};
        QObject::connect(
            engine->ports(), &app::PortControl::portStatusChanged, &context,
            [&open](app::PortStatus s, const QString&, const QString&) { open = s == app::PortStatus::Open; },
            Qt::DirectConnection);
        app::post(engine->ports(),
                  [name = QString::fromStdString(link)](app::PortControl& p) { p.selectPort(name); });
        if (!waitFor([&] { return open.load(); }, std::chrono::seconds(10))) {
            std::fprintf(stderr, "the port did not open\n");
            return 1;
        }
    }
    std::printf(
        "recording: %d cells, %zu steps over %s; BMS: %s; timer: QTimer (precise) on the engine's thread\n",
        kCells, timeline.steps.size(), playback::clockText(timeline.lengthMs()).c_str(),
        noBms ? "none" : "zanst-sim bms, once a second");

    if (idleSeconds > 0) {
        const double cpu0 = cpuSeconds();
        const Clock::time_point t0 = Clock::now();
        waitFor([] { return false; }, std::chrono::seconds(idleSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds() - cpu0;
        std::printf("idle (the sliders' bank): CPU %.3f s in %.1f s = %.3f %% of a core\n", cpu, wall,
                    100.0 * cpu / wall);
    }
    for (const playback::Pace pace : chosen) {
        const int factor = playback::paceFactor(pace);
        {
            std::lock_guard lock(seen.mutex);
            seen.driven.clear();
        }
        seen.finished = false;
        host.runBlocking([&] {
            app::PlaybackFeature* p = engine->playback();
            p->load(source);
            p->clearEdits();
            p->addEdit(QStringLiteral("cell 5 drifts 2 mV a second lower from 00:03:10"));
            p->setLoop(false);
            p->setPace(pace);
        });
        Clock::time_point started{};
        const double cpu0 = cpuSeconds();
        const long reports0 = seen.reports;
        host.runBlocking([&] {
            started = Clock::now();
            engine->playback()->play();
        });
        const auto expected = std::chrono::milliseconds(timeline.lengthMs() / factor);
        if (!waitFor([&] { return seen.finished.load(); }, expected + std::chrono::seconds(30))) {
            std::fprintf(stderr, "pace %dx: the playback did not finish\n", factor);
            return 1;
        }
        const double wall = std::chrono::duration<double>(Clock::now() - started).count();
        const double cpu = cpuSeconds() - cpu0;
        std::vector<double> late;
        std::size_t missing = 0;
        {
            std::lock_guard lock(seen.mutex);
            std::vector<bool> got(timeline.steps.size(), false);
            for (const auto& [step, at] : seen.driven) {
                if (step < 0 || static_cast<std::size_t>(step) >= timeline.steps.size() ||
                    got[static_cast<std::size_t>(step)]) {
                    continue;
                }
                got[static_cast<std::size_t>(step)] = true;
                const auto due =
                    started + std::chrono::nanoseconds(timeline.steps[static_cast<std::size_t>(step)].timeMs *
                                                       1'000'000 / factor);
                late.push_back(std::chrono::duration<double, std::milli>(at - due).count());
            }
            missing = static_cast<std::size_t>(std::count(got.begin(), got.end(), false));
        }
        std::printf("pace %dx: %zu steps handed over (%zu missed) in %.1f s; late p50 %.3f ms, p99 %.3f ms, "
                    "max %.3f ms, min %.3f ms; %ld reports; CPU %.3f s = %.3f %% of a core\n",
                    factor, late.size(), missing, wall, percentile(late, 0.5), percentile(late, 0.99),
                    percentile(late, 1.0), percentile(late, 0.0), seen.reports - reports0, cpu,
                    100.0 * cpu / wall);
        std::fflush(stdout);
    }
    host.runBlocking([&] { engine->playback()->stop(); });
    if (sim) {
        sim->stop();
        for (const std::string& line : sim->linesWith("summary")) {
            std::printf("%s\n", line.c_str());
        }
    }
    return 0;
}
