// Speed of the single-slice panel's "At Once" back-projection, spread over the processor's
// cores: ns per pixel-update (pixels inside the inscribed circle times projections) and the
// wall time of a whole 2048-wide slice, against the same pass on one thread.
#include "CtBackProj.h"
#include "HSgm.h"
#include "ParallelBackProj.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {

// A few off-centre discs seen from every angle.
void fillSinogram(HSgm &sgm, int w, int rows)
{
    sgm.setSize(w, rows);
    const double c = (w - 1) / 2.0;
    for (int i = 0; i < rows; ++i) {
        const double th = i * std::numbers::pi / rows;
        double *row = sgm.sgmRow(i);
        for (int j = 0; j < w; ++j) {
            double v = 0.0;
            for (int d = 0; d < 3; ++d) {
                const double r = w * (0.08 + 0.05 * d);
                const double u = j - c - w * 0.15 * d * std::cos(th + d);
                if (std::abs(u) < r)
                    v += 2.0 * std::sqrt(r * r - u * u) * 0.001 * (d + 1);
            }
            row[j] = v;
            sgm.rawRow(i)[j] = std::exp(-v);
        }
    }
}

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
