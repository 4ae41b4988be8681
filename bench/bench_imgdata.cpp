// Row and column reads from a loaded projection: the sinogram builder fetches one line from
// every image of a set for every slice, so the per-pixel cost of hLine/vLine matters. The
// figures are per pixel delivered ("ns_per_pixel").
#include "ImgData.h"
#include "ItexWriter.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

const int Side = 2048;

// One 2048 x 2048 file per pixel width, written and loaded once for all benchmarks.
ImgData *reader(int bytesPerPixel)
{
    struct Loaded
    {
        QTemporaryDir dir;
        std::unique_ptr<ImgData> d16, d32;
    };
    static Loaded *loaded = [] {
        auto *l = new Loaded;
        std::vector<quint32> px(size_t(Side) * Side);
        for (size_t i = 0; i < px.size(); ++i)
            px[i] = quint32(i * 2654435761u);
        std::vector<quint16> px16(px.begin(), px.end());
        const QString f16 = l->dir.filePath("bench16.img");
        const QString f32 = l->dir.filePath("bench32.img");
        writeItexFile(f16, Side, Side, 2, px16.data());
        writeItexFile(f32, Side, Side, 4, px.data());
        l->d16.reset(ImgData::create(0));
        l->d16->fileName = f16;
        l->d16->load();
        l->d32.reset(ImgData::create(0));
        l->d32->fileName = f32;
        l->d32->load();
        return l;
    }();
    return bytesPerPixel == 2 ? loaded->d16.get() : loaded->d32.get();
}

void perPixel(benchmark::State &state, qint64 pixelsPerIteration)
{
    state.counters["ns_per_pixel"] = benchmark::Counter(double(pixelsPerIteration) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_hLine(benchmark::State &state)
{
    const ImgData *d = reader(int(state.range(0)));
    if (!d || !d->ready) {
        state.SkipWithError("could not load the image");
        return;
    }
    std::vector<double> out(size_t(d->width));
    int y = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(d->hLine(y, out.data()));
        benchmark::ClobberMemory();
        y = (y + 1) % d->height;
    }
    perPixel(state, d->width);
}

void BM_vLine(benchmark::State &state)
{
    const ImgData *d = reader(int(state.range(0)));
    if (!d || !d->ready) {
        state.SkipWithError("could not load the image");
        return;
    }
    std::vector<double> out(size_t(d->height));
    int x = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(d->vLine(x, out.data()));
        benchmark::ClobberMemory();
        x = (x + 1) % d->width;
    }
    perPixel(state, d->height);
}

} // namespace

BENCHMARK(BM_hLine)->Arg(2)->Arg(4)->ArgName("bytesPerPixel");
BENCHMARK(BM_vLine)->Arg(2)->Arg(4)->ArgName("bytesPerPixel");
