// Cost of saving one reconstructed slice: the CT image data text file against the 32-bit
// float TIFF file (plain and deflated), each composed in memory and written whole into a
// temporary folder as the saver does. Figures per slice and in pixels per second.
#include "CtImageData.h"
#include "CtTiffData.h"
#include "WholeFile.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

// Attenuation-like values: mostly small, some negative, a few outside the limits.
std::vector<double> sliceValues(int n)
{
    std::mt19937_64 gen(7);
    std::normal_distribution<double> noise(0.02, 0.5);
    std::vector<double> v(size_t(n) * n);
    for (double &x : v)
        x = noise(gen);
    return v;
}

void report(benchmark::State &state, int n, qint64 bytes)
{
    state.SetBytesProcessed(bytes);
    state.counters["pixels/s"]
        = benchmark::Counter(double(state.iterations()) * n * n, benchmark::Counter::kIsRate);
    state.counters["file MB"] = double(bytes) / double(state.iterations()) / 1e6;
}

void BM_SaveTextDataFile(benchmark::State &state)
{
    const int n = int(state.range(0));
    const std::vector<double> v = sliceValues(n);
    QTemporaryDir dir;
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray file = makeCtImageData(v.data(), n, n, 0, 0, n, n, -10, 10, 10);
        if (!saveWholeFile(dir.filePath("slice-00000.dat"), file))
            state.SkipWithError("cannot write");
        bytes += file.size();
    }
    report(state, n, bytes);
}
BENCHMARK(BM_SaveTextDataFile)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveFloatTiff(benchmark::State &state)
{
    const int n = int(state.range(0));
    const bool zlib = state.range(1) != 0;
    const std::vector<double> v = sliceValues(n);
    CtTiffData::Info info;
    info.slice = 1024;
    info.cor = 1023.5;
    info.x1 = n;
    info.z1 = n;
    info.method = "filtered back-projection";
    info.filter = "ramp";
    QTemporaryDir dir;
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray file = CtTiffData::make(v.data(), n, n, info, zlib);
        if (file.isEmpty() || !saveWholeFile(dir.filePath("slice-00000.tif"), file))
            state.SkipWithError("cannot write");
        bytes += file.size();
    }
    report(state, n, bytes);
}
BENCHMARK(BM_SaveFloatTiff)
    ->Args({ 2048, 0 })
    ->Args({ 2048, 1 })
    ->ArgNames({ "n", "zlib" })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
