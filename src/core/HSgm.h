#pragma once

#include <memory>
#include <vector>

// The sinogram of one slice: one row per projection used, each row the detector line
// resampled symmetrically around the centre of rotation. Passed between the sinogram
// builder and the reconstruction as a pointer; whoever owns it must not resize it while
// another thread reads it.
class HSgm
{
public:
    HSgm() = default;
    ~HSgm() = default;
    HSgm(const HSgm &) = delete;
    HSgm &operator=(const HSgm &) = delete;

    // Frees both arrays, records the size and allocates fresh (uninitialised) arrays
    // only when there is at least one sample: a negative width (a window that found no
    // room around the centre) is recorded but never allocated.
    void setSize(int w, int h);

    bool hasData() const { return sgm != nullptr && rawSgm != nullptr && w > 0 && h > 0; }
    double *sgmRow(int i) { return sgm.get() + static_cast<long long>(i) * w; }
    const double *sgmRow(int i) const { return sgm.get() + static_cast<long long>(i) * w; }
    double *rawRow(int i) { return rawSgm.get() + static_cast<long long>(i) * w; }
    const double *rawRow(int i) const { return rawSgm.get() + static_cast<long long>(i) * w; }

    std::unique_ptr<double[]> sgm; // ln((I0 - BG) / (I - BG)), w x h, row-major
    std::unique_ptr<double[]> rawSgm; // resampled transmitted intensities, same layout
    int w = 0;
    int h = 0;
    int slice = 0;
    // Set by the caller before the sinogram is built (ring removal on): detector pixels that
    // read the dark level or the top of the range in most projections are replaced from their
    // neighbours before the logarithm; the builder lists them in mendedPixels.
    bool mendDeadPixels = false;
    std::vector<int> mendedPixels;
};
