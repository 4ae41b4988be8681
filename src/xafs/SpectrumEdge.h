#pragma once

#include <cstddef>
#include <limits>
#include <vector>

// Edge analysis of one absorption spectrum mu(E): edge position E0, pre-edge line, post-edge
// line or quadratic, edge step, normalised spectrum, half-height energy and white line.
//
// One object serves many spectra on the same energies: the sums of energy powers that the
// range fits need are prepared once, and analyse() allocates nothing, so a worker thread keeps
// one object and runs it over millions of voxels.
class SpectrumEdge
{
public:
    struct Params
    {
        // Fit ranges relative to E0 in eV: pre-edge [preFrom, preTo], post-edge [postFrom, postTo].
        double preFrom = -150, preTo = -30;
        double postFrom = 30, postTo = 150;
        int postOrder = 2; // 1: line, 2: quadratic
        // Passes of the [1 2 1] / 4 smoothing before the derivative that finds E0.
        int smoothing = 1;
        // E0 given for every spectrum (eV); NaN: found from the derivative.
        double fixedE0 = std::numeric_limits<double>::quiet_NaN();
        // How far above E0 the white line is looked for (eV).
        double whiteLineSpan = 30;
    };

    struct Result
    {
        double e0 = 0; // eV
        double e0Half = 0; // eV, where the normalised spectrum crosses 0.5 next to E0
        double step = 0; // post(E0) - pre(E0)
        double preRms = 0; // rms residual of the pre-edge line: the spectrum's noise
        // Standard error of the step for noise of preRms on every energy: the two fits'
        // uncertainty at E0 (large where a fit is extrapolated far or rests on few energies).
        double stepError = 0;
        double whiteLine = 0; // highest normalised value within whiteLineSpan above E0
        double whiteLineEnergy = 0; // eV
        double pre[2] = { 0, 0 }; // pre(E) = pre[0] + pre[1] * (E - eRef)
        double post[3] = { 0, 0, 0 }; // post(E) = post[0] + post[1] x + post[2] x^2, x = E - eRef
        bool ok = false; // false: a range held too few energies or the step was not finite
    };

    // `energies` must be strictly increasing (eV).
    SpectrumEdge(std::vector<double> energies, const Params &params);

    const std::vector<double> &energies() const { return e_; }
    const Params &params() const { return p_; }
    std::size_t workSize() const { return 3 * e_.size(); }
    double eRef() const { return eRef_; }

    // Analyses mu (energies().size() values). `normalised`, when not null, receives
    // (mu - pre(E)) / step for every energy. `work` must hold workSize() doubles.
    Result analyse(const float *mu, double *work, float *normalised = nullptr) const;
    Result analyse(const double *mu, double *work, double *normalised = nullptr) const;
    // The same for a spectrum whose values lie `stride` floats apart (mu[i * stride]).
    Result analyse(const float *mu, std::size_t stride, double *work, float *normalised) const;

    // Energy of the largest slope (eV): the smoothing passes find the steepest step between
    // neighbours; the quintic through the six measured values around it places the maximum
    // of the slope between grid points. `work` holds 2 * n doubles.
    // `inverses`, when given, is the table quinticInverses() made for these energies.
    // `invSteps`, when given, holds 1 / (E[i+1] - E[i]) for these energies.
    static double edgeEnergy(const std::vector<double> &energies, const double *mu, int smoothing,
        double *work, const std::vector<double> *inverses = nullptr,
        const double *invSteps = nullptr);
    // For every steepest step i: the inverse of the 6 x 6 matrix that maps the six values
    // around it to the quintic's coefficients (36 values at 36 * i; NaN first where the
    // energies there are uneven). The same for every spectrum on these energies.
    static std::vector<double> quinticInverses(const std::vector<double> &energies);

    // Default fit ranges for the energies present around an edge at e0, in the manner of the
    // usual XAFS programs: the pre-edge from the first energy to a third of the way to the edge
    // (no closer than 10 eV and no farther than 30 eV below the edge), the post-edge from
    // 30 eV (or 30 % of the span above the edge, whichever is smaller) to the last energy.
    static void defaultRanges(const std::vector<double> &energies, double e0, Params &params);

    double preAt(const Result &r, double energy) const;
    double postAt(const Result &r, double energy) const;

private:
    template <typename T>
    Result run(const T *mu, std::size_t stride, double *work, T *normalised) const;
    // Least-squares polynomial (order 1 or 2) over energies [i0, i1) of y, in x = E - eRef.
    // `leverage` (may be null) receives v^T (X^T X)^-1 v at x = x0: the variance of the fitted
    // value there per unit noise variance.
    bool fitPoly(const double *y, std::size_t i0, std::size_t i1, int order, double *c,
        double x0 = 0, double *leverage = nullptr) const;
    std::size_t lowerIndex(double energy) const; // first index with E >= energy

    std::vector<double> e_;
    std::vector<double> x_; // E - eRef
    std::vector<double> quintic_;
    std::vector<double> invStep_; // 1 / (E[i+1] - E[i])
    // Prefix sums of x^k, k = 0..4: sums over [i0, i1) without a loop.
    std::vector<double> sx_[5];
    Params p_;
    double eRef_ = 0;
};
