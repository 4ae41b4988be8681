#pragma once

#include <array>
#include <complex>
#include <vector>

// Sub-pixel translation between two volumes of one size by upsampled phase correlation
// (Guizar-Sicairos, Thurman & Fienup, Opt. Lett. 33, 156, 2008): the peak of the inverse
// transform of the cross-power spectrum (divided by the square root of its magnitude) gives the
// shift to a pixel, and a matrix-multiply DFT of the same spectrum on a grid `upsample` times finer
// over 1.5 pixels round that peak refines it. Both volumes have their mean taken off and are
// tapered by a Hann window first, so that the cut faces of a sub-volume do not pull the peak to
// zero; the measurement is repeated on the moving volume shifted by the estimate, since the fixed
// window itself pulls a little towards zero.
class PhaseCorrelation3D
{
public:
    // Volumes of nz x ny x nx values (x fastest). Makes the FFTW plans, under a lock.
    PhaseCorrelation3D(int nz, int ny, int nx);
    ~PhaseCorrelation3D();
    PhaseCorrelation3D(const PhaseCorrelation3D &) = delete;
    PhaseCorrelation3D &operator=(const PhaseCorrelation3D &) = delete;

    // The shift (z, y, x) in pixels that brings `moving` onto `fixed`: moving(p - shift)
    // matches fixed(p). `upsample` sets the precision (1 / upsample pixels).
    std::array<double, 3> measure(const float *fixed, const float *moving, int upsample = 50);

private:
    using cplx = std::complex<double>;
    void load(const float *v, cplx *out) const;
    void windowed(cplx *v) const;
    // The peak of the correlation, refined on a grid 1 / upsample fine over `width` pixels.
    std::array<double, 3> correlate(int upsample, double width);

    int n[3];
    std::vector<double> window;
    cplx *a = nullptr;
    cplx *b = nullptr;
    cplx *fixedSpec = nullptr;
    cplx *movingSpec = nullptr;
    void *forwardA = nullptr;
    void *inverseA = nullptr;
};
