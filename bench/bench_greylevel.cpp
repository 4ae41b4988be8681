// Speed of turning values into grey pictures through the colour bar's mapping: ns per
// pixel for one level() call per pixel and for whole rows into a Format_Grayscale8 picture.
#include "GreyLevelMap.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<double> values(int n)
{
    std::vector<double> v(static_cast<size_t>(n) * n);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = std::sin(i * 0.001) * 1.3; // spans below, inside and above the range
    return v;
}

void BM_levelPerPixel(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> v = values(n);
    const GreyLevelMap map { -1, 1, 0.1, 0.9 };
    std::vector<uchar> out(v.size());
    for (auto _ : state) {
        for (size_t i = 0; i < v.size(); ++i)
            out[i] = static_cast<uchar>(map.level(v[i]));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}

void BM_greyImage(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> v = values(n);
    const GreyLevelMap map { -1, 1, 0.1, 0.9 };
    for (auto _ : state) {
        QImage img = map.greyImage(v.data(), n, n);
        benchmark::DoNotOptimize(img.constBits());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(v.size() * sizeof(double)));
}

} // namespace

BENCHMARK(BM_levelPerPixel)->Arg(512)->Arg(2048);
BENCHMARK(BM_greyImage)->Arg(512)->Arg(2048);
