// What answering costs the simulator itself, without the pseudo-terminal: one poll of a full
// bank of 160 balancers, cut from bytes and answered.

#include "sim/frame_receiver.hpp"
#include "sim/simulated_bank.hpp"
#include "support/records.hpp"

#include <benchmark/benchmark.h>

namespace {

using zanst::bus::Bytes;
namespace sim = zanst::sim;
namespace test = zanst::test;

constexpr int kCells = 160;

Bytes measurementPoll() {
    Bytes payload(20, 0);
    payload[0] = 0x48;
    payload[1] = 0x0D;
    Bytes out = test::concat({Bytes(10, 0), test::frame(0x02, payload, 2)});
    for (int i = 1; i <= kCells; ++i) {
        const Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < kCells ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

sim::BankConfig fullBank() {
    sim::BankConfig c;
    c.preset = *sim::findPreset(0xA612);
    c.batteries = 10;
    c.currentA = 20;
    return c;
}

// Bytes in, answer out, the clock moving one second per poll as with the tool.
void BM_MeasurementPoll160(benchmark::State& state) {
    sim::TimePoint now{};
    sim::Bank bank(fullBank(), now);
    sim::FrameReceiver rx;
    const Bytes poll = measurementPoll();
    std::size_t out = 0;
    for (auto _ : state) {
        now += std::chrono::seconds(1);
        for (std::uint8_t b : poll) {
            if (rx.feed(b, now) == sim::FrameReceiver::Result::Complete) {
                out += bank.respond(rx.take().message, now).bytes.size();
            }
        }
    }
    benchmark::DoNotOptimize(out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(poll.size()));
}
BENCHMARK(BM_MeasurementPoll160)->Unit(benchmark::kMicrosecond);

void BM_InfoAnswer160(benchmark::State& state) {
    sim::TimePoint now{};
    sim::Bank bank(fullBank(), now);
    Bytes payload(16, 0);
    const sim::Message request{test::frame(0x01, payload, 0), {}, {}, {}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(bank.respond(request, now).bytes.data());
    }
}
BENCHMARK(BM_InfoAnswer160)->Unit(benchmark::kMicrosecond);

} // namespace

namespace {

// The ring-side receiver alone, cutting the same poll from its bytes.
void BM_ReceivePoll160(benchmark::State& state) {
    sim::FrameReceiver rx;
    const Bytes poll = measurementPoll();
    const sim::TimePoint now{};
    std::size_t records = 0;
    for (auto _ : state) {
        for (std::uint8_t b : poll) {
            if (rx.feed(b, now) == sim::FrameReceiver::Result::Complete) {
                records += rx.take().message.records.size();
            }
        }
    }
    benchmark::DoNotOptimize(records);
}
BENCHMARK(BM_ReceivePoll160)->Unit(benchmark::kMicrosecond);

} // namespace
