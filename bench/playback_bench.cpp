// Timing of a playback against its recording: a harness, not a test.
//
// A recording of 16 cells, one step about a second apart (uneven, as a real one), is played with
// the real clock and the timers the engine uses: a precise single-shot QTimer at the player's
// nextDue(), on an event loop. At every step the harness does the engine's work (the step with
// an edit applied, the played bank and the sliders, handed to the responder) and once a second
// a BMS's measurement request is answered. It reports how late each step came against its
// recorded time stamp (divided by the pace) and the process's CPU time while playing.
//
// Usage: playback_bench [--minutes M] [--paces LIST] [--sleep]
//   default: 10 minutes of recording at 1x and at 10x, QTimer.

#include "bench_options.hpp"
#include "emulator/responder.hpp"
#include "playback/bank_frame.hpp"
#include "playback/player.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
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

bus::Bytes measurementRequest() {
    bus::Bytes out = test::frame(0x02, bus::Bytes(20, 0x10), 2);
    for (int i = 1; i <= kCells; ++i) {
        const bus::Bytes r =
            test::measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < kCells ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
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

struct Run {
    std::vector<double> lateMs; // how late each step came against its time stamp
    std::vector<double> workUs; // the engine's work per step
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long answers = 0;
};

// The engine's side of a playback: the player, the bank it drives, the responder answering.
class Harness {
  public:
    Harness(const playback::Timeline& timeline, playback::Pace pace, bool qtTimer)
        : timeline_(timeline), player_(timeline, clock_), qtTimer_(qtTimer), responder_(state_, port_),
          request_(measurementRequest()) {
        match_ = playback::matchPreset(timeline);
        responder_.setPreset(emulator::bankPresetForListIndex(match_.listIndex));
        edits_.push_back(*playback::parseEdit("cell 5 drifts 2 mV a second lower from 00:03:10").edit);
        player_.setPace(pace);
        factor_ = playback::paceFactor(pace);
        // The BMS asks for the info first, so that measurement answers carry records.
        responder_.receive(test::frame(0x01, bus::Bytes(16, 0), 0));
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { onDue(); });
    }

    Run run() {
        const double cpu0 = cpuSeconds();
        start_ = Clock::now();
        nextAnswer_ = start_;
        player_.play();
        onDue();
        if (qtTimer_) {
            loop_.exec();
        } else {
            while (player_.state() == playback::PlayState::Playing) {
                std::this_thread::sleep_until(std::min(*player_.nextDue(), nextAnswer_));
                onDue();
            }
        }
        run_.wallSeconds = std::chrono::duration<double>(Clock::now() - start_).count();
        run_.cpuSeconds = cpuSeconds() - cpu0;
        return run_;
    }

  private:
    void onDue() {
        const Clock::time_point now = Clock::now();
        if (const auto step = player_.update()) {
            const auto due =
                start_ + std::chrono::nanoseconds(timeline_.steps[*step].timeMs * 1'000'000 / factor_);
            run_.lateMs.push_back(std::chrono::duration<double, std::milli>(now - due).count());
            const Clock::time_point w0 = Clock::now();
            const playback::BankFrame frame = playback::frameAt(timeline_, *step, edits_);
            responder_.setPlayedBank(playback::playedBank(frame, match_));
            settings_ = playback::sliderSettings(frame, match_, settings_);
            responder_.setSettings(settings_);
            run_.workUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - w0).count());
        }
        if (now >= nextAnswer_) { // the BMS polls once a second
            port_.writes.clear();
            responder_.receive(request_);
            ++run_.answers;
            nextAnswer_ += std::chrono::seconds(1);
        }
        const auto due = player_.nextDue();
        if (!due) {
            if (qtTimer_) {
                loop_.quit();
            }
            return;
        }
        if (qtTimer_) {
            const auto wake = std::min(*due, nextAnswer_);
            const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
            timer_.start(static_cast<int>(std::max<long long>(waitMs, 0)));
        }
    }

    const playback::Timeline& timeline_;
    playback::SteadyClock clock_;
    playback::Player player_;
    bool qtTimer_;
    int factor_ = 1;
    playback::PresetMatch match_;
    std::vector<playback::Edit> edits_;
    bus::BusState state_;
    test::FakePort port_;
    emulator::BmsResponder responder_;
    emulator::BankSettings settings_;
    bus::Bytes request_;
    QTimer timer_;
    QEventLoop loop_;
    Clock::time_point start_{};
    Clock::time_point nextAnswer_{};
    Run run_;
};

} // namespace

int main(int argc, char** argv) {
    int minutes = 10;
    std::string paces = "1,10";
    bool sleeping = false;
    const bench::OptionTable options{
        "A playback's steps against the recording's time stamps, on the engine's timers, and its CPU.",
        {{"--minutes", "M", "minutes of recording, 1 to 600 (default 10)", &minutes, 1.0, 600.0},
         {"--paces", "LIST", "paces to play at, of 1, 2 and 10, comma-separated (default 1,10)", &paces},
         {"--sleep", "", "sleep_until instead of a precise QTimer on an event loop", &sleeping}}};
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
    const playback::Timeline timeline = recording(minutes);
    std::printf("recording: %d cells, %zu steps over %s; timer: %s\n", kCells, timeline.steps.size(),
                playback::clockText(timeline.lengthMs()).c_str(),
                sleeping ? "sleep_until" : "QTimer (precise)");
    for (const playback::Pace pace : chosen) {
        Harness harness(timeline, pace, !sleeping);
        const Run r = harness.run();
        std::printf(
            "pace %dx: %zu steps in %.1f s; late p50 %.3f ms, p99 %.3f ms, max %.3f ms, min %.3f ms; "
            "work per step p50 %.1f us, max %.1f us; CPU %.3f s = %.3f %% of a core; %ld BMS answers\n",
            playback::paceFactor(pace), r.lateMs.size(), r.wallSeconds, percentile(r.lateMs, 0.5),
            percentile(r.lateMs, 0.99), percentile(r.lateMs, 1.0), percentile(r.lateMs, 0.0),
            percentile(r.workUs, 0.5), percentile(r.workUs, 1.0), r.cpuSeconds,
            100.0 * r.cpuSeconds / r.wallSeconds, r.answers);
        std::fflush(stdout);
    }
    return 0;
}
