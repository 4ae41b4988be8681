#pragma once

#include "CtEngine.h"
#include "CtFilter.h"

#include <atomic>
#include <vector>

class HSgm;
struct fftw_plan_s;

// Filtered back-projection of one slice: forward FFT of every sinogram row, ramp filter
// (or another of CtFilterKind) and inverse FFT, then linear-interpolation back-projection
// into an N x N result.
// One engine per worker thread; only `setup` is meant for another thread, and only while
// the owner is idle. Plans are made under the program's FFTW planner lock, so `prepare`
// may re-size the engine on the worker's own thread as well.
class CtBackProj final : public CtEngine
{
public:
    CtBackProj();
    ~CtBackProj() override;
    CtBackProj(const CtBackProj &) = delete;
    CtBackProj &operator=(const CtBackProj &) = delete;

    // Sizes the transforms for length n (rounded down to even; below 2 the engine is
    // left empty) and per-row buffers for `projections` rows, which is also the divisor
    // of the normalisation. Buffers are kept when n is unchanged, grown when needed.
    void setup(int n, int projections);
    CtMethod method() const override { return CtMethod::Fbp; }
    void sizeForRun(int n, int projections) override { setup(n, projections); }
    // Makes the engine fit a slice of even width n and `rows` projections without
    // touching the divisor. Returns false when it cannot (n < 2, no memory).
    bool prepare(int n, int rows) override;
    // Result of n x n zeros, not valid.
    void initResult(int n) override;
    // The divisor of the normalisation: the number of projections a slice is made of.
    void setProjections(int projections) override { projections_ = projections; }

    // The filter of the following rows (Ramp at first). Choose it before fftRow; rows
    // transformed for another filter must be transformed again. False, and the engine keeps
    // no usable transforms, when the padded transforms cannot be made.
    bool setFilter(CtFilterKind kind) override;
    CtFilterKind filter() const override { return filter_; }
    // Length of the padded transform in use, 0 for Ramp.
    int paddedLength() const { return padN_; }

    // Forward transform of the first n samples of `row` into spectrum i. With a padded
    // filter the row is only kept: both of its transforms happen in filterRow.
    bool fftRow(const double *row, int i);
    // Filter and inverse transform of spectrum i into filtered row i.
    bool filterRow(int i);
    // Adds filtered row i, at angle angle0 + i * dAngle (radians), into the result over
    // the region x0 <= x < x1, z0 <= z < z1 inside the inscribed circle. Refuses (false,
    // result untouched) when the angle is not finite or the result is not n x n.
    bool backProject(
        int i, double x0, double x1, double z0, double z1, double angle0, double dAngle);
    // Angles of their own for the rows (radians; row i at angles[i], for projections that were
    // not taken at one common step): the back-projections use them instead of
    // angle0 + i * dAngle. The caller keeps the array alive while they run; nullptr returns
    // to the common step.
    void setRowAngles(const double *angles) override { rowAngles_ = angles; }
    // Rows 0 ... rows - 1 at once, in a cache-friendly order that keeps the summation
    // order of every pixel.
    bool backProjectAll(
        int rows, double x0, double x1, double z0, double z1, double angle0, double dAngle);
    // The same restricted to result rows zBegin <= z < zEnd. Calls on disjoint row ranges
    // may run on several threads at once: each writes only its own result rows and only
    // reads the filtered rows.
    bool backProjectRows(int rows, double x0, double x1, double z0, double z1, double angle0,
        double dAngle, int zBegin, int zEnd);
    // A whole slice from the attenuation rows of `sgm`: prepare, reset the result, all
    // forward transforms, all filters, all back-projections.
    bool reconstruct(const HSgm &sgm, double x0, double x1, double z0, double z1, double angle0,
        double dAngle) override;
    void findMinMax() override;

    int n() const { return n_; }
    int projections() const { return projections_; }
    int rowCapacity() const { return capacity_; }
    bool resultValid() const override { return resultValid_.load(std::memory_order_relaxed); }
    double resMin() const override { return resMin_; }
    double resMax() const override { return resMax_; }

    // The result is one contiguous row-major block of resultSize() x resultSize().
    int resultSize() const override { return resultN_; }
    const double *resultData() const override { return result_.data(); }
    const double *resultRow(int z) const
    {
        return result_.data() + static_cast<std::size_t>(z) * static_cast<std::size_t>(resultN_);
    }
    // Filtered value k of row i. The spectrum of row i as n (re, im) pairs (with a padded
    // filter: the n samples of the row): valid between fftRow(i) and filterRow(i), which
    // reuses its memory.
    double filtered(int i, int k) const;
    const double *spectrum(int i) const;

    // The loops that can do the back-projection. All give the same numbers, bit for bit;
    // they differ in speed and in the processors that can run them.
    enum class Path { Portable, Avx2, Avx512 };
    // Chooses the loop; false, and nothing changes, when this processor cannot run it.
    // Rows already filtered are kept (their tables are rearranged when the loop needs
    // another arrangement), so it may come between filterRow and backProject, but never
    // while a back-projection runs.
    bool setPath(Path path);
    Path path() const { return path_; }
    // The fastest loop this processor runs; a new engine starts with it.
    static Path bestPath();
    static bool pathAvailable(Path path);
    // Every loop this processor runs, slowest first.
    static std::vector<Path> availablePaths();
    static const char *pathName(Path path);
    // true: the fastest loop; false: the portable one.
    void setVectorised(bool on) { setPath(on ? bestPath() : Path::Portable); }
    // A vector loop faster than the portable one can run here.
    static bool vectorUnitAvailable() { return bestPath() != Path::Portable; }

private:
    bool resize(int n, int rows);
    bool makePaddedTransforms();
    bool filterPaddedRow(int i);
    void freePaddedTransforms();
    void freeTransforms();
    void freeRows();
    std::size_t rowStride() const;
    bool project(int pBegin, int pEnd, double x0, double x1, double z0, double z1, double angle0,
        double dAngle, int zBegin, int zEnd);
    // Writes the interpolation tables of row i from its n filtered values f.
    void storeTables(int i, const double *f, bool paired);
    bool pairedTables() const { return path_ == Path::Avx2; }

    int n_ = 0;
    int projections_ = 0;
    int capacity_ = 0;
    // FFTW complex arrays of n (pairs of doubles), from fftw_malloc.
    double *fwdIn_ = nullptr;
    double *fwdOut_ = nullptr;
    double *invIn_ = nullptr;
    double *invOut_ = nullptr;
    fftw_plan_s *fwdPlan_ = nullptr;
    fftw_plan_s *invPlan_ = nullptr;
    // Padded filters: real-to-complex and back on padN_ samples, the row followed by zeros;
    // response_ already holds the 1 / padN_ of the unnormalised inverse.
    const double *rowAngles_ = nullptr;
    CtFilterKind filter_ = CtFilterKind::Ramp;
    int padN_ = 0;
    double *padReal_ = nullptr; // padN_ doubles
    double *padSpec_ = nullptr; // padN_ / 2 + 1 complex values
    fftw_plan_s *padFwdPlan_ = nullptr;
    fftw_plan_s *padInvPlan_ = nullptr;
    std::vector<double> response_;
    // One block of rowStride() doubles per sinogram row. fftRow puts the row's spectrum
    // (n complex values) at its start; filterRow replaces it by the interpolation tables,
    // arranged for the loop in use (P: 16 doubles):
    // - split: values f[k] at P + k, then slopes f[k + 1] - f[k] at n + 3P + k, so that
    //   the AVX-512 loop loads a window of neighbouring entries of each at once;
    // - paired: (f[k], f[k + 1] - f[k]) at 2P + 2k, so that the AVX2 loop, which fetches
    //   every pixel's entries separately, gets both with one load.
    // Entry n - 1 and the padding around the tables are 0: a detector position on the
    // last sample adds nothing without a test per pixel, and vector loads around any k
    // stay inside the block. Keeping no separate spectra saves a third of the memory.
    double *rows_ = nullptr;
    std::vector<double> lastValue_; // f[n - 1] of each row, kept only to be read back
    // Per row: 0 while it holds a spectrum or nothing, else the arrangement of its tables.
    std::vector<unsigned char> tableKind_;
    Path path_ = bestPath();

    std::vector<double> result_;
    int resultN_ = 0;
    // Atomic because row-range calls on several threads all set it.
    std::atomic<bool> resultValid_ = false;
    double resMin_ = 0.0;
    double resMax_ = 0.0;
};
