// Sample-data generation: exact projections of the head phantom and their conversion to
// noisy 16-bit counts. Figures are per detector pixel.
#include "Phantom.h"
#include "Projector.h"

#include <benchmark/benchmark.h>

#include <cmath>

static void BM_ProjectHead(benchmark::State &state)
{
    DetectorGeometry det;
    det.width = det.height = int(state.range(0));
    const Phantom p = Phantom::head(det);
    std::vector<double> lines(size_t(det.width) * det.height);
    double theta = 0;
    for (auto _ : state) {
        p.projectLines(det, theta, 0.0, lines.data());
        benchmark::DoNotOptimize(lines.data());
        theta += 0.01;
    }
    state.SetItemsProcessed(state.iterations() * int64_t(lines.size()));
}
BENCHMARK(BM_ProjectHead)->Arg(256)->Arg(1024);

static void BM_CountsWithNoise(benchmark::State &state)
{
    Projector proj;
    proj.detector.width = proj.detector.height = 256;
    proj.noise = state.range(0) != 0;
    const size_t n = 256 * 256;
    std::vector<double> lines(n);
    for (size_t i = 0; i < n; ++i)
        lines[i] = 1.5 * double(i % 256) / 256.0;
    std::vector<quint16> pixels(n);
    std::mt19937_64 rng(1);
    for (auto _ : state) {
        proj.toPixels(lines.data(), pixels.data(), rng);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}
BENCHMARK(BM_CountsWithNoise)->Arg(0)->Arg(1);
