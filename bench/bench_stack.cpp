// The stack step of a CT-XAFS series: 34 energies of n^3 voxels (float TIFF slices, as a
// series run writes them, with a known drift per energy) stacked into one HDF5 file, plain
// and aligned. Figures per voxel of the stack and in MB/s of slice data. The series is
// written once per size, outside the timing; the files are then likely in the page cache,
// so the figures are those of a warm disk.
//   bench_stack --benchmark_filter=/64     quick
//   bench_stack --benchmark_filter=/256    the full 34 x 256^3 series (2.2 GB of slices)
#include "CtTiffData.h"
#include "SeriesTree.h"
#include "StackBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kEnergies = 34;

// A folder per energy of n slices of n x n: a few grains in a matrix, drifting by up to
// 2 px between energies.
struct Series
{
    QTemporaryDir dir;
    QString root;
    bool ok = true;

    explicit Series(int n)
    {
        root = dir.filePath("series");
        std::vector<float> slice(size_t(n) * n);
        for (int k = 0; k < kEnergies && ok; ++k) {
            const double dz = 1.5 * std::sin(0.7 * k), dy = 2.0 * std::cos(0.4 * k), dx = 0.1 * k;
            const QString tag = QString("%1_0eV").arg(7070 + 4 * k, 5, 10, QChar('0'));
            const QString folder = root + "/" + tag;
            ok = QDir().mkpath(folder);
            for (int s = 0; s < n && ok; ++s) {
                for (int y = 0; y < n; ++y)
                    for (int x = 0; x < n; ++x) {
                        const double pz = s - n / 2.0 - dz, py = y - n / 2.0 - dy,
                                     px = x - n / 2.0 - dx;
                        double v = (px * px + py * py < 0.16 * n * n) ? 0.01 : 0.0;
                        for (int g = 0; g < 6; ++g) {
                            const double gz = pz - 0.1 * n * (g - 2.5),
                                         gy = py - 0.08 * n * (g % 3 - 1),
                                         gx = px + 0.07 * n * (g % 2 - 0.5);
                            v += (0.02 + 0.002 * g * (k > 12))
                                * std::exp(-(gz * gz + gy * gy + gx * gx) / (0.002 * n * n + 2));
                        }
                        slice[size_t(y) * n + x] = float(v);
                    }
                const QByteArray bytes
                    = CtTiffData::encode(slice.data(), n, n, "Vexa2 reconstructed slice", false);
                QFile f(QString("%1/%2-%3.tif").arg(folder, tag).arg(s, 5, 10, QChar('0')));
                ok = f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
            }
        }
    }
};

Series &seriesOf(int n)
{
    static std::map<int, std::unique_ptr<Series>> made;
    auto &s = made[n];
    if (!s)
        s = std::make_unique<Series>(n);
    return *s;
}

void runStack(benchmark::State &state, bool align)
{
    const int n = int(state.range(0));
    Series &series = seriesOf(n);
    SeriesTree tree;
    QString error;
    if (!series.ok || !tree.scan(series.root, 10, &error)) {
        state.SkipWithError("cannot make the series");
        return;
    }
    StackBuilder::Options options;
    options.output = series.dir.filePath("stack.h5");
    options.align = align;
    StackBuilder::Result result;
    double measure = 0;
    for (auto _ : state) {
        if (!StackBuilder().build(tree, options, result, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        measure += result.measureSeconds;
    }
    const double voxels = double(kEnergies) * n * n * n;
    state.SetBytesProcessed(int64_t(state.iterations() * voxels * 4));
    state.counters["Mvoxel/s"]
        = benchmark::Counter(voxels * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
    if (align)
        state.counters["measure s"] = measure / double(state.iterations());
}

void BM_Stack(benchmark::State &state)
{
    runStack(state, false);
}
BENCHMARK(BM_Stack)->Arg(64)->Arg(256)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void BM_StackAligned(benchmark::State &state)
{
    runStack(state, true);
}
BENCHMARK(BM_StackAligned)
    ->Arg(64)
    ->Arg(256)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
