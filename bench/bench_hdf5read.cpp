// Reading projections: one image at a time from a DXchange HDF5 file (uint16, one
// gzip-compressed chunk per projection) against the same images as ITEX files, both from
// the page cache, through the readers the image set uses. Figures per image.
//
// The set is P projections of 1024 x 1024 pixels, P = VEXA_BENCH_PROJECTIONS (default 64;
// 900 gives the full-size set, 1.9 GB per format in the temporary folder).
//
// The "Cold" variants first empty the page cache (root only) and read every image once, from
// the disk, as a first pass over a freshly copied data set does.
#include "DxchangeFile.h"
#include "DxchangeWriter.h"
#include "ImgData.h"
#include "ItexWriter.h"

#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int Side = 1024;

struct Set
{
    QTemporaryDir dir;
    int projections = 64;
    QStringList itexFiles;
    QString hdf5File;
    bool ok = false;

    Set()
    {
        bool fine = false;
        const int p = qEnvironmentVariableIntValue("VEXA_BENCH_PROJECTIONS", &fine);
        if (fine && p > 0)
            projections = p;
        hdf5File = dir.filePath("set.h5");
        DxchangeWriter writer;
        QString error;
        if (!writer.create(hdf5File, projections, Side, Side, 4, &error))
            return;
        // Camera-like counts: a smooth object with photon noise, so that gzip finds what it
        // finds in measured data.
        std::mt19937_64 gen(3);
        std::vector<quint16> pixels(size_t(Side) * Side);
        for (int i = 0; i < projections; ++i) {
            for (int y = 0; y < Side; ++y) {
                for (int x = 0; x < Side; ++x) {
                    const double mean
                        = 20000.0 + 8000.0 * std::sin((x + 7 * i) / 60.0) * std::cos(y / 85.0);
                    std::normal_distribution<double> noise(mean, std::sqrt(mean));
                    pixels[size_t(y) * Side + x] = quint16(std::lround(noise(gen)));
                }
            }
            const QString name = dir.filePath(QString("p-%1.img").arg(i, 5, 10, QChar('0')));
            if (!writeItexFile(name, Side, Side, 2, pixels.data(), 1.0)
                || !writer.writeProjection(i, pixels.data(), &error))
                return;
            itexFiles << name;
        }
        ok = writer.close(&error);
    }
};

Set &set()
{
    static Set s;
    return s;
}

void loadEach(benchmark::State &state, const QStringList &names)
{
    qint64 i = 0;
    for (auto _ : state) {
        const QString &name = names[int(i++ % names.size())];
        std::unique_ptr<ImgData> img(ImgData::create(ImgData::fileType(name)));
        img->fileName = name;
        if (!img->load()) {
            state.SkipWithError("cannot load");
            break;
        }
        benchmark::DoNotOptimize(img.get());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * Side * Side * 2);
    state.counters["images"] = double(names.size());
}

// Writes back and drops the page cache; false without the right to.
bool dropPageCache()
{
    ::sync();
    QFile f("/proc/sys/vm/drop_caches");
    return f.open(QIODevice::WriteOnly) && f.write("3\n") == 2;
}

void coldPass(benchmark::State &state, const QStringList &names)
{
    if (!set().ok) {
        state.SkipWithError("cannot write the test set");
        return;
    }
    if (!dropPageCache()) {
        state.SkipWithError("needs root to drop the page cache");
        return;
    }
    loadEach(state, names);
}

void BM_ReadItexImageCold(benchmark::State &state)
{
    coldPass(state, set().itexFiles);
}
BENCHMARK(BM_ReadItexImageCold)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(64);

void BM_ReadHdf5GzipImageCold(benchmark::State &state)
{
    QString error;
    const DxchangeFile::SourcePtr keep = DxchangeFile::open(set().hdf5File, &error);
    coldPass(state, DxchangeFile::projectionAddresses(set().hdf5File, set().projections));
}
BENCHMARK(BM_ReadHdf5GzipImageCold)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(64);

void BM_ReadItexImage(benchmark::State &state)
{
    if (!set().ok) {
        state.SkipWithError("cannot write the test set");
        return;
    }
    loadEach(state, set().itexFiles);
}
BENCHMARK(BM_ReadItexImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadHdf5GzipImage(benchmark::State &state)
{
    if (!set().ok) {
        state.SkipWithError("cannot write the test set");
        return;
    }
    // As in a loaded set, the file stays open while its images are read.
    QString error;
    const DxchangeFile::SourcePtr keep = DxchangeFile::open(set().hdf5File, &error);
    loadEach(state, DxchangeFile::projectionAddresses(set().hdf5File, set().projections));
}
BENCHMARK(BM_ReadHdf5GzipImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
