#pragma once

#include <cstddef>
#include <vector>

// Denoising of a spectral stack by principal components: the spectra (one per voxel) are
// centred on their mean and projected onto the K directions of largest variance.
//
// Two passes over the data, each by blocks, so that the stack never has to be in memory:
// accumulate() every block (sums in double), finish(K), then project() every block in place.
// Blocks are energy-major: value (energy e, voxel v) at block[e * voxels + v].
class SpectraPca
{
public:
    explicit SpectraPca(int energies, int workers = 1);

    void accumulate(const float *block, std::size_t voxels);
    // Keeps the k largest components; false when nothing was accumulated or k is out of range.
    bool finish(int k);
    void project(float *block, std::size_t voxels) const;

    int components() const { return k_; }
    // Share of the total variance that the kept components explain (0..1).
    double explainedVariance() const { return explained_; }
    // Variance of every component, largest first.
    const std::vector<double> &eigenvalues() const { return eig_; }
    std::size_t voxelCount() const { return count_; }

private:
    int n_ = 0;
    int workers_ = 1;
    int k_ = 0;
    std::size_t count_ = 0;
    std::vector<double> sum_; // n
    std::vector<double> outer_; // n x n, lower triangle filled
    std::vector<double> mean_; // n
    std::vector<double> basis_; // n x k, column-major
    std::vector<double> eig_;
    double explained_ = 0;
};
