// Speed of the filtered back-projection: ns per pixel-update (pixels inside the inscribed
// circle times projections) of the back-projection alone, and the time of a whole slice.
#include "BenchSinogram.h"
#include "CtBackProj.h"
#include "CtGridding.h"
#include "HSgm.h"
#include "RingRemoval.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

long long circlePixels(int n)
{
    const int g = n / 2;
    long long count = 0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            if ((x - g) * (x - g) + (z - g) * (z - g) < g * g)
                ++count;
    return count;
}

void backProjectAll(benchmark::State &state, CtBackProj::Path path)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    CtBackProj engine;
    if (!engine.setPath(path)) {
        state.SkipWithError("this processor cannot run the loop");
        return;
    }
    state.SetLabel(CtBackProj::pathName(path));
    engine.setup(n, rows);
    for (int i = 0; i < rows; ++i)
        engine.fftRow(sgm.sgmRow(i), i);
    for (int i = 0; i < rows; ++i)
        engine.filterRow(i);
    const double step = std::numbers::pi / rows;
    for (auto _ : state) {
        engine.initResult(n);
        engine.backProjectAll(rows, 0, n, 0, n, 0.0, step);
        benchmark::DoNotOptimize(engine.resultData());
    }
    const double updates = static_cast<double>(circlePixels(n)) * rows;
    // Seconds per pixel-update (printed with an SI prefix: "n" is ns).
    state.counters["per_update"] = benchmark::Counter(
        updates, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The loop the engine picks on this processor.
void BM_BackProjectAll(benchmark::State &state)
{
    backProjectAll(state, CtBackProj::bestPath());
}

// Each loop on its own, for processors with less than this one.
void BM_BackProjectPortable(benchmark::State &state)
{
    backProjectAll(state, CtBackProj::Path::Portable);
}

void BM_BackProjectAvx2(benchmark::State &state)
{
    backProjectAll(state, CtBackProj::Path::Avx2);
}

void BM_BackProjectAvx512(benchmark::State &state)
{
    backProjectAll(state, CtBackProj::Path::Avx512);
}

// Projection by projection, as the single-slice panel does it when it redraws after each.
void BM_BackProjectOneByOne(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
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
        for (int i = 0; i < rows; ++i)
            engine.backProject(i, 0, n, 0, n, 0.0, step);
        benchmark::DoNotOptimize(engine.resultData());
    }
    const double updates = static_cast<double>(circlePixels(n)) * rows;
    // Seconds per pixel-update (printed with an SI prefix: "n" is ns).
    state.counters["per_update"] = benchmark::Counter(
        updates, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// For comparison: the back-projection written straight from its formula (a square root
// per pixel for the circle, floor, a bounds test), over the same filtered rows.
void BM_PlainFormula(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    CtBackProj engine;
    engine.setup(n, rows);
    std::vector<double> filtered(static_cast<std::size_t>(n) * rows);
    for (int i = 0; i < rows; ++i) {
        engine.fftRow(sgm.sgmRow(i), i);
        engine.filterRow(i);
        for (int k = 0; k < n; ++k)
            filtered[static_cast<std::size_t>(i) * n + k] = engine.filtered(i, k);
    }
    std::vector<double> result(static_cast<std::size_t>(n) * n);
    const double g = n / 2;
    for (auto _ : state) {
        std::fill(result.begin(), result.end(), 0.0);
        for (int i = 0; i < rows; ++i) {
            const double theta = i * std::numbers::pi / rows;
            const double c = std::cos(theta), s = std::sin(theta);
            const double *f = filtered.data() + static_cast<std::size_t>(i) * n;
            for (int z = 0; z < n; ++z)
                for (int x = 0; x < n; ++x) {
                    if (!(std::sqrt((x - g) * (x - g) + (z - g) * (z - g)) < g))
                        continue;
                    const double t = (x - g) * c - (z - g) * s + g;
                    const double k = std::floor(t);
                    if (k >= 0 && k < n - 1) {
                        const int ki = static_cast<int>(k);
                        result[static_cast<std::size_t>(z) * n + x]
                            += f[ki] + (f[ki + 1] - f[ki]) * (t - k);
                    }
                }
        }
        benchmark::DoNotOptimize(result.data());
    }
    const double updates = static_cast<double>(circlePixels(n)) * rows;
    state.counters["per_update"] = benchmark::Counter(
        updates, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Arguments: n, rows, filter (index of CtFilterKind).
CtFilterKind filterArg(const benchmark::State &state)
{
    return static_cast<CtFilterKind>(state.range(2));
}

// Forward transforms, filters and back-projection of a whole slice (engine already sized).
void BM_WholeSlice(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    CtBackProj engine;
    engine.setup(n, rows);
    engine.setFilter(filterArg(state));
    state.SetLabel(CtFilter::name(filterArg(state)).toStdString());
    const double step = std::numbers::pi / rows;
    for (auto _ : state) {
        engine.reconstruct(sgm, 0, n, 0, n, 0.0, step);
        benchmark::DoNotOptimize(engine.resultData());
    }
}

// The same slice by Fourier gridding (engine already sized): from the sinogram rows to the
// N x N result, like BM_WholeSlice.
void BM_WholeSliceGridding(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    CtGridding engine;
    engine.setup(n, rows);
    const double step = std::numbers::pi / rows;
    for (auto _ : state) {
        engine.reconstruct(sgm, 0, n, 0, n, 0.0, step);
        benchmark::DoNotOptimize(engine.resultData());
    }
}

// The transforms and filters alone.
void BM_FilterRows(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    CtBackProj engine;
    engine.setup(n, rows);
    engine.setFilter(filterArg(state));
    state.SetLabel(CtFilter::name(filterArg(state)).toStdString());
    for (auto _ : state) {
        for (int i = 0; i < rows; ++i)
            engine.fftRow(sgm.sgmRow(i), i);
        for (int i = 0; i < rows; ++i)
            engine.filterRow(i);
    }
}

// Ring removal of a whole sinogram at level state.range(2): the discs of fillSinogram with a
// stripe of 1 % gain every 97 columns (one pixel, or a band of the level's width every other
// time), so that both the search and the measuring of stripes are timed. A copy is restored
// before each pass; the copy is timed apart and subtracted.
void BM_RingRemoval(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    const int level = static_cast<int>(state.range(2));
    HSgm sgm;
    fillSinogram(sgm, n + 1, rows);
    const double offset = -std::log(1.01);
    for (int c = 40, k = 0; c + level < n; c += 97, ++k)
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < (k % 2 == 0 ? 1 : level); ++j)
                sgm.sgmRow(i)[c + j] += offset;
    const size_t size = size_t(n + 1) * rows;
    std::vector<double> work(sgm.sgm.get(), sgm.sgm.get() + size);
    RingRemoval rings;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(sgm.sgm.get(), sgm.sgm.get() + size, work.begin());
        state.ResumeTiming();
        rings.apply(work.data(), n + 1, rows, level);
        benchmark::DoNotOptimize(work.data());
    }
}

} // namespace

BENCHMARK(BM_RingRemoval)
    ->Args({ 1024, 900, 2 })
    ->Args({ 2048, 1800, 2 })
    ->Args({ 2048, 1800, 8 })
    ->Args({ 2048, 1800, 20 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BackProjectAll)
    ->Args({ 1024, 900 })
    ->Args({ 2048, 1800 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BackProjectPortable)
    ->Args({ 1024, 900 })
    ->Args({ 2048, 1800 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BackProjectAvx2)
    ->Args({ 1024, 900 })
    ->Args({ 2048, 1800 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BackProjectAvx512)
    ->Args({ 1024, 900 })
    ->Args({ 2048, 1800 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_PlainFormula)
    ->Args({ 1024, 900 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BackProjectOneByOne)
    ->Args({ 1024, 900 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
// The plain ramp, the padded ramp and a windowed one.
BENCHMARK(BM_WholeSlice)
    ->Args({ 1024, 900, 0 })
    ->Args({ 1024, 900, 1 })
    ->Args({ 1024, 900, 5 })
    ->Args({ 2048, 1800, 0 })
    ->Args({ 2048, 1800, 1 })
    ->Args({ 2048, 1800, 5 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_WholeSliceGridding)
    ->Args({ 1024, 900 })
    ->Args({ 2048, 1800 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_FilterRows)
    ->Args({ 1024, 900, 0 })
    ->Args({ 1024, 900, 1 })
    ->Args({ 2048, 1800, 0 })
    ->Args({ 2048, 1800, 1 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
