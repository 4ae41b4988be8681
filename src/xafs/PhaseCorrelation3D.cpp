#include "PhaseCorrelation3D.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

namespace {

// FFTW's planner keeps global state: one plan is made or destroyed at a time.
std::mutex &plannerMutex()
{
    static std::mutex m;
    return m;
}

// Frequency of index k of an n-point transform, in cycles per n samples.
inline double freq(int k, int n)
{
    return k < (n + 1) / 2 ? k : k - n;
}

std::vector<double> hann(int n)
{
    std::vector<double> w(size_t(n), 1.0);
    if (n > 2) {
        for (int i = 0; i < n; ++i)
            w[size_t(i)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (i + 0.5) / n);
    }
    return w;
}

} // namespace

PhaseCorrelation3D::PhaseCorrelation3D(int nz, int ny, int nx)
    : n { nz, ny, nx }
{
    const size_t total = size_t(nz) * ny * nx;
    const auto wz = hann(nz), wy = hann(ny), wx = hann(nx);
    window.resize(total);
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x)
                window[(size_t(z) * ny + y) * nx + x]
                    = wz[size_t(z)] * wy[size_t(y)] * wx[size_t(x)];
    std::lock_guard<std::mutex> lock(plannerMutex());
    a = reinterpret_cast<cplx *>(fftw_malloc(sizeof(cplx) * total));
    b = reinterpret_cast<cplx *>(fftw_malloc(sizeof(cplx) * total));
    fixedSpec = reinterpret_cast<cplx *>(fftw_malloc(sizeof(cplx) * total));
    movingSpec = reinterpret_cast<cplx *>(fftw_malloc(sizeof(cplx) * total));
    auto *fa = reinterpret_cast<fftw_complex *>(a);
    forwardA = fftw_plan_dft_3d(nz, ny, nx, fa, fa, FFTW_FORWARD, FFTW_ESTIMATE);
    inverseA = fftw_plan_dft_3d(nz, ny, nx, fa, fa, FFTW_BACKWARD, FFTW_ESTIMATE);
}

PhaseCorrelation3D::~PhaseCorrelation3D()
{
    std::lock_guard<std::mutex> lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(forwardA));
    fftw_destroy_plan(static_cast<fftw_plan>(inverseA));
    fftw_free(a);
    fftw_free(b);
    fftw_free(fixedSpec);
    fftw_free(movingSpec);
}

void PhaseCorrelation3D::load(const float *v, cplx *out) const
{
    const size_t total = window.size();
    double mean = 0;
    for (size_t i = 0; i < total; ++i)
        mean += std::isfinite(v[i]) ? v[i] : 0.0;
    mean /= double(total);
    for (size_t i = 0; i < total; ++i)
        out[i] = cplx((std::isfinite(v[i]) ? v[i] : 0.0) - mean, 0.0);
}

void PhaseCorrelation3D::windowed(cplx *v) const
{
    const size_t total = window.size();
    double mean = 0;
    for (size_t i = 0; i < total; ++i)
        mean += v[i].real();
    mean /= double(total);
    for (size_t i = 0; i < total; ++i)
        v[i] = cplx((v[i].real() - mean) * window[i], 0.0);
}

std::array<double, 3> PhaseCorrelation3D::measure(
    const float *fixed, const float *moving, int upsample)
{
    const size_t total = window.size();
    load(fixed, a);
    windowed(a);
    fftw_execute(static_cast<fftw_plan>(forwardA));
    std::copy_n(a, total, fixedSpec);
    load(moving, a);
    fftw_execute(static_cast<fftw_plan>(forwardA));
    std::copy_n(a, total, movingSpec);
    load(moving, a);
    windowed(a);
    fftw_execute(static_cast<fftw_plan>(forwardA));

    // The window is not moved with the sample, so a shift measured through it comes out a
    // little short. Measured again on the moving volume shifted by the estimate, the rest is
    // small and so is its error: two rounds bring it below a hundredth of a pixel.
    std::array<double, 3> d = correlate(std::min(upsample, 10), 1.5);
    std::vector<cplx> phase[3];
    for (int round = 0; round < 3; ++round) {
        // moving(p - d) by the shift theorem (one phase factor per axis), then windowed like
        // the fixed volume.
        for (int ax = 0; ax < 3; ++ax) {
            phase[ax].resize(size_t(n[ax]));
            for (int k = 0; k < n[ax]; ++k)
                phase[ax][size_t(k)] = std::polar(
                    1.0, -2 * std::numbers::pi * freq(k, n[ax]) * d[size_t(ax)] / n[ax]);
        }
        const double scale = 1.0 / double(total);
        for (int z = 0; z < n[0]; ++z)
            for (int y = 0; y < n[1]; ++y) {
                const cplx pzy = phase[0][size_t(z)] * phase[1][size_t(y)] * scale;
                const size_t row = (size_t(z) * n[1] + y) * n[2];
                for (int x = 0; x < n[2]; ++x)
                    a[row + x] = movingSpec[row + x] * (pzy * phase[2][size_t(x)]);
            }
        fftw_execute(static_cast<fftw_plan>(inverseA));
        windowed(a);
        fftw_execute(static_cast<fftw_plan>(forwardA));
        // The rest is a fraction of a pixel: a narrower fine grid round it does.
        const auto r = correlate(upsample, round == 0 ? 1.0 : 0.5);
        for (int i = 0; i < 3; ++i)
            d[size_t(i)] += r[size_t(i)];
        if (std::max({ std::abs(r[0]), std::abs(r[1]), std::abs(r[2]) }) < 0.5 / upsample)
            break;
    }
    return d;
}

std::array<double, 3> PhaseCorrelation3D::correlate(int upsample, double width)
{
    // On entry `a` holds the windowed moving volume's spectrum.
    const size_t total = window.size();
    // Cross-power spectrum: fixed = moving shifted by d gives |.| exp(-2 pi i k d / n), whose
    // inverse transform peaks at d. Divided by the square root of its magnitude: half-way to
    // the pure phase, which stays sharp when the contrast changes across the edge, without
    // giving the faint high frequencies (noise, rounding, the cut faces) full weight, which
    // costs sub-pixel accuracy. Kept in b for the refinement.
    double largest = 0;
    for (size_t i = 0; i < total; ++i) {
        const cplx f = fixedSpec[i], g = a[i];
        b[i] = cplx(
            f.real() * g.real() + f.imag() * g.imag(), f.imag() * g.real() - f.real() * g.imag());
        largest = std::max(largest, std::norm(b[i]));
    }
    const double floor = largest * 1e-24 + 1e-300;
    for (size_t i = 0; i < total; ++i) {
        b[i] /= std::sqrt(std::sqrt(std::norm(b[i]) + floor));
        a[i] = b[i];
    }
    fftw_execute(static_cast<fftw_plan>(inverseA));
    size_t best = 0;
    for (size_t i = 1; i < total; ++i) {
        if (a[i].real() > a[best].real())
            best = i;
    }
    const int pz = int(best / (size_t(n[1]) * n[2]));
    const int py = int(best / size_t(n[2]) % size_t(n[1]));
    const int px = int(best % size_t(n[2]));
    std::array<double, 3> d { freq(pz, n[0]), freq(py, n[1]), freq(px, n[2]) };
    if (upsample <= 1)
        return d;

    // The correlation at d + (j - m / 2) / upsample on each axis, j = 0 ... m - 1, as three
    // matrix products with the spectrum (axis x first, then y, then z).
    const int m = int(std::ceil(width * upsample)) | 1;
    const int half = m / 2;
    std::vector<cplx> kernel[3];
    for (int ax = 0; ax < 3; ++ax) {
        kernel[ax].resize(size_t(m) * n[ax]);
        for (int j = 0; j < m; ++j) {
            const double pos = d[size_t(ax)] + double(j - half) / upsample;
            for (int k = 0; k < n[ax]; ++k)
                kernel[ax][size_t(j) * n[ax] + k]
                    = std::polar(1.0, 2 * std::numbers::pi * freq(k, n[ax]) * pos / n[ax]);
        }
    }
    const int nz = n[0], ny = n[1], nx = n[2];
    std::vector<cplx> t1(size_t(nz) * ny * m, cplx(0)), t2(size_t(nz) * m * m, cplx(0)),
        t3(size_t(m) * m * m, cplx(0));
    // Loops ordered so that the innermost runs along contiguous memory without a reduction,
    // which lets it vectorise.
    const auto mac = [](cplx *acc, const cplx *src, cplx w, int count) {
        for (int i = 0; i < count; ++i)
            acc[i] = cplx(acc[i].real() + src[i].real() * w.real() - src[i].imag() * w.imag(),
                acc[i].imag() + src[i].real() * w.imag() + src[i].imag() * w.real());
    };
    std::vector<cplx> kxT(size_t(nx) * m);
    for (int j = 0; j < m; ++j)
        for (int k = 0; k < nx; ++k)
            kxT[size_t(k) * m + j] = kernel[2][size_t(j) * nx + k];
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y) {
            const cplx *row = b + (size_t(z) * ny + y) * nx;
            cplx *out = t1.data() + (size_t(z) * ny + y) * m;
            for (int k = 0; k < nx; ++k)
                mac(out, kxT.data() + size_t(k) * m, row[k], m);
        }
    for (int z = 0; z < nz; ++z)
        for (int jy = 0; jy < m; ++jy)
            for (int y = 0; y < ny; ++y)
                mac(t2.data() + (size_t(z) * m + jy) * m, t1.data() + (size_t(z) * ny + y) * m,
                    kernel[1][size_t(jy) * ny + y], m);
    for (int jz = 0; jz < m; ++jz)
        for (int z = 0; z < nz; ++z)
            mac(t3.data() + size_t(jz) * m * m, t2.data() + size_t(z) * m * m,
                kernel[0][size_t(jz) * nz + z], m * m);
    size_t top = 0;
    for (size_t i = 1; i < t3.size(); ++i) {
        if (t3[i].real() > t3[top].real())
            top = i;
    }
    const int jz = int(top / (size_t(m) * m)), jy = int(top / size_t(m) % size_t(m)),
              jx = int(top % size_t(m));
    d[0] += double(jz - half) / upsample;
    d[1] += double(jy - half) / upsample;
    d[2] += double(jx - half) / upsample;
    return d;
}
