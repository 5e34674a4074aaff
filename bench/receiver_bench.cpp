// Master-side receiver throughput on realistic bursts, against the line rate of 25,000 bytes/s.

#include "bus/master_receiver.hpp"
#include "support/records.hpp"

#include <benchmark/benchmark.h>

namespace {

using zanst::bus::Bytes;
namespace test = zanst::test;

constexpr double kLineBytesPerSecond = 25000.0;

// An info answer for `cells` balancers in batteries of 16, as it comes back around the ring.
Bytes infoBurst(int cells) {
    Bytes burst = test::frame(0x01, Bytes(16, 0), 1);
    for (int i = 1; i <= cells; ++i) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(i);
        f.flags = (i % 4 == 1) ? 0x01 : (i % 4 == 3 ? 0x03 : 0x00);
        f.serial = "HQ2200A612" + std::string(1, static_cast<char>('1' + (i - 1) / 16));
        f.following = i < cells ? 1 : 0;
        const Bytes r = test::infoRecord(f);
        burst.insert(burst.end(), r.begin(), r.end());
    }
    return burst;
}

// A measurement poll with its records, as it comes back.
Bytes measurementBurst(int cells) {
    Bytes burst = test::frame(0x02, Bytes(20, 0x11), 2);
    for (int i = 1; i <= cells; ++i) {
        const Bytes r =
            test::measurementRecord(static_cast<std::uint16_t>(i), 0x40,
                                    test::measurementWord(3300 + i % 40, -1500), 0x1900, i < cells ? 2 : 0);
        burst.insert(burst.end(), r.begin(), r.end());
    }
    return burst;
}

void run(benchmark::State& state, const Bytes& burst) {
    zanst::bus::BusState bus;
    zanst::bus::MasterReceiver rx(bus);
    for (auto _ : state) {
        for (auto b : burst) {
            rx.feed(b);
        }
        benchmark::DoNotOptimize(bus.numCells);
    }
    const auto bytes = static_cast<double>(state.iterations()) * static_cast<double>(burst.size());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["x_line_rate"] =
        benchmark::Counter(bytes / kLineBytesPerSecond, benchmark::Counter::kIsRate);
}

void BM_InfoAnswer160(benchmark::State& state) {
    run(state, infoBurst(160));
}
void BM_MeasurementAnswer160(benchmark::State& state) {
    run(state, measurementBurst(160));
}
void BM_MixedPollCycle(benchmark::State& state) {
    Bytes burst = infoBurst(160);
    for (int i = 0; i < 4; ++i) {
        const Bytes m = measurementBurst(160);
        burst.insert(burst.end(), m.begin(), m.end());
    }
    run(state, burst);
}

BENCHMARK(BM_InfoAnswer160);
BENCHMARK(BM_MeasurementAnswer160);
BENCHMARK(BM_MixedPollCycle);

} // namespace
