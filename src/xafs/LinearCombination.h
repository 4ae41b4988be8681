#pragma once

#include <QString>

#include <cstddef>
#include <vector>

// Linear-combination fit of normalised spectra with reference spectra: non-negative weights,
// optionally summing to one, and the R-factor sum (y - fit)^2 / sum y^2 over the fit range.
//
// The references live on the stack's energies, so everything that does not depend on the
// spectrum (the Gram matrix of every subset of references and its inverse) is prepared once;
// fit() then costs a few dot products and allocates nothing. Non-negativity is exact: the
// optimum of a convex problem on the non-negative orthant is the unconstrained optimum on its
// own support, so the best feasible subset solution is the answer. That makes the cost grow
// as 2^K, which is why at most maxReferences references are taken.
class LinearCombination
{
public:
    static constexpr int maxReferences = 8;

    struct Reference
    {
        QString name; // the file's stem: names the fraction map
        std::vector<double> energies; // eV, increasing
        std::vector<double> values; // normalised mu
    };

    // Reads a two-column text file (energy in eV, normalised mu); lines starting with '#' or
    // holding no two numbers are skipped. False with `error` naming the file and line.
    static bool readReference(const QString &path, Reference &ref, QString *error);

    // `energies`: the stack's energies. The fit uses the energies within [fitFrom, fitTo] that
    // every reference covers (references are interpolated linearly, never extrapolated).
    LinearCombination(const std::vector<double> &energies, const std::vector<Reference> &refs,
        bool sumToOne, double fitFrom, double fitTo);

    bool valid() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    int count() const { return k_; }
    std::size_t fitBegin() const { return i0_; } // energy indices [fitBegin, fitEnd)
    std::size_t fitEnd() const { return i1_; }
    // Reference r on the stack energies (NaN outside what it covers).
    const std::vector<double> &sampled(int r) const { return a_[std::size_t(r)]; }

    // Fits y (normalised, on the stack energies). weights receives count() values.
    // Returns the R-factor; NaN (and NaN weights) when y has a non-finite value in the range.
    double fit(const double *y, double *weights) const;
    double fit(const float *y, double *weights) const;

private:
    struct Subset
    {
        unsigned mask = 0;
        std::vector<int> index; // references in the subset
        std::vector<double> inv; // inverse Gram matrix of the subset, row-major
        double ones = 0; // 1^T G^-1 1 (sum-to-one)
        std::vector<double> invOnes; // G^-1 1
    };
    template <typename T> double run(const T *y, double *weights) const;

    int k_ = 0;
    bool sumToOne_ = false;
    std::size_t i0_ = 0, i1_ = 0;
    std::vector<std::vector<double>> a_;
    std::vector<double> gram_; // k x k over the fit range
    std::vector<Subset> subsets_;
    QString error_;
};
