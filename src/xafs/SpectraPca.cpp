#include "SpectraPca.h"

#include "ParallelRange.h"

#include <Eigen/Dense>

#include <algorithm>

namespace {
// Voxels converted to double at a time: a few MB per thread.
constexpr std::size_t kSub = 2048;
}

SpectraPca::SpectraPca(int energies, int workers)
    : n_(energies)
    , workers_(std::max(1, workers))
    , sum_(std::size_t(energies), 0.0)
    , outer_(std::size_t(energies) * std::size_t(energies), 0.0)
{ }

void SpectraPca::accumulate(const float *block, std::size_t voxels)
{
    const std::size_t n = std::size_t(n_);
    std::vector<Eigen::MatrixXd> outers(std::size_t(workers_), Eigen::MatrixXd::Zero(n_, n_));
    std::vector<Eigen::VectorXd> sums(std::size_t(workers_), Eigen::VectorXd::Zero(n_));
    parallelRange(voxels, workers_, [&](std::size_t b, std::size_t e, int w) {
        Eigen::MatrixXd x(std::min(kSub, std::max<std::size_t>(e - b, 1)), n_);
        for (std::size_t v0 = b; v0 < e; v0 += kSub) {
            const std::size_t m = std::min(kSub, e - v0);
            if (std::size_t(x.rows()) != m)
                x.resize(Eigen::Index(m), n_);
            for (std::size_t j = 0; j < n; ++j) {
                const float *src = block + j * voxels + v0;
                for (std::size_t i = 0; i < m; ++i)
                    x(Eigen::Index(i), Eigen::Index(j)) = double(src[i]);
            }
            outers[std::size_t(w)].selfadjointView<Eigen::Lower>().rankUpdate(x.transpose());
            sums[std::size_t(w)] += x.colwise().sum().transpose();
        }
    });
    Eigen::Map<Eigen::MatrixXd> outer(outer_.data(), n_, n_);
    Eigen::Map<Eigen::VectorXd> sum(sum_.data(), n_);
    for (int w = 0; w < workers_; ++w) {
        outer += outers[std::size_t(w)];
        sum += sums[std::size_t(w)];
    }
    count_ += voxels;
}

bool SpectraPca::finish(int k)
{
    if (count_ < 2 || k < 1 || k > n_)
        return false;
    k_ = k;
    Eigen::Map<const Eigen::MatrixXd> outer(outer_.data(), n_, n_);
    const Eigen::VectorXd mean
        = Eigen::Map<const Eigen::VectorXd>(sum_.data(), n_) / double(count_);
    Eigen::MatrixXd cov = outer.selfadjointView<Eigen::Lower>();
    cov = cov / double(count_) - mean * mean.transpose();
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(cov);
    const Eigen::VectorXd values = solver.eigenvalues(); // ascending
    eig_.resize(std::size_t(n_));
    double total = 0;
    for (int i = 0; i < n_; ++i) {
        eig_[std::size_t(i)] = std::max(0.0, values(n_ - 1 - i));
        total += eig_[std::size_t(i)];
    }
    double kept = 0;
    for (int i = 0; i < k; ++i)
        kept += eig_[std::size_t(i)];
    explained_ = total > 0 ? kept / total : 1.0;
    mean_.assign(mean.data(), mean.data() + n_);
    basis_.resize(std::size_t(n_) * std::size_t(k));
    for (int c = 0; c < k; ++c)
        for (int e = 0; e < n_; ++e)
            basis_[std::size_t(c) * std::size_t(n_) + std::size_t(e)]
                = solver.eigenvectors()(e, n_ - 1 - c);
    return true;
}

void SpectraPca::project(float *block, std::size_t voxels) const
{
    const std::size_t n = std::size_t(n_);
    Eigen::Map<const Eigen::MatrixXd> basis(basis_.data(), n_, k_);
    Eigen::Map<const Eigen::RowVectorXd> mean(mean_.data(), n_);
    parallelRange(voxels, workers_, [&](std::size_t b, std::size_t e, int) {
        Eigen::MatrixXd x(std::min(kSub, std::max<std::size_t>(e - b, 1)), n_);
        Eigen::MatrixXd c;
        for (std::size_t v0 = b; v0 < e; v0 += kSub) {
            const std::size_t m = std::min(kSub, e - v0);
            if (std::size_t(x.rows()) != m)
                x.resize(Eigen::Index(m), n_);
            for (std::size_t j = 0; j < n; ++j) {
                const float *src = block + j * voxels + v0;
                for (std::size_t i = 0; i < m; ++i)
                    x(Eigen::Index(i), Eigen::Index(j)) = double(src[i]) - mean(Eigen::Index(j));
            }
            c.noalias() = x * basis;
            x.noalias() = c * basis.transpose();
            for (std::size_t j = 0; j < n; ++j) {
                float *dst = block + j * voxels + v0;
                for (std::size_t i = 0; i < m; ++i)
                    dst[i] = float(x(Eigen::Index(i), Eigen::Index(j)) + mean(Eigen::Index(j)));
            }
        }
    });
}
