#include "Randomizator.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kFiles = 1000000;

// The file index re-inits the same object with its growing total after every scanning step.
void BM_RepeatedInit(benchmark::State& state) {
    Randomizator r;
    r.init(kFiles);
    for (auto _ : state) {
        r.init(kFiles);
        benchmark::DoNotOptimize(r.get_nb_value());
    }
}
BENCHMARK(BM_RepeatedInit)->Unit(benchmark::kMillisecond);

// One whole cycle: the reseed and shuffle at its start, then every value handed out once.
void BM_WholeCycle(benchmark::State& state) {
    Randomizator r;
    r.init(kFiles);
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i) {
            benchmark::DoNotOptimize(r.try_next());
            r.set_result(true);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_WholeCycle)->Unit(benchmark::kMillisecond);

} // namespace
