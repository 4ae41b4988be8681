// Speed of the CT image data file text: the whole-file writer over a realistic 2048 x 2048
// slice, the number formatter alone, and the text stream it replaces, all in bytes of text
// per second.
#include "CtImageData.h"

#include <QByteArray>
#include <QTextStream>

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

void BM_CtImageDataFile(benchmark::State &state)
{
    const int n = int(state.range(0));
    const std::vector<double> v = sliceValues(n);
    qint64 bytes = 0;
    for (auto _ : state) {
        QByteArray file = makeCtImageData(v.data(), n, n, 0, 0, n, n, -10, 10, 10);
        bytes += file.size();
        benchmark::DoNotOptimize(file.data());
    }
    state.SetBytesProcessed(bytes);
    state.counters["ns/line"] = benchmark::Counter(double(state.iterations()) * n * n,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CtImageDataFile)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_WriteStreamDouble(benchmark::State &state)
{
    const std::vector<double> v = sliceValues(256);
    std::vector<char> out(v.size() * 16);
    qint64 bytes = 0;
    for (auto _ : state) {
        char *p = out.data();
        for (double x : v)
            p = writeStreamDouble(p, x + 10.0);
        bytes += p - out.data();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(qint64(state.iterations()) * qint64(v.size()));
}
BENCHMARK(BM_WriteStreamDouble);

// The text stream the writer must match, as the baseline.
void BM_QTextStreamDouble(benchmark::State &state)
{
    const std::vector<double> v = sliceValues(256);
    qint64 bytes = 0;
    for (auto _ : state) {
        QByteArray b;
        QTextStream s(&b);
        for (double x : v)
            s << x + 10.0 << '\n';
        s.flush();
        bytes += b.size();
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(qint64(state.iterations()) * qint64(v.size()));
}
BENCHMARK(BM_QTextStreamDouble);

} // namespace
