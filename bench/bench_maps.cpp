// Maps of a spectral stack against reading the same stack from the disk.
//
// The stack is E energies x S slices x R rows x C columns (default 100 x 64 x 512 x 512,
// 6.7 GB in the temporary folder); a smaller one by argument, e.g.
//   bench_maps --stack=100x16x256x256
// Each voxel is a mixture of two model species with noise, chunked as `vexa2-spectra stack`
// chunks its stacks (8 energies x 1 slice x 32 x 32 voxels). Figures per voxel and in MB/s of the stack.
//   BM_ReadStackCold  every block of spectra once, after the file's pages were dropped from
//                     the page cache (as the first pass over a fresh stack)
//   BM_ReadStackWarm  the same from the page cache
//   BM_Maps           the whole maps run (read, analyse on all threads, write); the counters
//                     split it into read, analysis and write time
//   BM_MapsRefs       the same with a two-reference fit
// On a shared machine the wall times depend on the other load; cpu_ns/voxel and
// MB/s_per_core (all threads' CPU time) do not.
#include "MapsRun.h"
#include "SpectraReader.h"
#include "StackFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <hdf5.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {

std::size_t gE = 100, gS = 64, gR = 512, gC = 512;

double species(double e, double e0, double wl)
{
    const double x = e - e0;
    return 0.5 + std::atan(x) / M_PI + wl * std::exp(-0.125 * (x - 4) * (x - 4));
}

std::vector<double> energies()
{
    // 100 energies: 7020-7100 by 4, 7100-7140 by 0.5, 7140-7260 by 8 (scaled to gE).
    std::vector<double> e;
    const std::size_t fine = gE * 6 / 10, below = gE * 2 / 10;
    for (std::size_t i = 0; i < below; ++i)
        e.push_back(7100 - 80.0 * double(below - i) / double(below));
    for (std::size_t i = 0; i < fine; ++i)
        e.push_back(7100 + 40.0 * double(i) / double(fine));
    const std::size_t above = gE - e.size();
    for (std::size_t i = 0; i < above; ++i)
        e.push_back(7140 + 120.0 * double(i + 1) / double(above));
    return e;
}

struct Stack
{
    QTemporaryDir dir;
    QString path, refA, refB;
    bool ok = false;

    Stack()
    {
        path = dir.filePath("stack.h5");
        const std::vector<double> en = energies();
        std::vector<double> a(gE), b(gE);
        for (std::size_t i = 0; i < gE; ++i) {
            a[i] = species(en[i], 7112, 0.3);
            b[i] = species(en[i], 7120, 0.9);
        }
        auto writeRef = [&](const QString &p, const std::vector<double> &v) {
            QFile f(p);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
                return false;
            QTextStream out(&f);
            for (std::size_t i = 0; i < gE; ++i)
                out << en[i] << ' ' << v[i] << '\n';
            return true;
        };
        refA = dir.filePath("A.txt");
        refB = dir.filePath("B.txt");
        if (!writeRef(refA, a) || !writeRef(refB, b))
            return;
        const hid_t f = H5Fcreate(
            QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        const hid_t entry = H5Gcreate2(f, "entry", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        const hid_t g = H5Gcreate2(entry, "spectra", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        const hsize_t dims[4] = { gE, gS, gR, gC };
        // Chunked as a stack file made by the program is.
        const auto shape = StackFile::chunkShape({ int(gE), int(gS), int(gR), int(gC) });
        const hsize_t chunk[4]
            = { hsize_t(shape[0]), hsize_t(shape[1]), hsize_t(shape[2]), hsize_t(shape[3]) };
        const hid_t space = H5Screate_simple(4, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 4, chunk);
        const hid_t d = H5Dcreate2(g, "mu", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        H5Pclose(dcpl);
        std::vector<float> slab(gE * gR * gC);
        quint32 seed = 12345;
        auto noise = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return (double(seed >> 8) / double(1u << 24) - 0.5) * 0.02;
        };
        bool fine = d >= 0;
        for (std::size_t s = 0; s < gS && fine; ++s) {
            for (std::size_t v = 0; v < gR * gC; ++v) {
                const double fr = double((v * 7 + s * 13) % 101) / 100.0;
                const double density = (v % gC) < gC / 8 ? 0.0 : 1.0; // a margin without edge
                for (std::size_t e = 0; e < gE; ++e)
                    slab[e * gR * gC + v]
                        = float(0.2 + density * (fr * a[e] + (1 - fr) * b[e]) + noise());
            }
            const hsize_t st[4] = { 0, s, 0, 0 };
            const hsize_t ct[4] = { gE, 1, gR, gC };
            const hid_t fs = H5Dget_space(d);
            H5Sselect_hyperslab(fs, H5S_SELECT_SET, st, nullptr, ct, nullptr);
            const hid_t ms = H5Screate_simple(4, ct, nullptr);
            fine = H5Dwrite(d, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, slab.data()) >= 0;
            H5Sclose(ms);
            H5Sclose(fs);
        }
        H5Dclose(d);
        H5Sclose(space);
        const hsize_t ne = gE;
        const hid_t es = H5Screate_simple(1, &ne, nullptr);
        const hid_t ed
            = H5Dcreate2(g, "energy", H5T_IEEE_F64LE, es, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        fine = fine
            && H5Dwrite(ed, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, en.data()) >= 0;
        H5Dclose(ed);
        H5Sclose(es);
        H5Gclose(g);
        H5Gclose(entry);
        ok = H5Fclose(f) >= 0 && fine;
    }
};

// CPU seconds of every thread of the process so far.
double processCpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

Stack &stack()
{
    static Stack s;
    return s;
}

// Drops the stack file's pages from the page cache (after writing them back).
void dropFromCache(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

double stackBytes()
{
    return double(gE) * double(gS) * double(gR) * double(gC) * sizeof(float);
}

void readAll(benchmark::State &state, bool cold)
{
    Stack &s = stack();
    if (!s.ok) {
        state.SkipWithError("cannot write the stack");
        return;
    }
    // Blocks as the maps run takes them with its default budget.
    const std::size_t rowsPerBlock = std::max<std::size_t>(
        1, std::min(gR, std::size_t(1024.0 * 1048576.0 / (gE * 4.0 + 40) / double(gC))));
    std::vector<float> block(gE * rowsPerBlock * gC);
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            dropFromCache(s.path);
            state.ResumeTiming();
        }
        SpectraReader in;
        if (!in.open(s.path)) {
            state.SkipWithError("cannot open the stack");
            return;
        }
        for (std::size_t sl = 0; sl < gS; ++sl)
            for (std::size_t r = 0; r < gR; r += rowsPerBlock)
                in.readBlock(sl, 1, r, std::min(rowsPerBlock, gR - r), block.data());
        benchmark::DoNotOptimize(block.data());
    }
    state.counters["MB/s"] = benchmark::Counter(
        stackBytes() / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ns/voxel"]
        = benchmark::Counter(double(gS * gR * gC) * double(state.iterations()),
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ReadStackCold(benchmark::State &state)
{
    readAll(state, true);
}
void BM_ReadStackWarm(benchmark::State &state)
{
    readAll(state, false);
}

void maps(benchmark::State &state, bool refs)
{
    Stack &s = stack();
    if (!s.ok) {
        state.SkipWithError("cannot write the stack");
        return;
    }
    MapsOptions o;
    o.stackPath = s.path;
    o.outPath = s.dir.filePath("maps.h5");
    if (refs)
        o.references = QStringList { s.refA, s.refB };
    o.sumToOne = refs;
    MapsReport report;
    double read = 0, compute = 0, write = 0, cpu = 0;
    for (auto _ : state) {
        QString error;
        const double cpu0 = processCpuSeconds();
        const bool ok = MapsRun::run(o, report, error);
        cpu += processCpuSeconds() - cpu0;
        if (!ok) {
            state.SkipWithError(error.toLocal8Bit().constData());
            return;
        }
        read += report.readSeconds;
        compute += report.computeSeconds;
        write += report.writeSeconds;
    }
    const double voxels = double(gS * gR * gC) * double(state.iterations());
    state.counters["read_s"] = read / double(state.iterations());
    state.counters["analysis_s"] = compute / double(state.iterations());
    state.counters["write_s"] = write / double(state.iterations());
    state.counters["analysis_ns/voxel"] = compute * 1e9 / voxels;
    state.counters["analysis_MB/s"] = stackBytes() * double(state.iterations()) / compute / 1e6;
    state.counters["threads"] = double(std::thread::hardware_concurrency());
    // What the run costs whatever else the machine does: CPU time of all threads (reading,
    // analysis and writing together) per voxel, and the stack rate one core sustains.
    state.counters["cpu_ns/voxel"] = cpu * 1e9 / voxels;
    state.counters["MB/s_per_core"] = stackBytes() * double(state.iterations()) / cpu / 1e6;
}

void BM_Maps(benchmark::State &state)
{
    maps(state, false);
}
void BM_MapsRefs(benchmark::State &state)
{
    maps(state, true);
}

} // namespace

BENCHMARK(BM_ReadStackCold)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ReadStackWarm)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Maps)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MapsRefs)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

int main(int argc, char **argv)
{
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        unsigned long e, s, r, c;
        if (std::strncmp(argv[i], "--stack=", 8) == 0
            && std::sscanf(argv[i] + 8, "%lux%lux%lux%lu", &e, &s, &r, &c) == 4 && e >= 10 && s && r
            && c) {
            gE = e;
            gS = s;
            gR = r;
            gC = c;
            continue;
        }
        rest.push_back(argv[i]);
    }
    int n = int(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::AddCustomContext("stack",
        std::to_string(gE) + " energies x " + std::to_string(gS) + " x " + std::to_string(gR)
            + " x " + std::to_string(gC));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
