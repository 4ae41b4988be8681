#pragma once

#include "CtEngine.h"
#include "CtFilter.h"

#include <vector>

class HSgm;
struct fftwf_plan_s;

// Reconstruction of one slice by direct Fourier inversion with gridding: the filtered
// spectrum of every projection is laid, by the Fourier slice theorem, on a radial line of a
// Cartesian frequency grid (interpolated onto the grid with a Kaiser-Bessel kernel), and one
// two-dimensional inverse transform gives the slice. It computes the same sum as the
// filtered back-projection with the padded ramp, except that the filtered projections are
// interpolated with their own band limit instead of linearly, in O(N^2 log N + N P) time
// instead of O(N^2 P).
//
// Same surface as CtBackProj: sized for a length and projection count (the divisor of the
// normalisation, so both engines give the same scale), fed the sinogram rows of a slice, it
// fills an N x N result on the same pixel grid, inside the inscribed circle and the
// calculation region only. Single precision inside, double result.
//
// One engine per worker thread; only `setup` is meant for another thread, and only while
// the owner is idle. Plans are made under the program's FFTW planner lock.
class CtGridding final : public CtEngine
{
public:
    CtGridding();
    ~CtGridding() override;
    CtGridding(const CtGridding &) = delete;
    CtGridding &operator=(const CtGridding &) = delete;

    // Sizes the transforms for rows of length n (rounded down to even; below 2 the engine is
    // left empty) and keeps `projections` as the divisor of the normalisation.
    void setup(int n, int projections);
    CtMethod method() const override { return CtMethod::Gridding; }
    // The transforms are made at the first slice: a run only sets the divisor.
    void sizeForRun(int, int projections) override { setProjections(projections); }
    // Makes the engine fit a slice of even width n and `rows` projections without touching
    // the divisor. False when it cannot (n < 2, no memory).
    bool prepare(int n, int rows) override;
    // The filter of the projections (RampPadded at first). Ramp, the unpadded filter, has no
    // place here: the projections are always padded, and RampPadded, its nearest equivalent,
    // stands in for it. Takes effect at once, also between slices; false (and nothing
    // changes) when its table cannot be made.
    bool setFilter(CtFilterKind kind) override;
    CtFilterKind filter() const override { return filter_; }
    // Angles of their own for the rows (radians, row i at angles[i]), used instead of
    // angle0 + i * dAngle; the caller keeps the array alive while reconstruct runs; nullptr
    // returns to the common step.
    void setRowAngles(const double *angles) override { rowAngles_ = angles; }
    // The divisor of the normalisation alone, without sizing anything.
    void setProjections(int projections) override { projections_ = projections; }
    // Result of n x n zeros, not valid.
    void initResult(int n) override;

    // A whole slice from the first n = w / 2 * 2 samples of the attenuation rows of `sgm`,
    // row i taken at angle angle0 + i * dAngle (radians), into the region x0 <= x < x1,
    // z0 <= z < z1 inside the inscribed circle; the rest of the result is 0. False (result
    // not valid) for an empty sinogram, angles that are not finite or no memory.
    bool reconstruct(const HSgm &sgm, double x0, double x1, double z0, double z1, double angle0,
        double dAngle) override;
    void findMinMax() override;

    int n() const { return n_; }
    int projections() const { return projections_; }
    // Length of the zero-padded transform of a projection and of the frequency grid side.
    int paddedLength() const { return padN_; }
    int gridSize() const { return m_; }

    bool resultValid() const override { return resultValid_; }
    double resMin() const override { return resMin_; }
    double resMax() const override { return resMax_; }
    int resultSize() const override { return resultN_; }
    const double *resultData() const override { return result_.data(); }
    const double *resultRow(int z) const
    {
        return result_.data() + static_cast<std::size_t>(z) * static_cast<std::size_t>(resultN_);
    }

private:
    bool resize(int n, int rows);
    bool makeTransforms(int n);
    void freeAll();
    void filterRow(const double *row, int i, double angle);
    void spreadAll(int rows);
    void foldGrid();
    void transformAndCrop(int zLo, int zHi, int xLo, int xHi);

    int n_ = 0;
    int projections_ = 0;
    int padN_ = 0; // padded projection length
    int m_ = 0; // grid side
    int colStride_ = 0; // complex values per grid column, pads included
    int rowStride_ = 0; // complex values per row of the half spectrum after the first pass
    int spectrumStride_ = 0; // complex values per filtered projection spectrum
    int capacity_ = 0; // projections the spectra have room for

    // FFTW arrays (fftwf_malloc), floats; complex values are (re, im) pairs.
    float *padIn_ = nullptr; // padN_ reals: one projection around its centre, zero elsewhere
    float *spectra_ = nullptr; // per projection padN_ / 2 + 1 complex, filtered
    float *grid_ = nullptr; // cols_ columns of colStride_ complex, frequency x by column
    float *block_ = nullptr; // the first pass's output for a block of columns
    float *half_ = nullptr; // n rows of rowStride_ complex: the slice's rows, x still in frequency
    float *line_ = nullptr; // m_ reals: one row of the slice before cropping
    fftwf_plan_s *rowPlan_ = nullptr; // projection, real to complex
    fftwf_plan_s *colPlan_ = nullptr; // a block of grid columns, complex inverse
    fftwf_plan_s *colPlanOne_ = nullptr; // one column, for the last block
    fftwf_plan_s *linePlan_ = nullptr; // one row, complex to real inverse

    const double *rowAngles_ = nullptr;
    CtFilterKind filter_ = CtFilterKind::RampPadded;
    std::vector<float> response_; // filter of the padded transform, padN_ / 2 + 1
    std::vector<float> kernel_; // the kernel's weights as polynomials, see CtGridding.cpp
    // Per projection: the step along its radial line, in grid cells (x >= 0).
    std::vector<double> lineDx_, lineDz_;
    std::vector<double> deapX_; // per result column: 1 / kernel transform
    std::vector<double> deapZ_; // per result row: the same with the sign of the centred grid
    // Per point of a stretch of one radial line: where its footprint starts, its weights.
    std::vector<int> pointCol_, pointRow_;
    std::vector<float> pointWx_, pointWz_;

    std::vector<double> result_;
    int resultN_ = 0;
    bool resultValid_ = false;
    double resMin_ = 0.0;
    double resMax_ = 0.0;
};
