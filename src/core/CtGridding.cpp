#include "CtGridding.h"

#include "FftwPlanner.h"
#include "HSgm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fftw3.h>
#include <limits>
#include <numbers>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VEXA_GRIDDING_X86 1
#endif

// The method, and the names used below.
//
// With the projection p_i of angle theta_i zero-padded to L samples around the centre of
// rotation, its filtered spectrum Q_i(m) = H(m) P_i(m) (H the padded ramp), the filtered
// back-projection at pixel r (relative to the centre) is
//     f(r) = 1 / (L P) sum_i sum_m Q_i(m) exp(2 pi i (m / L) n_i . r),
// n_i = (cos theta_i, -sin theta_i) in (x, z): a sum of plane waves whose frequencies lie on
// radial lines (the Fourier slice theorem). That is the adjoint non-uniform Fourier transform,
// computed here as in Beylkin (1995, Appl. Comput. Harmon. Anal. 2, 363) and Fessler and
// Sutton (2003, IEEE Trans. Signal Process. 51, 560): each point is spread onto a grid of
// M = sigma N cells per side with a separable Kaiser-Bessel kernel of W cells (its shape
// parameter after Beatty, Nishimura and Pauly, 2005, IEEE Trans. Med. Imaging 24, 799), one
// inverse 2-D FFT makes the slice times the kernel's Fourier transform, and dividing by that
// (deapodisation) and cropping to N x N leaves f. Marone and Stampanoni (2012, J. Synchrotron
// Rad. 19, 1029) describe the same road for synchrotron tomography.
//
// Choices for speed (the slice is real, so its spectrum is Hermitian):
// - Only the half plane of non-negative frequency x is gridded, each radial line from its
//   origin outwards (the other half of the line is the complex conjugate); footprints that
//   reach over the edges land in pad columns and rows and are folded back.
// - The grid is stored by column of frequency x, the frequency z centred (0 in the middle), so
//   that the first pass of the inverse transform runs on contiguous columns; it keeps only the
//   N slice rows and hands them, transposed, to a complex-to-real pass per row that keeps
//   only the N slice columns.
// - Single precision, small W and sigma: the kernel's error stays far below the differences
//   between interpolating the filtered projections linearly (the back-projection) or with
//   their band limit (this method).

namespace {

// Kernel width in grid cells and grid oversampling.
constexpr int Taps = 4;
constexpr double Oversampling = 1.25;
// Pad cells at each edge of the grid: at least Taps / 2 + 1, and 4 keeps columns aligned.
constexpr int Pad = 4;
// Each tap's weight as a polynomial of this degree in the point's position within its cell
// (the kernel is an entire function inside its support, so a low degree is exact to float).
constexpr int Degree = 9;
// Points of a radial line spread per pass over all projections: the pass works on a ring of
// the grid, and neighbouring angles touch neighbouring cells while they are in the cache.
constexpr int BandPoints = 256;
// Points of a line spread one after the other are this far apart along it (see spreadAvx2).
constexpr int Interleave = 8;
// Grid columns per call of the first pass: their outputs stay in the cache while transposed.
constexpr int BlockColumns = 8;

fftwf_complex *asComplex(float *p)
{
    return reinterpret_cast<fftwf_complex *>(p);
}

float *allocFloats(std::size_t count)
{
    return static_cast<float *>(fftwf_malloc(count * sizeof(float)));
}

// Smallest even number >= atLeast whose only prime factors are 2, 3, 5 and 7.
int fastEvenLength(int atLeast)
{
    for (int v = std::max(2, atLeast + (atLeast & 1));; v += 2) {
        int r = v;
        for (const int p : { 2, 3, 5, 7 })
            while (r % p == 0)
                r /= p;
        if (r == 1)
            return v;
    }
}

// Shape parameter of the Kaiser-Bessel kernel for width W at oversampling sigma.
double kaiserBesselBeta()
{
    const double a = Taps / Oversampling * (Oversampling - 0.5);
    return std::numbers::pi * std::sqrt(a * a - 0.8);
}

// The kernel at u cells from its centre, 1 at the centre.
double kernelAt(double u, double beta)
{
    const double s = 2.0 * u / Taps;
    if (std::abs(s) > 1.0)
        return 0.0;
    return std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - s * s)) / std::cyl_bessel_i(0.0, beta);
}

// Its continuous Fourier transform at nu cycles per cell.
double kernelTransform(double nu, double beta)
{
    const double a = std::numbers::pi * Taps * nu;
    const double d = beta * beta - a * a;
    double v = 1.0;
    if (d > 1e-12) {
        const double r = std::sqrt(d);
        v = std::sinh(r) / r;
    } else if (d < -1e-12) {
        const double r = std::sqrt(-d);
        v = std::sin(r) / r;
    }
    return Taps * v / std::cyl_bessel_i(0.0, beta);
}

// A point whose footprint starts at cell c (the first cell after u - Taps / 2) has its tap a
// at a + 1 - f - Taps / 2 cells from the point, f = frac(u - Taps / 2). Coefficients of that
// weight as a polynomial in y = 2 f - 1, highest power first, tap after tap: interpolation
// at Chebyshev nodes, solved in double.
std::vector<float> kernelPolynomials(double beta)
{
    constexpr int K = Degree + 1;
    std::vector<float> coef(static_cast<std::size_t>(Taps) * K);
    for (int a = 0; a < Taps; ++a) {
        double A[K][K + 1];
        for (int i = 0; i < K; ++i) {
            const double y = std::cos(std::numbers::pi * (i + 0.5) / K);
            double p = 1.0;
            for (int k = 0; k < K; ++k) {
                A[i][k] = p;
                p *= y;
            }
            A[i][K] = kernelAt(a + 1 - (y + 1.0) / 2.0 - Taps / 2.0, beta);
        }
        for (int c = 0; c < K; ++c) {
            int piv = c;
            for (int r = c + 1; r < K; ++r)
                if (std::abs(A[r][c]) > std::abs(A[piv][c]))
                    piv = r;
            for (int k = 0; k <= K; ++k)
                std::swap(A[c][k], A[piv][k]);
            for (int r = 0; r < K; ++r) {
                if (r == c)
                    continue;
                const double f = A[r][c] / A[c][c];
                for (int k = c; k <= K; ++k)
                    A[r][k] -= f * A[c][k];
            }
        }
        for (int k = 0; k < K; ++k)
            coef[static_cast<std::size_t>(a) * K + (K - 1 - k)]
                = static_cast<float>(A[k][K] / A[k][k]);
    }
    return coef;
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

// Largest d with d * d < rem (rem > 0).
int spanHalfWidth(long long rem)
{
    auto d = static_cast<long long>(std::sqrt(static_cast<double>(rem - 1)));
    while (d > 0 && d * d >= rem)
        --d;
    while ((d + 1) * (d + 1) < rem)
        ++d;
    return static_cast<int>(d);
}

// A stretch of one radial line: points mBegin ... mBegin + count - 1 at m (dx, dz) cells from
// the grid's origin, the z position offset by `centre`, with their values (re, im).
struct Stretch
{
    int mBegin;
    int count;
    double dx, dz, centre;
    const float *values;
};

// Per point of a stretch: the footprint's first column and row (pads included) and the
// Taps weights along x and along z.
struct Footprints
{
    int *cols;
    int *rows;
    float *wx;
    float *wz;
};

float horner(const float *c, float y)
{
    float v = c[0];
    for (int k = 1; k <= Degree; ++k)
        v = v * y + c[k];
    return v;
}

void footprintsPortable(const Stretch &s, const float *coef, const Footprints &f, int from)
{
    const double reach = Taps / 2.0;
    for (int k = from; k < s.count; ++k) {
        const double m = s.mBegin + k;
        const double sx = m * s.dx - reach;
        const double sz = m * s.dz + s.centre - reach;
        const double fx = std::floor(sx);
        const double fz = std::floor(sz);
        f.cols[k] = static_cast<int>(fx) + 1 + Pad;
        f.rows[k] = static_cast<int>(fz) + 1 + Pad;
        const auto yx = static_cast<float>(2.0 * (sx - fx) - 1.0);
        const auto yz = static_cast<float>(2.0 * (sz - fz) - 1.0);
        for (int a = 0; a < Taps; ++a) {
            f.wx[Taps * k + a] = horner(coef + a * (Degree + 1), yx);
            f.wz[Taps * k + a] = horner(coef + a * (Degree + 1), yz);
        }
    }
}

void spreadPortable(float *grid, int colStride, const Stretch &s, const Footprints &f)
{
    for (int k = 0; k < s.count; ++k) {
        const float re = s.values[2 * k];
        const float im = s.values[2 * k + 1];
        const float *wx = f.wx + Taps * k;
        const float *wz = f.wz + Taps * k;
        float *base = grid
            + 2
                * (static_cast<std::ptrdiff_t>(f.cols[k]) * colStride
                    + static_cast<std::ptrdiff_t>(f.rows[k]));
        for (int a = 0; a < Taps; ++a) {
            float *p = base + 2 * static_cast<std::ptrdiff_t>(a) * colStride;
            const float r = re * wx[a];
            const float i = im * wx[a];
            for (int b = 0; b < Taps; ++b) {
                p[2 * b] += r * wz[b];
                p[2 * b + 1] += i * wz[b];
            }
        }
    }
}

#ifdef VEXA_GRIDDING_X86
#define VEXA_AVX2 __attribute__((target("avx2,fma")))

// Eight points along one axis: positions in double, the first cell of each footprint, and
// the weights as polynomials in float, turned from tap-major to point-major for the spreading.
VEXA_AVX2 inline void footprintAxisAvx2(
    __m256d m0, __m256d m1, __m256d step, __m256d offset, const float *coef, int *start, float *w)
{
    static_assert(Taps == 4);
    const __m256d reach = _mm256_set1_pd(Taps / 2.0);
    const __m256d s0 = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(m0, step), offset), reach);
    const __m256d s1 = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(m1, step), offset), reach);
    const __m256d f0 = _mm256_floor_pd(s0);
    const __m256d f1 = _mm256_floor_pd(s1);
    const __m128i pad = _mm_set1_epi32(1 + Pad);
    _mm_storeu_si128(
        reinterpret_cast<__m128i *>(start), _mm_add_epi32(_mm256_cvttpd_epi32(f0), pad));
    _mm_storeu_si128(
        reinterpret_cast<__m128i *>(start + 4), _mm_add_epi32(_mm256_cvttpd_epi32(f1), pad));
    const __m256 fr = _mm256_set_m128(
        _mm256_cvtpd_ps(_mm256_sub_pd(s1, f1)), _mm256_cvtpd_ps(_mm256_sub_pd(s0, f0)));
    const __m256 y = _mm256_fmsub_ps(fr, _mm256_set1_ps(2.0f), _mm256_set1_ps(1.0f));
    __m256 t[Taps];
    for (int a = 0; a < Taps; ++a) {
        const float *c = coef + a * (Degree + 1);
        __m256 v = _mm256_set1_ps(c[0]);
        for (int k = 1; k <= Degree; ++k)
            v = _mm256_fmadd_ps(v, y, _mm256_set1_ps(c[k]));
        t[a] = v;
    }
    __m128 l0 = _mm256_castps256_ps128(t[0]), l1 = _mm256_castps256_ps128(t[1]);
    __m128 l2 = _mm256_castps256_ps128(t[2]), l3 = _mm256_castps256_ps128(t[3]);
    _MM_TRANSPOSE4_PS(l0, l1, l2, l3);
    _mm_storeu_ps(w, l0);
    _mm_storeu_ps(w + 4, l1);
    _mm_storeu_ps(w + 8, l2);
    _mm_storeu_ps(w + 12, l3);
    __m128 h0 = _mm256_extractf128_ps(t[0], 1), h1 = _mm256_extractf128_ps(t[1], 1);
    __m128 h2 = _mm256_extractf128_ps(t[2], 1), h3 = _mm256_extractf128_ps(t[3], 1);
    _MM_TRANSPOSE4_PS(h0, h1, h2, h3);
    _mm_storeu_ps(w + 16, h0);
    _mm_storeu_ps(w + 20, h1);
    _mm_storeu_ps(w + 24, h2);
    _mm_storeu_ps(w + 28, h3);
}

VEXA_AVX2 void footprintsAvx2(const Stretch &s, const float *coef, const Footprints &f)
{
    const __m256d vdx = _mm256_set1_pd(s.dx);
    const __m256d vdz = _mm256_set1_pd(s.dz);
    const __m256d centre = _mm256_set1_pd(s.centre);
    const __m256d zero = _mm256_setzero_pd();
    int k = 0;
    for (; k + 8 <= s.count; k += 8) {
        const double m = s.mBegin + k;
        const __m256d m0 = _mm256_setr_pd(m, m + 1, m + 2, m + 3);
        const __m256d m1 = _mm256_add_pd(m0, _mm256_set1_pd(4.0));
        footprintAxisAvx2(m0, m1, vdx, zero, coef, f.cols + k, f.wx + Taps * k);
        footprintAxisAvx2(m0, m1, vdz, centre, coef, f.rows + k, f.wz + Taps * k);
    }
    footprintsPortable(s, coef, f, k);
}

// Four cells of a column (four complex values) are one 256-bit vector: per point one product
// of value and z weights, then one multiply-add per column of the footprint.
VEXA_AVX2 void spreadAvx2(float *grid, int colStride, const Stretch &s, const Footprints &f)
{
    const __m256i dup = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    const std::ptrdiff_t step = 2 * static_cast<std::ptrdiff_t>(colStride);
    const float *__restrict values = s.values;
    const int *__restrict cols = f.cols;
    const int *__restrict rows = f.rows;
    const float *__restrict wxs = f.wx;
    const float *__restrict wzs = f.wz;
    const int count = s.count;
    // Neighbouring points of a line share cells: taken in their order, each would load what
    // the one before has just stored, at another offset, which the processor cannot forward
    // and waits for. Points Interleave apart never share a cell.
    for (int phase = 0; phase < Interleave; ++phase) {
        for (int k = phase; k < count; k += Interleave) {
            double pair;
            std::memcpy(&pair, values + 2 * k, sizeof pair);
            const __m256 v = _mm256_castpd_ps(_mm256_set1_pd(pair));
            const __m256 wz
                = _mm256_permutevar8x32_ps(_mm256_castps128_ps256(_mm_loadu_ps(wzs + 4 * k)), dup);
            const __m256 vz = _mm256_mul_ps(v, wz);
            const float *wx = wxs + 4 * k;
            float *p0 = grid
                + 2
                    * (static_cast<std::ptrdiff_t>(cols[k]) * colStride
                        + static_cast<std::ptrdiff_t>(rows[k]));
            float *p1 = p0 + step;
            float *p2 = p1 + step;
            float *p3 = p2 + step;
            const __m256 a0 = _mm256_fmadd_ps(vz, _mm256_broadcast_ss(wx), _mm256_loadu_ps(p0));
            const __m256 a1 = _mm256_fmadd_ps(vz, _mm256_broadcast_ss(wx + 1), _mm256_loadu_ps(p1));
            const __m256 a2 = _mm256_fmadd_ps(vz, _mm256_broadcast_ss(wx + 2), _mm256_loadu_ps(p2));
            const __m256 a3 = _mm256_fmadd_ps(vz, _mm256_broadcast_ss(wx + 3), _mm256_loadu_ps(p3));
            _mm256_storeu_ps(p0, a0);
            _mm256_storeu_ps(p1, a1);
            _mm256_storeu_ps(p2, a2);
            _mm256_storeu_ps(p3, a3);
        }
    }
}

bool haveAvx2()
{
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return available;
}
#endif

// What the gridding multiplies each projection's spectrum with: the filter (on the scale of
// the back-projection's, so that both give the same values), and the response
// of the back-projection's linear interpolation between detector samples, sinc^2 of the
// frequency in cycles per sample. The back-projection sees the filtered projections through
// that interpolation; with it here both methods have the same resolution and give the same
// values, so that a series may mix them. (Without it edges come out a little sharper, and
// up to a few per cent of the slice's range different from the back-projection's.)
// The zero and the Nyquist frequency are their own mirror images on a radial line: half
// weight, because the folding of the half plane counts every point twice.
std::vector<float> griddingResponse(const std::vector<double> &filter, int length)
{
    if (filter.empty())
        return {};
    std::vector<float> response(filter.size());
    for (std::size_t m = 0; m < filter.size(); ++m) {
        const double a = std::numbers::pi * static_cast<double>(m) / length;
        const double sinc = m == 0 ? 1.0 : std::sin(a) / a;
        response[m] = static_cast<float>(filter[m] * sinc * sinc);
    }
    response.front() *= 0.5f;
    response.back() *= 0.5f;
    return response;
}

} // namespace

CtGridding::CtGridding() = default;

CtGridding::~CtGridding()
{
    freeAll();
}

void CtGridding::freeAll()
{
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        for (fftwf_plan_s **p : { &rowPlan_, &colPlan_, &colPlanOne_, &linePlan_ }) {
            if (*p)
                fftwf_destroy_plan(*p);
            *p = nullptr;
        }
    }
    for (float **p : { &padIn_, &spectra_, &grid_, &block_, &half_, &line_ }) {
        fftwf_free(*p);
        *p = nullptr;
    }
    n_ = padN_ = m_ = colStride_ = rowStride_ = spectrumStride_ = capacity_ = 0;
}

bool CtGridding::resize(int n, int rows)
{
    n = n < 2 ? 0 : n / 2 * 2;
    rows = std::max(rows, 1);
    if (n != n_ || n == 0) {
        freeAll();
        if (n == 0 || !makeTransforms(n))
            return false;
    }
    if (rows > capacity_) {
        fftwf_free(spectra_);
        spectra_ = allocFloats(2 * static_cast<std::size_t>(spectrumStride_) * rows);
        capacity_ = spectra_ ? rows : 0;
        lineDx_.assign(capacity_, 0.0);
        lineDz_.assign(capacity_, 0.0);
        if (!spectra_)
            return false;
    }
    return true;
}

bool CtGridding::makeTransforms(int n)
{
    const int padN = fastEvenLength(2 * n);
    const int m = fastEvenLength(static_cast<int>(std::ceil(Oversampling * n)));
    const int colStride = (m + 2 * Pad + 7) / 8 * 8;
    const int cols = m / 2 + 1 + 2 * Pad;
    const int rowStride = (m / 2 + 1 + 3) / 4 * 4;
    const int specStride = (padN / 2 + 1 + 7) / 8 * 8;
    const std::size_t gridFloats = 2 * static_cast<std::size_t>(colStride) * cols;

    padIn_ = allocFloats(padN);
    spectra_ = allocFloats(2 * static_cast<std::size_t>(specStride));
    grid_ = allocFloats(gridFloats);
    block_ = allocFloats(2 * static_cast<std::size_t>(m) * BlockColumns);
    half_ = allocFloats(2 * static_cast<std::size_t>(rowStride) * n);
    line_ = allocFloats(m);
    bool planned = false;
    if (padIn_ && spectra_ && grid_ && block_ && half_ && line_) {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        // Measured plans were 3 to 6 % faster per slice here but took 6 to 8 s to make
        // at 1024 to 2048, at the first slice of every run: not worth it.
        const unsigned flags = FFTW_ESTIMATE;
        rowPlan_ = fftwf_plan_dft_r2c_1d(padN, padIn_, asComplex(spectra_), flags);
        float *col0 = grid_ + 2 * (static_cast<std::size_t>(Pad) * colStride + Pad);
        colPlan_ = fftwf_plan_many_dft(1, &m, BlockColumns, asComplex(col0), nullptr, 1, colStride,
            asComplex(block_), nullptr, 1, m, FFTW_BACKWARD, flags);
        colPlanOne_ = fftwf_plan_many_dft(1, &m, 1, asComplex(col0), nullptr, 1, colStride,
            asComplex(block_), nullptr, 1, m, FFTW_BACKWARD, flags);
        linePlan_ = fftwf_plan_dft_c2r_1d(m, asComplex(half_), line_, flags);
        planned = rowPlan_ && colPlan_ && colPlanOne_ && linePlan_;
    }
    if (!planned) {
        freeAll();
        return false;
    }
    // Planning wrote into the arrays: the grid and the padding must start as zeros.
    std::fill(grid_, grid_ + gridFloats, 0.0f);
    std::fill(padIn_, padIn_ + padN, 0.0f);

    n_ = n;
    padN_ = padN;
    m_ = m;
    colStride_ = colStride;
    rowStride_ = rowStride;
    spectrumStride_ = specStride;
    capacity_ = 1;
    lineDx_.assign(1, 0.0);
    lineDz_.assign(1, 0.0);

    response_ = griddingResponse(CtFilter::response(filter_, padN), padN);
    if (response_.empty()) {
        freeAll();
        return false;
    }

    const double beta = kaiserBesselBeta();
    kernel_ = kernelPolynomials(beta);
    const int g = n / 2;
    deapX_.resize(n);
    deapZ_.resize(n);
    for (int k = 0; k < n; ++k) {
        const int rel = k - g;
        const double d = 1.0 / kernelTransform(static_cast<double>(rel) / m, beta);
        deapX_[k] = d;
        deapZ_[k] = (rel % 2 == 0) ? d : -d;
    }
    pointCol_.resize(BandPoints);
    pointRow_.resize(BandPoints);
    pointWx_.resize(static_cast<std::size_t>(BandPoints) * Taps);
    pointWz_.resize(static_cast<std::size_t>(BandPoints) * Taps);
    return true;
}

bool CtGridding::setFilter(CtFilterKind kind)
{
    if (kind == CtFilterKind::Ramp)
        kind = CtFilterKind::RampPadded;
    if (kind == filter_)
        return true;
    if (padN_ > 0) {
        std::vector<float> response = griddingResponse(CtFilter::response(kind, padN_), padN_);
        if (response.empty())
            return false;
        response_ = std::move(response);
    }
    filter_ = kind;
    return true;
}

void CtGridding::setup(int n, int projections)
{
    projections_ = projections;
    resize(n, projections);
}

bool CtGridding::prepare(int n, int rows)
{
    return resize(n, rows) && n_ == n / 2 * 2;
}

void CtGridding::initResult(int n)
{
    resultN_ = std::max(n, 0);
    result_.assign(static_cast<std::size_t>(resultN_) * static_cast<std::size_t>(resultN_), 0.0);
    resultValid_ = false;
}

void CtGridding::filterRow(const double *row, int i, double angle)
{
    const int n = n_;
    const int g = n / 2;
    const int padN = padN_;
    // The row around its centre of rotation (sample g at 0); the middle stays zero.
    for (int t = 0; t < n - g; ++t)
        padIn_[t] = static_cast<float>(row[g + t]);
    for (int t = 0; t < g; ++t)
        padIn_[padN - g + t] = static_cast<float>(row[t]);
    float *rowSpectrum = spectra_ + 2 * static_cast<std::size_t>(spectrumStride_) * i;
    fftwf_execute_dft_r2c(rowPlan_, padIn_, asComplex(rowSpectrum));

    // Frequency m / padN along (cos, -sin) is m * M / padN cells from the origin. Only the
    // half of the line with non-negative x is gridded: the conjugate when the cosine is
    // negative.
    const double cellsPerStep = static_cast<double>(m_) / padN;
    double dx = std::cos(angle) * cellsPerStep;
    double dz = -std::sin(angle) * cellsPerStep;
    const float conj = dx < 0.0 ? -1.0f : 1.0f;
    if (dx < 0.0) {
        dx = -dx;
        dz = -dz;
    }
    lineDx_[i] = dx;
    lineDz_[i] = dz;
    const float *h = response_.data();
    for (int m = 0; m <= padN / 2; ++m) {
        rowSpectrum[2 * m] *= h[m];
        rowSpectrum[2 * m + 1] *= h[m] * conj;
    }
}

void CtGridding::spreadAll(int rows)
{
    const int points = padN_ / 2 + 1;
    const Footprints f { pointCol_.data(), pointRow_.data(), pointWx_.data(), pointWz_.data() };
    const float *coef = kernel_.data();
#ifdef VEXA_GRIDDING_X86
    const bool avx2 = haveAvx2();
#endif
    for (int mBegin = 0; mBegin < points; mBegin += BandPoints) {
        const int count = std::min(BandPoints, points - mBegin);
        for (int i = 0; i < rows; ++i) {
            const Stretch s { mBegin, count, lineDx_[i], lineDz_[i], m_ / 2.0,
                spectra_ + 2 * (static_cast<std::size_t>(spectrumStride_) * i + mBegin) };
#ifdef VEXA_GRIDDING_X86
            if (avx2) {
                footprintsAvx2(s, coef, f);
                spreadAvx2(grid_, colStride_, s, f);
                continue;
            }
#endif
            footprintsPortable(s, coef, f, 0);
            spreadPortable(grid_, colStride_, s, f);
        }
    }
}

void CtGridding::foldGrid()
{
    const int m = m_;
    const int cs = colStride_;
    auto cell = [&](int j, int r) {
        return grid_ + 2 * (static_cast<std::ptrdiff_t>(j + Pad) * cs + r + Pad);
    };
    // Rows: the frequency z is periodic with period m.
    for (int j = -Pad; j <= m / 2 + Pad; ++j) {
        for (int r = -Pad; r < 0; ++r) {
            float *src = cell(j, r);
            float *dst = cell(j, r + m);
            dst[0] += src[0];
            dst[1] += src[1];
            src[0] = src[1] = 0.0f;
        }
        for (int r = m; r < m + Pad; ++r) {
            float *src = cell(j, r);
            float *dst = cell(j, r - m);
            dst[0] += src[0];
            dst[1] += src[1];
            src[0] = src[1] = 0.0f;
        }
    }
    // Columns left of 0 and right of m / 2 are the mirror images of columns inside:
    // H(-j, -kz) = conj H(j, kz); row r stands for kz = r - m / 2, so -kz is row m - r.
    auto foldColumn = [&](int from, int to) {
        for (int r = 0; r < m; ++r) {
            float *src = cell(from, r);
            float *dst = cell(to, r == 0 ? 0 : m - r);
            dst[0] += src[0];
            dst[1] -= src[1];
        }
        std::fill(cell(from, -Pad), cell(from, -Pad) + 2 * cs, 0.0f);
    };
    for (int j = 1; j <= Pad; ++j) {
        foldColumn(-j, j);
        foldColumn(m / 2 + j, m / 2 - j);
    }
    // Columns 0 and m / 2 are their own mirror images.
    for (const int j : { 0, m / 2 }) {
        for (int r = 0; r <= m / 2; ++r) {
            const int s = r == 0 ? 0 : m - r;
            float *a = cell(j, r);
            float *b = cell(j, s);
            const float re = a[0] + b[0];
            const float im = a[1] - b[1];
            a[0] = re;
            a[1] = im;
            b[0] = re;
            b[1] = -im;
        }
    }
}

void CtGridding::transformAndCrop(int zLo, int zHi, int xLo, int xHi)
{
    const int m = m_;
    const int n = n_;
    const int g = n / 2;
    const int columns = m / 2 + 1;
    const std::size_t colFloats = 2 * static_cast<std::size_t>(colStride_);
    // First pass: every column of the half plane, keeping rows zLo ... zHi.
    for (int j0 = 0; j0 < columns; j0 += BlockColumns) {
        const int count = std::min(BlockColumns, columns - j0);
        float *in = grid_ + colFloats * (j0 + Pad) + 2 * Pad;
        if (count == BlockColumns) {
            fftwf_execute_dft(colPlan_, asComplex(in), asComplex(block_));
        } else {
            for (int b = 0; b < count; ++b)
                fftwf_execute_dft(colPlanOne_, asComplex(in + colFloats * b),
                    asComplex(block_ + 2 * static_cast<std::size_t>(m) * b));
        }
        for (int z = zLo; z <= zHi; ++z) {
            int zi = z - g;
            if (zi < 0)
                zi += m;
            float *dst = half_ + 2 * (static_cast<std::size_t>(rowStride_) * z + j0);
            for (int b = 0; b < count; ++b) {
                const float *src = block_ + 2 * (static_cast<std::size_t>(m) * b + zi);
                dst[2 * b] = src[0];
                dst[2 * b + 1] = src[1];
            }
        }
        // The grid is all zeros again for the next slice.
        std::fill(in - 2 * Pad, in - 2 * Pad + colFloats * count, 0.0f);
    }
    // Second pass: each slice row back to space, cropped, deapodised and scaled.
    // Without a projection count the back-projection divides by 1 instead of n P: the same
    // scale here.
    const double product = static_cast<double>(padN_) * projections_;
    const double scale = product > 0.0 ? 1.0 / product : static_cast<double>(n) / padN_;
    for (int z = zLo; z <= zHi; ++z) {
        const long long dz = z - g;
        const long long rem = static_cast<long long>(g) * g - dz * dz;
        if (rem <= 0)
            continue;
        const int d = spanHalfWidth(rem);
        const int xa = std::max(xLo, g - d);
        const int xb = std::min(xHi, g + d);
        if (xa > xb)
            continue;
        fftwf_execute_dft_c2r(
            linePlan_, asComplex(half_ + 2 * static_cast<std::size_t>(rowStride_) * z), line_);
        double *out = result_.data() + static_cast<std::size_t>(z) * n;
        const double rowScale = deapZ_[z] * scale;
        for (int x = xa; x <= xb; ++x) {
            int xi = x - g;
            if (xi < 0)
                xi += m;
            out[x] = static_cast<double>(line_[xi]) * deapX_[x] * rowScale;
        }
    }
}

bool CtGridding::reconstruct(
    const HSgm &sgm, double x0, double x1, double z0, double z1, double angle0, double dAngle)
{
    if (!sgm.hasData())
        return false;
    const int n = sgm.w / 2 * 2;
    const int rows = sgm.h;
    if (!prepare(n, rows))
        return false;
    initResult(n);
    if (rowAngles_) {
        for (int i = 0; i < rows; ++i)
            if (!std::isfinite(rowAngles_[i]))
                return false;
    } else if (!std::isfinite(angle0) || !std::isfinite(dAngle)
        || !std::isfinite(angle0 + (rows - 1) * dAngle)) {
        return false;
    }
    resultValid_ = true;
    if (std::isnan(x0) || std::isnan(x1) || std::isnan(z0) || std::isnan(z1))
        return true;
    // Rows inside the circle are 1 ... n - 1; the region cuts them.
    const int zLo = std::max(firstIndex(z0, n), 1);
    const int zHi = std::min(lastIndex(z1, n), n - 1);
    const int xLo = std::max(firstIndex(x0, n), 0);
    const int xHi = std::min(lastIndex(x1, n), n - 1);
    if (zLo > zHi || xLo > xHi)
        return true;

    for (int i = 0; i < rows; ++i)
        filterRow(sgm.sgmRow(i), i, rowAngles_ ? rowAngles_[i] : angle0 + i * dAngle);
    spreadAll(rows);
    foldGrid();
    transformAndCrop(zLo, zHi, xLo, xHi);
    return true;
}

void CtGridding::findMinMax()
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
