// Speed of the single-slice panel's "At Once" back-projection, spread over the processor's
// cores: ns per pixel-update (pixels inside the inscribed circle times projections) and the
// wall time of a whole 2048-wide slice, against the same pass on one thread.
#include "CtBackProj.h"
#include "BenchSinogram.h"
#include "HSgm.h"
#include "ParallelBackProj.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {


// Arguments: slice width N, projections, threads (0: every hardware thread).
void BM_AtOnce(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    const int threads = static_cast<int>(state.range(2));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    CtBackProj engine;
    engine.setup(n, rows);
    for (int i = 0; i < rows; ++i)
        engine.fftRow(sgm.sgmRow(i), i);
    for (int i = 0; i < rows; ++i)
        engine.filterRow(i);
    const double step = std::numbers::pi / rows;
    for (auto _ : state) {
        engine.initResult(n);
        backProjectParallel(engine, rows, 0, n, 0, n, 0.0, step, threads);
        benchmark::DoNotOptimize(engine.resultData());
    }
    const double g = n / 2.0;
    const double updates = std::numbers::pi * g * g * rows;
    state.counters["per_update"] = benchmark::Counter(
        updates, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_AtOnce)
    ->Args({ 512, 360, 1 })
    ->Args({ 512, 360, 0 })
    ->Args({ 2048, 900, 1 })
    ->Args({ 2048, 900, 0 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
