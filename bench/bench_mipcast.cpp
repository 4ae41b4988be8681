// Speed of the 3D view's ray caster: one maximum-intensity picture of a 256^3 set, reported
// per sample (picture pixels x slices), on one thread and on all, for the initial view and an
// oblique one, with and without the cutting plane.
#include "MipRenderer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kSide = 256;

const std::vector<double> &volume()
{
    static const std::vector<double> v = [] {
        std::vector<double> d(size_t(kSide) * kSide * kSide);
        for (size_t i = 0; i < d.size(); ++i)
            d[i] = std::sin(double(i % 9973) * 0.01) + 0.1 * double(i % 7);
        return d;
    }();
    return v;
}

MipVolume mipVolume()
{
    MipVolume m;
    m.sw = kSide;
    m.sh = kSide;
    for (int j = 0; j < kSide; ++j)
        m.slices.push_back(volume().data() + size_t(j) * kSide * kSide);
    return m;
}

// range(0): picture side; range(1): threads (0 = all); range(2): 1 oblique view;
// range(3): 1 cutting plane on.
void BM_mipPicture(benchmark::State &state)
{
    const int side = int(state.range(0));
    const int threads = int(state.range(1));
    const MipVolume vol = mipVolume();
    MipView view;
    if (state.range(2)) {
        const Vec3 axis(0.6, 0.8, 0);
        view.nx = view.nx.rotated(axis, 0.5);
        view.ny = view.ny.rotated(axis, 0.5);
        view.nz = view.nz.rotated(axis, 0.5);
    }
    view.scale = double(kSide) / side;
    MipStyle style;
    style.thLow = -0.5;
    style.thHigh = 1.4;
    style.cut = state.range(3) != 0;
    style.csNormal = view.nz;
    style.cutB = 10;
    std::vector<QRgb> out(size_t(side) * side);
    for (auto _ : state) {
        MipRenderer::render(vol, view, style, side, side, out.data(), threads);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(side) * side * kSide);
    state.counters["ns_per_sample"] = benchmark::Counter(double(side) * side * kSide,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_mipPicture)
    ->ArgNames({ "side", "threads", "oblique", "cut" })
    ->Args({ 256, 1, 0, 0 })
    ->Args({ 256, 1, 1, 0 })
    ->Args({ 256, 1, 1, 1 })
    ->Args({ 256, 0, 1, 0 })
    ->Args({ 512, 0, 1, 1 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
