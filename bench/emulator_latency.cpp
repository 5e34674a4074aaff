// Answer latency of the BMS tester over a pseudo-terminal: a latency harness, not a test.
//
// The harness plays the BMS. For each request it writes all bytes but the last, lets the engine
// take them in, then writes the last byte and measures
//   first byte: from just before that last byte is written to the first answer byte read back,
//   whole answer: from the first answer byte to the last one.
// A pseudo-terminal has no line rate, so the whole-answer figure is the tool's own cost.
//
//   emulator_latency [--answers N]   (default 400 per scenario)

#include "bench_options.hpp"
#include "emulator/bank_editor.hpp"
#include "engine/emulator_feature.hpp"
#include "engine/engine_host.hpp"
#include "support/pty.hpp"
#include "support/records.hpp"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zanst::bus::Bytes;
using Clock = std::chrono::steady_clock;
namespace test = zanst::test;

struct Scenario {
    const char* name;
    int presetListIndex;
    const char* batteries;
    Bytes request;
    std::size_t answerSize;
};

Bytes infoRequest() {
    Bytes payload(16, 0);
    zanst::bus::putLe16(payload, 0, 0xB00C);
    zanst::bus::putAscii(payload, 4, "BMS-0000042");
    return test::frame(0x01, payload, 0);
}

Bytes measurementRequest(int records) {
    Bytes out = test::frame(0x02, Bytes(20, 0x10), 2);
    for (int i = 1; i <= records; ++i) {
        const Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < records ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    int iterations = 400;
    const zanst::bench::OptionTable options{
        "The BMS tester's answer delay over a pseudo-terminal, the harness playing the BMS.",
        {{"--answers", "N", "answers timed per scenario, at least 10 (default 400)", &iterations, 10.0}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    QCoreApplication app(argc, argv);
    constexpr int kWarmup = 20;

    test::Pty pty;
    zanst::app::EngineHost host;
    zanst::app::BusEngine* engine = host.engine();
    bool open = false;
    host.runBlocking([&] {
        engine->ports()->selectPort(QString::fromStdString(pty.slavePath()));
        engine->modes()->selectMode(zanst::bus::Mode::BmsTester);
        open = engine->ports()->source().isOpen();
    });
    if (!open) {
        std::fprintf(stderr, "could not open %s\n", pty.slavePath().c_str());
        return 1;
    }

    const Scenario scenarios[] = {
        {"info, 4 records (1 x 0xA602)", 0, "1", infoRequest(), 10 + 22 + 4 * 32},
        {"info, 160 records (10 x 0xA612)", 12, "10", infoRequest(), 10 + 22 + 160 * 32},
        {"measurement, 4 records", 0, "1", measurementRequest(4), 10 + 26 + 4 * 12},
        {"measurement, 160 records", 12, "10", measurementRequest(160), 10 + 26 + 160 * 12},
    };

    std::printf("BMS tester answer latency over a pseudo-terminal, %d answers per scenario\n", iterations);
    std::printf("%-34s %10s %10s %10s | %12s %12s %12s\n", "scenario", "first p50", "first p99", "first max",
                "whole p50", "whole p99", "whole max");
    int failures = 0;
    for (const Scenario& s : scenarios) {
        zanst::emulator::BankSettings settings;
        settings.numBatText = s.batteries;
        settings.fwVersionIndex = 2;
        host.runBlocking([&] {
            engine->emulator()->setBankSettings(settings);
            engine->emulator()->applyBatteryPreset(s.presetListIndex, false);
        });
        // Measurement answers carry records only after an info exchange.
        pty.write(infoRequest());
        pty.readFor(50ms);

        const Bytes head(s.request.begin(), s.request.end() - 1);
        const Bytes last(s.request.end() - 1, s.request.end());
        std::vector<double> first;
        std::vector<double> whole;
        for (int i = 0; i < iterations + kWarmup; ++i) {
            pty.write(head);
            std::this_thread::sleep_for(2ms); // the earlier bytes are in, as on a real line
            const auto t0 = Clock::now();
            pty.write(last);
            const auto t1 = pty.waitForByte(1000ms);
            const Bytes answer = pty.read(s.answerSize, 1000ms);
            const auto t2 = Clock::now();
            if (t1 == Clock::time_point::max() || answer.size() != s.answerSize) {
                std::fprintf(stderr, "%s: answer %zu of %zu bytes\n", s.name, answer.size(), s.answerSize);
                ++failures;
                pty.readFor(100ms);
                continue;
            }
            if (i >= kWarmup) {
                first.push_back(micros(t1 - t0));
                whole.push_back(micros(t2 - t1));
            }
            std::this_thread::sleep_for(1ms);
        }
        if (first.empty()) {
            continue;
        }
        std::printf("%-34s %8.0fus %8.0fus %8.0fus | %10.0fus %10.0fus %10.0fus\n", s.name,
                    percentile(first, 0.5), percentile(first, 0.99), percentile(first, 1.0),
                    percentile(whole, 0.5), percentile(whole, 0.99), percentile(whole, 1.0));
    }
    std::printf("goals: first byte p99 < 2000us; whole 160-record answer within 5000us of its first byte\n");
    host.runBlocking([&] { engine->shutdown(); });
    return failures == 0 ? 0 : 1;
}
