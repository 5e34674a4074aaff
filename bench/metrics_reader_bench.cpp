// The metrics file reader on a file of nine instances (the most a file holds when line 1 keeps
// the width it had at creation): the first and the last instance, from memory and from the file.

#include "metrics/files.hpp"
#include "support/sim_process.hpp"

#include <benchmark/benchmark.h>

#include <sstream>

namespace {

using namespace zanst;

metrics::MetricsMetadata instance(int n) {
    metrics::MetricsMetadata m;
    m.instanceNumber = static_cast<std::uint16_t>(n);
    m.secsLifeSpan = 31536000u + 86400u * static_cast<std::uint32_t>(n);
    m.cyclesBeforeEOL = 5000;
    std::uint32_t v = 12345;
    for (auto& byTemperature : m.timeMatrix) {
        for (auto& byCRate : byTemperature) {
            for (auto& seconds : byCRate) {
                seconds = v;
                v = v * 7 + 13;
            }
        }
    }
    return m;
}

struct NineInstances {
    NineInstances() {
        metrics::MetricsFileStore store(dir.path());
        std::tm stamp{};
        stamp.tm_year = 125;
        for (int n = 1; n <= 9; ++n) {
            store.storeMetricsInActiveFile(instance(n), stamp);
        }
        path = store.activeMetricsFileName();
        content = test::readFile(path.string());
    }
    test::TempDir dir;
    std::filesystem::path path;
    std::string content;
};

NineInstances& file() {
    static NineInstances f;
    return f;
}

void BM_ReadFromMemory(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::istringstream in(file().content);
        const metrics::MetricsFileRead read = metrics::readMetricsInstance(in, which);
        benchmark::DoNotOptimize(read.view);
        if (!read.view) {
            state.SkipWithError(read.reason.c_str());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(file().content.size()));
}
BENCHMARK(BM_ReadFromMemory)->Arg(1)->Arg(9);

void BM_ReadFromFile(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const metrics::MetricsFileRead read = metrics::readMetricsInstance(file().path, which);
        benchmark::DoNotOptimize(read.view);
        if (!read.view) {
            state.SkipWithError(read.reason.c_str());
        }
    }
}
BENCHMARK(BM_ReadFromFile)->Arg(1)->Arg(9);

} // namespace
