#include "CtBackProj.h"

#include "FftwPlanner.h"
#include "HSgm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fftw3.h>
#include <limits>
#include <numbers>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

// Projections added together to a stretch of pixels held in registers: few enough that
// the parts of their tables in use stay in the first-level cache.
constexpr int ProjectionBlock = 8;
// Result rows per tile: the block's tables are reused for all of them from the second-level
// cache before the next block is read. Both sizes were chosen by measurement.
constexpr int RowTile = 32;

fftw_complex *asComplex(double *p)
{
    return reinterpret_cast<fftw_complex *>(p);
}

double *allocDoubles(std::size_t count)
{
    return static_cast<double *>(fftw_malloc(count * sizeof(double)));
}

// Largest d with d * d < rem (rem > 0), exactly, whatever sqrt's rounding.
long long spanHalfWidth(long long rem)
{
    auto d = static_cast<long long>(std::sqrt(static_cast<double>(rem - 1)));
    while (d > 0 && d * d >= rem)
        --d;
    while ((d + 1) * (d + 1) < rem)
        ++d;
    return d;
}

// First integer position p with p >= trunc(lo), clamped into [-1, size].
int firstIndex(double lo, int size)
{
    return static_cast<int>(std::trunc(std::clamp(lo, -1.0, static_cast<double>(size))));
}

// Last integer position p with p < hi, clamped into [-1, size].
int lastIndex(double hi, int size)
{
    return static_cast<int>(std::ceil(std::clamp(hi, -1.0, static_cast<double>(size) + 1.0))) - 1;
}

// Zeros on each side of a table row: the vector kernel loads 16 entries starting up to
// 15 before the first sample used.
constexpr int TablePad = 16;

// One block of projections pBegin <= p < pEnd into one result row over x = xa ... xb.
// t is formed as (x - g) c - (z - g) s + g, in that order, so that every pixel sees the
// detector position the formula gives. Inside the inscribed circle 0 < t < n, so
// truncation is floor and k <= n - 1; per pixel the projections are added in order.
struct RowJob
{
    double *row;
    const double *values; // entry 0 of projection pBegin's table
    const double *slopes;
    std::size_t stride;
    int count; // projections in the block
    const double *cosines;
    const double *zs; // (z - g) sin(theta) per projection
    int xa, xb, g;
};

// Step: distance between consecutive entries of a table, 1 for split tables, 2 for paired.
template <int Step> void addRowPortable(const RowJob &job, int xFrom)
{
    const double gd = job.g;
    double *__restrict row = job.row;
    int x = xFrom;
    // Eight pixels are summed in a local array over the block, which the compiler keeps
    // in registers and vectorises as far as the processor allows.
    for (; x + 7 <= job.xb; x += 8) {
        double acc[8];
        double xg[8];
        for (int j = 0; j < 8; ++j) {
            acc[j] = row[x + j];
            xg[j] = static_cast<double>(x + j - job.g);
        }
        for (int p = 0; p < job.count; ++p) {
            const double *__restrict v = job.values + job.stride * p;
            const double *__restrict s = job.slopes + job.stride * p;
            const double c = job.cosines[p];
            const double zs = job.zs[p];
            for (int j = 0; j < 8; ++j) {
                const double t = xg[j] * c - zs + gd;
                const int k = static_cast<int>(t);
                acc[j] += v[Step * k] + s[Step * k] * (t - static_cast<double>(k));
            }
        }
        for (int j = 0; j < 8; ++j)
            row[x + j] = acc[j];
    }
    for (int p = 0; p < job.count; ++p) {
        const double *__restrict v = job.values + job.stride * p;
        const double *__restrict s = job.slopes + job.stride * p;
        const double c = job.cosines[p];
        const double zs = job.zs[p];
        for (int xr = x; xr <= job.xb; ++xr) {
            const double t = static_cast<double>(xr - job.g) * c - zs + gd;
            const int k = static_cast<int>(t);
            row[xr] += v[Step * k] + s[Step * k] * (t - static_cast<double>(k));
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VEXA_BACKPROJ_X86 1

// Eight pixels per vector. Across eight neighbours t moves by at most 7 |cos|, so their
// table entries lie within a window of 16 around the first pixel's: two loads and one
// two-register permute fetch all eight values (and the same for the slopes) instead of
// eight scalar loads. The window starts 1 before the first k when t rises along x and
// 14 before it when t falls, leaving a sample of margin for rounding either way.
#define VEXA_AVX512 __attribute__((target("avx512f,avx512dq")))
// GCC 12's own headers trip this warning inside the lane-0 extraction.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Adds eight pixels of one projection (v, s: its table) to acc.
VEXA_AVX512 __attribute__((always_inline)) inline void avx512Step(const __m512d xv, __m512d &acc,
    const double *v, const double *s, const __m512d vc, const __m512d vzs, const __m512d vg,
    long long shift)
{
    const __m512d t = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(xv, vc), vzs), vg);
    const __m512i k = _mm512_cvttpd_epi64(t);
    const __m512d frac = _mm512_sub_pd(t, _mm512_cvtepi64_pd(k));
    const long long base = _mm_cvtsi128_si64(_mm512_castsi512_si128(k)) + shift;
    const __m512i e = _mm512_sub_epi64(k, _mm512_set1_epi64(base));
    const __m512d val
        = _mm512_permutex2var_pd(_mm512_loadu_pd(v + base), e, _mm512_loadu_pd(v + base + 8));
    const __m512d slope
        = _mm512_permutex2var_pd(_mm512_loadu_pd(s + base), e, _mm512_loadu_pd(s + base + 8));
    acc = _mm512_add_pd(acc, _mm512_add_pd(val, _mm512_mul_pd(slope, frac)));
}

VEXA_AVX512 void addRowAvx512(const RowJob &job)
{
    const __m512d vg = _mm512_set1_pd(static_cast<double>(job.g));
    const __m512d lanes = _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0);
    double *row = job.row;
    int x = job.xa;
    // 32 pixels stay in registers while the whole block of projections is added.
    for (; x + 31 <= job.xb; x += 32) {
        __m512d a0 = _mm512_loadu_pd(row + x);
        __m512d a1 = _mm512_loadu_pd(row + x + 8);
        __m512d a2 = _mm512_loadu_pd(row + x + 16);
        __m512d a3 = _mm512_loadu_pd(row + x + 24);
        const __m512d x0 = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x - job.g)), lanes);
        const __m512d x1 = _mm512_add_pd(x0, _mm512_set1_pd(8.0));
        const __m512d x2 = _mm512_add_pd(x0, _mm512_set1_pd(16.0));
        const __m512d x3 = _mm512_add_pd(x0, _mm512_set1_pd(24.0));
        for (int p = 0; p < job.count; ++p) {
            const double *v = job.values + job.stride * p;
            const double *s = job.slopes + job.stride * p;
            const double c = job.cosines[p];
            const long long shift = c >= 0.0 ? -1 : -14;
            const __m512d vc = _mm512_set1_pd(c);
            const __m512d vzs = _mm512_set1_pd(job.zs[p]);
            avx512Step(x0, a0, v, s, vc, vzs, vg, shift);
            avx512Step(x1, a1, v, s, vc, vzs, vg, shift);
            avx512Step(x2, a2, v, s, vc, vzs, vg, shift);
            avx512Step(x3, a3, v, s, vc, vzs, vg, shift);
        }
        _mm512_storeu_pd(row + x, a0);
        _mm512_storeu_pd(row + x + 8, a1);
        _mm512_storeu_pd(row + x + 16, a2);
        _mm512_storeu_pd(row + x + 24, a3);
    }
    for (; x + 7 <= job.xb; x += 8) {
        __m512d a0 = _mm512_loadu_pd(row + x);
        const __m512d x0 = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x - job.g)), lanes);
        for (int p = 0; p < job.count; ++p) {
            const double c = job.cosines[p];
            avx512Step(x0, a0, job.values + job.stride * p, job.slopes + job.stride * p,
                _mm512_set1_pd(c), _mm512_set1_pd(job.zs[p]), vg, c >= 0.0 ? -1 : -14);
        }
        _mm512_storeu_pd(row + x, a0);
    }
    addRowPortable<1>(job, x);
}

#pragma GCC diagnostic pop

// Four pixels per vector, on paired tables. AVX2 has no two-register permute, and its
// gathers measured slower than plain loads, so each pixel's (value, slope) pair comes
// with one 16-byte load and two unpacks sort the four pairs into a vector of values and
// one of slopes. Without "fma" in the target the compiler cannot fuse the multiply and
// the add, whose separate roundings the formula's numbers need.
#define VEXA_AVX2 __attribute__((target("avx2")))

// Adds four pixels of one projection (pairs: its paired table) to acc.
VEXA_AVX2 __attribute__((always_inline)) inline void avx2Step(const __m256d xv, __m256d &acc,
    const double *pairs, const __m256d vc, const __m256d vzs, const __m256d vg)
{
    const __m256d t = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(xv, vc), vzs), vg);
    // 0 < t < n, so truncation is floor; both forms of k are exact.
    const __m256d frac
        = _mm256_sub_pd(t, _mm256_round_pd(t, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
    const __m128i k = _mm256_cvttpd_epi32(t);
    const long long k01 = _mm_cvtsi128_si64(k);
    const long long k23 = _mm_extract_epi64(k, 1);
    const double *p0 = pairs + 2 * static_cast<std::ptrdiff_t>(static_cast<int>(k01));
    const double *p1 = pairs + 2 * static_cast<std::ptrdiff_t>(static_cast<int>(k01 >> 32));
    const double *p2 = pairs + 2 * static_cast<std::ptrdiff_t>(static_cast<int>(k23));
    const double *p3 = pairs + 2 * static_cast<std::ptrdiff_t>(static_cast<int>(k23 >> 32));
    const __m256d a
        = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p0)), _mm_loadu_pd(p2), 1);
    const __m256d b
        = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p1)), _mm_loadu_pd(p3), 1);
    const __m256d val = _mm256_unpacklo_pd(a, b);
    const __m256d slope = _mm256_unpackhi_pd(a, b);
    acc = _mm256_add_pd(acc, _mm256_add_pd(val, _mm256_mul_pd(slope, frac)));
}

VEXA_AVX2 void addRowAvx2(const RowJob &job)
{
    const __m256d vg = _mm256_set1_pd(static_cast<double>(job.g));
    const __m256d lanes = _mm256_set_pd(3, 2, 1, 0);
    double *row = job.row;
    int x = job.xa;
    // 16 pixels stay in registers while the whole block of projections is added.
    for (; x + 15 <= job.xb; x += 16) {
        __m256d a0 = _mm256_loadu_pd(row + x);
        __m256d a1 = _mm256_loadu_pd(row + x + 4);
        __m256d a2 = _mm256_loadu_pd(row + x + 8);
        __m256d a3 = _mm256_loadu_pd(row + x + 12);
        const __m256d x0 = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x - job.g)), lanes);
        const __m256d x1 = _mm256_add_pd(x0, _mm256_set1_pd(4.0));
        const __m256d x2 = _mm256_add_pd(x0, _mm256_set1_pd(8.0));
        const __m256d x3 = _mm256_add_pd(x0, _mm256_set1_pd(12.0));
        for (int p = 0; p < job.count; ++p) {
            const double *pairs = job.values + job.stride * p;
            const __m256d vc = _mm256_set1_pd(job.cosines[p]);
            const __m256d vzs = _mm256_set1_pd(job.zs[p]);
            avx2Step(x0, a0, pairs, vc, vzs, vg);
            avx2Step(x1, a1, pairs, vc, vzs, vg);
            avx2Step(x2, a2, pairs, vc, vzs, vg);
            avx2Step(x3, a3, pairs, vc, vzs, vg);
        }
        _mm256_storeu_pd(row + x, a0);
        _mm256_storeu_pd(row + x + 4, a1);
        _mm256_storeu_pd(row + x + 8, a2);
        _mm256_storeu_pd(row + x + 12, a3);
    }
    for (; x + 3 <= job.xb; x += 4) {
        __m256d a0 = _mm256_loadu_pd(row + x);
        const __m256d x0 = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x - job.g)), lanes);
        for (int p = 0; p < job.count; ++p)
            avx2Step(x0, a0, job.values + job.stride * p, _mm256_set1_pd(job.cosines[p]),
                _mm256_set1_pd(job.zs[p]), vg);
        _mm256_storeu_pd(row + x, a0);
    }
    addRowPortable<2>(job, x);
}

bool detectAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
}

bool detectAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

} // namespace

CtBackProj::CtBackProj() = default;

CtBackProj::~CtBackProj()
{
    freeTransforms();
    freeRows();
}

void CtBackProj::freePaddedTransforms()
{
    std::lock_guard<std::mutex> lock(fftwPlannerMutex());
    if (padFwdPlan_ != nullptr)
        fftw_destroy_plan(padFwdPlan_);
    if (padInvPlan_ != nullptr)
        fftw_destroy_plan(padInvPlan_);
    padFwdPlan_ = padInvPlan_ = nullptr;
    fftw_free(padReal_);
    fftw_free(padSpec_);
    padReal_ = padSpec_ = nullptr;
    padN_ = 0;
    response_.clear();
}

bool CtBackProj::makePaddedTransforms()
{
    const int m = CtFilter::paddedLength(n_);
    if (!CtFilter::padded(filter_) || n_ < 2) {
        freePaddedTransforms();
        return true;
    }
    if (m == padN_ && !response_.empty())
        return true;
    freePaddedTransforms();
    std::vector<double> table = CtFilter::response(filter_, m);
    if (table.empty())
        return false;
    for (double &v : table)
        v /= m;
    std::lock_guard<std::mutex> lock(fftwPlannerMutex());
    padReal_ = allocDoubles(m);
    padSpec_ = allocDoubles(2 * (static_cast<std::size_t>(m) / 2 + 1));
    if (padReal_ == nullptr || padSpec_ == nullptr)
        return false;
    padFwdPlan_ = fftw_plan_dft_r2c_1d(m, padReal_, asComplex(padSpec_), FFTW_ESTIMATE);
    padInvPlan_ = fftw_plan_dft_c2r_1d(m, asComplex(padSpec_), padReal_, FFTW_ESTIMATE);
    if (padFwdPlan_ == nullptr || padInvPlan_ == nullptr)
        return false;
    padN_ = m;
    response_ = std::move(table);
    return true;
}

bool CtBackProj::setFilter(CtFilterKind kind)
{
    if (kind == filter_ && (padN_ > 0 || !CtFilter::padded(kind) || n_ == 0))
        return true;
    filter_ = kind;
    // Rows transformed for the other filter are not rows of this one.
    std::fill(tableKind_.begin(), tableKind_.end(), 0);
    if (n_ == 0 || makePaddedTransforms())
        return true;
    freePaddedTransforms();
    return false;
}

void CtBackProj::freeTransforms()
{
    freePaddedTransforms();
    std::lock_guard<std::mutex> lock(fftwPlannerMutex());
    if (fwdPlan_ != nullptr)
        fftw_destroy_plan(fwdPlan_);
    if (invPlan_ != nullptr)
        fftw_destroy_plan(invPlan_);
    fwdPlan_ = invPlan_ = nullptr;
    for (double **p : { &fwdIn_, &fwdOut_, &invIn_, &invOut_ }) {
        fftw_free(*p);
        *p = nullptr;
    }
    n_ = 0;
}

void CtBackProj::freeRows()
{
    fftw_free(rows_);
    rows_ = nullptr;
    lastValue_.clear();
    lastValue_.shrink_to_fit();
    tableKind_.clear();
    tableKind_.shrink_to_fit();
    capacity_ = 0;
}

bool CtBackProj::resize(int n, int rows)
{
    n = n < 2 ? 0 : n / 2 * 2;
    rows = std::max(rows, 0);
    if (n != n_) {
        freeTransforms();
        freeRows();
        if (n == 0)
            return false;
        bool planned = false;
        {
            std::lock_guard<std::mutex> lock(fftwPlannerMutex());
            const std::size_t doubles = 2 * static_cast<std::size_t>(n);
            fwdIn_ = allocDoubles(doubles);
            fwdOut_ = allocDoubles(doubles);
            invIn_ = allocDoubles(doubles);
            invOut_ = allocDoubles(doubles);
            if (fwdIn_ && fwdOut_ && invIn_ && invOut_) {
                fwdPlan_ = fftw_plan_dft_1d(
                    n, asComplex(fwdIn_), asComplex(fwdOut_), FFTW_FORWARD, FFTW_ESTIMATE);
                invPlan_ = fftw_plan_dft_1d(
                    n, asComplex(invIn_), asComplex(invOut_), FFTW_BACKWARD, FFTW_ESTIMATE);
                planned = fwdPlan_ != nullptr && invPlan_ != nullptr;
            }
        }
        n_ = n;
        if (!planned || !makePaddedTransforms()) {
            freeTransforms();
            return false;
        }
    }
    if (rows > capacity_) {
        // Grow, keeping rows already transformed or filtered.
        const std::size_t stride = rowStride();
        double *grown = allocDoubles(stride * rows);
        if (grown == nullptr)
            return false;
        if (capacity_ > 0)
            std::memcpy(grown, rows_, stride * capacity_ * sizeof(double));
        // New rows read as zeros until filtered, padding included.
        std::fill(grown + stride * capacity_, grown + stride * rows, 0.0);
        fftw_free(rows_);
        rows_ = grown;
        lastValue_.resize(rows, 0.0);
        tableKind_.resize(rows, 0);
        capacity_ = rows;
    }
    return true;
}

std::size_t CtBackProj::rowStride() const
{
    return 2 * (static_cast<std::size_t>(n_) + 2 * TablePad);
}

bool CtBackProj::pathAvailable(Path path)
{
    switch (path) {
    case Path::Portable:
        return true;
#ifdef VEXA_BACKPROJ_X86
    case Path::Avx2: {
        static const bool available = detectAvx2();
        return available;
    }
    case Path::Avx512: {
        static const bool available = detectAvx512();
        return available;
    }
#endif
    default:
        return false;
    }
}

CtBackProj::Path CtBackProj::bestPath()
{
    if (pathAvailable(Path::Avx512))
        return Path::Avx512;
    if (pathAvailable(Path::Avx2))
        return Path::Avx2;
    return Path::Portable;
}

std::vector<CtBackProj::Path> CtBackProj::availablePaths()
{
    std::vector<Path> paths;
    for (const Path path : { Path::Portable, Path::Avx2, Path::Avx512 })
        if (pathAvailable(path))
            paths.push_back(path);
    return paths;
}

const char *CtBackProj::pathName(Path path)
{
    switch (path) {
    case Path::Portable:
        return "portable";
    case Path::Avx2:
        return "AVX2";
    case Path::Avx512:
        return "AVX-512";
    }
    return "";
}

bool CtBackProj::setPath(Path path)
{
    if (!pathAvailable(path))
        return false;
    const bool paired = path == Path::Avx2;
    path_ = path;
    // Rows filtered for the other arrangement are rebuilt from their values, with the
    // same subtraction for the slopes, so the numbers do not change.
    const unsigned char wanted = paired ? 2 : 1;
    std::vector<double> f;
    for (int i = 0; i < capacity_; ++i) {
        if (tableKind_[i] == 0 || tableKind_[i] == wanted)
            continue;
        f.resize(n_);
        for (int k = 0; k < n_; ++k)
            f[k] = filtered(i, k);
        storeTables(i, f.data(), paired);
    }
    return true;
}

void CtBackProj::setup(int n, int projections)
{
    projections_ = projections;
    resize(n, projections);
}

bool CtBackProj::prepare(int n, int rows)
{
    return resize(n, rows) && n_ == n / 2 * 2;
}

void CtBackProj::initResult(int n)
{
    resultN_ = std::max(n, 0);
    result_.assign(static_cast<std::size_t>(resultN_) * static_cast<std::size_t>(resultN_), 0.0);
    resultValid_ = false;
}

bool CtBackProj::fftRow(const double *row, int i)
{
    if (row == nullptr || n_ < 2 || i < 0 || i >= capacity_)
        return false;
    if (padN_ > 0) {
        std::memcpy(rows_ + rowStride() * i, row, static_cast<std::size_t>(n_) * sizeof(double));
        tableKind_[i] = 0;
        return true;
    }
    for (int k = 0; k < n_; ++k) {
        fwdIn_[2 * k] = row[k];
        fwdIn_[2 * k + 1] = 0.0;
    }
    fftw_execute_dft(fwdPlan_, asComplex(fwdIn_), asComplex(fwdOut_));
    std::memcpy(
        rows_ + rowStride() * i, fwdOut_, 2 * static_cast<std::size_t>(n_) * sizeof(double));
    tableKind_[i] = 0;
    return true;
}

bool CtBackProj::filterRow(int i)
{
    if (n_ < 2 || i < 0 || i >= capacity_)
        return false;
    if (CtFilter::padded(filter_))
        return filterPaddedRow(i);
    const int n = n_;
    // The spectrum is read completely before the tables overwrite it.
    const double *bins = rows_ + rowStride() * i;
    const double a = 2.0 * std::numbers::pi / n;
    for (int m = 0; m < n; ++m) {
        const double factor = a * std::min(m, n - m);
        invIn_[2 * m] = bins[2 * m] * factor;
        invIn_[2 * m + 1] = bins[2 * m + 1] * factor;
    }
    fftw_execute_dft(invPlan_, asComplex(invIn_), asComplex(invOut_));

    const double product = static_cast<double>(n) * projections_;
    const double divisor = product > 0.0 ? product : 1.0;
    // The real parts, normalised, packed to the front of the inverse output: element k is
    // read (at 2k) before anything is written at or after k.
    for (int k = 0; k < n; ++k)
        invOut_[k] = invOut_[2 * k] / divisor;
    storeTables(i, invOut_, pairedTables());
    return true;
}

bool CtBackProj::filterPaddedRow(int i)
{
    if (padN_ == 0)
        return false;
    const int n = n_;
    const int m = padN_;
    // Zeros after the row make the circular convolution a linear one over the whole row.
    std::memcpy(padReal_, rows_ + rowStride() * i, static_cast<std::size_t>(n) * sizeof(double));
    std::fill(padReal_ + n, padReal_ + m, 0.0);
    fftw_execute_dft_r2c(padFwdPlan_, padReal_, asComplex(padSpec_));
    const double *__restrict h = response_.data();
    double *__restrict bins = padSpec_;
    for (int k = 0; k <= m / 2; ++k) {
        bins[2 * k] *= h[k];
        bins[2 * k + 1] *= h[k];
    }
    fftw_execute_dft_c2r(padInvPlan_, asComplex(padSpec_), padReal_);
    const double divisor = projections_ > 0 ? static_cast<double>(projections_) : 1.0;
    for (int k = 0; k < n; ++k)
        padReal_[k] /= divisor;
    storeTables(i, padReal_, pairedTables());
    return true;
}

void CtBackProj::storeTables(int i, const double *f, bool paired)
{
    const int n = n_;
    double *block = rows_ + rowStride() * i;
    std::fill(block, block + rowStride(), 0.0);
    if (paired) {
        double *pairs = block + 2 * TablePad;
        for (int k = 0; k + 1 < n; ++k) {
            pairs[2 * k] = f[k];
            pairs[2 * k + 1] = f[k + 1] - f[k];
        }
    } else {
        double *values = block + TablePad;
        double *slopes = values + n + 2 * TablePad;
        for (int k = 0; k + 1 < n; ++k) {
            values[k] = f[k];
            slopes[k] = f[k + 1] - f[k];
        }
    }
    lastValue_[i] = f[n - 1];
    tableKind_[i] = paired ? 2 : 1;
}

double CtBackProj::filtered(int i, int k) const
{
    if (i < 0 || i >= capacity_ || k < 0 || k >= n_)
        return 0.0;
    if (k == n_ - 1)
        return lastValue_[i];
    if (tableKind_[i] == 2)
        return rows_[rowStride() * i + 2 * TablePad + 2 * k];
    return rows_[rowStride() * i + TablePad + k];
}

const double *CtBackProj::spectrum(int i) const
{
    if (i < 0 || i >= capacity_)
        return nullptr;
    return rows_ + rowStride() * i;
}

bool CtBackProj::backProject(
    int i, double x0, double x1, double z0, double z1, double angle0, double dAngle)
{
    return project(i, i + 1, x0, x1, z0, z1, angle0, dAngle, 0, resultN_);
}

bool CtBackProj::backProjectAll(
    int rows, double x0, double x1, double z0, double z1, double angle0, double dAngle)
{
    return project(0, rows, x0, x1, z0, z1, angle0, dAngle, 0, resultN_);
}

bool CtBackProj::backProjectRows(int rows, double x0, double x1, double z0, double z1,
    double angle0, double dAngle, int zBegin, int zEnd)
{
    return project(0, rows, x0, x1, z0, z1, angle0, dAngle, zBegin, zEnd);
}

bool CtBackProj::project(int pBegin, int pEnd, double x0, double x1, double z0, double z1,
    double angle0, double dAngle, int zBegin, int zEnd)
{
    if (n_ < 2 || resultN_ != n_ || pBegin < 0 || pEnd > capacity_ || pBegin >= pEnd)
        return false;
    // An infinite step (a data set of 0 images) or a broken origin would fill the result
    // with NaN: refuse instead and leave it as it is.
    if (rowAngles_) {
        for (int p = pBegin; p < pEnd; ++p)
            if (!std::isfinite(rowAngles_[p]))
                return false;
    } else if (!std::isfinite(angle0) || !std::isfinite(dAngle)
        || !std::isfinite(angle0 + (pEnd - 1) * dAngle)) {
        return false;
    }
    resultValid_.store(true, std::memory_order_relaxed);
    if (std::isnan(x0) || std::isnan(x1) || std::isnan(z0) || std::isnan(z1))
        return true;

    const int n = n_;
    const int g = n / 2;
    // Rows inside the circle are 1 ... n - 1; the region and the caller's range cut them.
    const int zLo = std::max({ firstIndex(z0, n), 1, zBegin });
    const int zHi = std::min({ lastIndex(z1, n), n - 1, zEnd - 1 });
    const int xLo = std::max(firstIndex(x0, n), 0);
    const int xHi = std::min(lastIndex(x1, n), n - 1);
    if (zLo > zHi || xLo > xHi)
        return true;

    const Path path = path_;
    const bool paired = pairedTables();
    const std::size_t stride = rowStride();
    double cosines[ProjectionBlock];
    double sines[ProjectionBlock];
    double zs[ProjectionBlock];
    for (int zt = zLo; zt <= zHi; zt += RowTile) {
        const int zte = std::min(zHi, zt + RowTile - 1);
        for (int p0 = pBegin; p0 < pEnd; p0 += ProjectionBlock) {
            const int count = std::min(pEnd - p0, ProjectionBlock);
            for (int p = 0; p < count; ++p) {
                const double theta = rowAngles_ ? rowAngles_[p0 + p] : angle0 + (p0 + p) * dAngle;
                cosines[p] = std::cos(theta);
                sines[p] = std::sin(theta);
            }
            for (int z = zt; z <= zte; ++z) {
                const long long dz = z - g;
                const long long rem = static_cast<long long>(g) * g - dz * dz;
                if (rem <= 0)
                    continue;
                const int d = static_cast<int>(spanHalfWidth(rem));
                const int xa = std::max(xLo, g - d);
                const int xb = std::min(xHi, g + d);
                if (xa > xb)
                    continue;
                for (int p = 0; p < count; ++p)
                    zs[p] = static_cast<double>(dz) * sines[p];
                const double *block = rows_ + stride * p0;
                const RowJob job { result_.data() + static_cast<std::size_t>(z) * n,
                    paired ? block + 2 * TablePad : block + TablePad,
                    paired ? block + 2 * TablePad + 1 : block + n + 3 * TablePad, stride, count,
                    cosines, zs, xa, xb, g };
                switch (path) {
#ifdef VEXA_BACKPROJ_X86
                case Path::Avx512:
                    addRowAvx512(job);
                    break;
                case Path::Avx2:
                    addRowAvx2(job);
                    break;
#endif
                default:
                    if (paired)
                        addRowPortable<2>(job, xa);
                    else
                        addRowPortable<1>(job, xa);
                }
            }
        }
    }
    return true;
}

bool CtBackProj::reconstruct(
    const HSgm &sgm, double x0, double x1, double z0, double z1, double angle0, double dAngle)
{
    if (!sgm.hasData())
        return false;
    const int n = sgm.w / 2 * 2;
    const int rows = sgm.h;
    if (!prepare(n, rows))
        return false;
    initResult(n);
    for (int i = 0; i < rows; ++i)
        fftRow(sgm.sgmRow(i), i);
    for (int i = 0; i < rows; ++i)
        filterRow(i);
    return backProjectAll(rows, x0, x1, z0, z1, angle0, dAngle);
}

void CtBackProj::findMinMax()
{
    if (result_.empty()) {
        resMin_ = resMax_ = 0.0;
        return;
    }
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    for (const double v : result_) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    resMin_ = lo;
    resMax_ = hi;
}
