// Speed of reading slice files back for the 3D view: a 512 x 512 CT image data file as the
// reconstruction writes it, in MB/s of file text and ns per pixel.
#include "CtImageData.h"
#include "SliceData.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

void BM_readCtImageData(benchmark::State &state)
{
    const int n = int(state.range(0));
    std::vector<double> values(size_t(n) * n);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = std::sin(double(i) * 0.001) * 0.02;
    const QByteArray text = makeCtImageData(values.data(), n, n, 0, 0, n, n, -1e300, 1e300, 0.0);
    QTemporaryDir dir;
    const QString path = dir.filePath("slice.dat");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
        state.SkipWithError("cannot write the slice file");
        return;
    }
    f.close();
    for (auto _ : state) {
        SliceData s;
        if (!s.read(path)) {
            state.SkipWithError("slice file not read");
            return;
        }
        benchmark::DoNotOptimize(s.rows.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(text.size()));
    state.SetItemsProcessed(state.iterations() * int64_t(n) * n);
}

} // namespace

BENCHMARK(BM_readCtImageData)->Arg(512)->Unit(benchmark::kMillisecond);
