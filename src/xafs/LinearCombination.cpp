#include "LinearCombination.h"

#include <Eigen/Dense>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>

bool LinearCombination::readReference(const QString &path, Reference &ref, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot open the reference %1").arg(path);
        return false;
    }
    ref = Reference();
    ref.name = QFileInfo(path).completeBaseName();
    QTextStream in(&f);
    int line = 0;
    while (!in.atEnd()) {
        const QString text = in.readLine().trimmed();
        ++line;
        if (text.isEmpty() || text.startsWith(u'#'))
            continue;
        const QStringList items
            = text.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts);
        bool okE = false, okV = false;
        const double e = items.size() >= 2 ? items[0].toDouble(&okE) : 0;
        const double v = items.size() >= 2 ? items[1].toDouble(&okV) : 0;
        if (!okE || !okV)
            continue; // a header line
        if (!ref.energies.empty() && !(e > ref.energies.back())) {
            if (error)
                *error = QStringLiteral("energies do not increase at line %1 of %2")
                             .arg(line)
                             .arg(path);
            return false;
        }
        ref.energies.push_back(e);
        ref.values.push_back(v);
    }
    if (ref.energies.size() < 2) {
        if (error)
            *error = QStringLiteral("fewer than two energies in the reference %1").arg(path);
        return false;
    }
    return true;
}

LinearCombination::LinearCombination(const std::vector<double> &energies,
    const std::vector<Reference> &refs, bool sumToOne, double fitFrom, double fitTo)
    : k_(int(refs.size()))
    , sumToOne_(sumToOne)
{
    if (k_ < 1 || k_ > maxReferences) {
        error_ = QStringLiteral("between 1 and %1 references are needed, %2 given")
                     .arg(maxReferences)
                     .arg(k_);
        return;
    }
    const std::size_t n = energies.size();
    double lo = fitFrom, hi = fitTo;
    for (const Reference &r : refs) {
        lo = std::max(lo, r.energies.front());
        hi = std::min(hi, r.energies.back());
    }
    i0_ = std::lower_bound(energies.begin(), energies.end(), lo) - energies.begin();
    i1_ = std::upper_bound(energies.begin(), energies.end(), hi) - energies.begin();
    if (i1_ < i0_ + std::size_t(k_) + 1) {
        error_ = QStringLiteral("the references and the fit range share too few energies "
                                "(%1 to %2 eV)")
                     .arg(lo)
                     .arg(hi);
        i1_ = i0_;
        return;
    }
    a_.assign(std::size_t(k_), std::vector<double>(n, std::numeric_limits<double>::quiet_NaN()));
    for (int j = 0; j < k_; ++j) {
        const Reference &r = refs[std::size_t(j)];
        for (std::size_t i = 0; i < n; ++i) {
            const double e = energies[i];
            if (e < r.energies.front() || e > r.energies.back())
                continue;
            std::size_t u
                = std::upper_bound(r.energies.begin(), r.energies.end(), e) - r.energies.begin();
            u = std::clamp<std::size_t>(u, 1, r.energies.size() - 1);
            const double f = (e - r.energies[u - 1]) / (r.energies[u] - r.energies[u - 1]);
            a_[std::size_t(j)][i] = r.values[u - 1] + f * (r.values[u] - r.values[u - 1]);
        }
    }
    Eigen::MatrixXd g(k_, k_);
    for (int p = 0; p < k_; ++p)
        for (int q = 0; q < k_; ++q) {
            double s = 0;
            for (std::size_t i = i0_; i < i1_; ++i)
                s += a_[std::size_t(p)][i] * a_[std::size_t(q)][i];
            g(p, q) = s;
        }
    gram_.assign(g.data(), g.data() + k_ * k_);
    for (unsigned mask = 1; mask < (1u << k_); ++mask) {
        Subset s;
        s.mask = mask;
        for (int j = 0; j < k_; ++j)
            if (mask & (1u << j))
                s.index.push_back(j);
        const int m = int(s.index.size());
        Eigen::MatrixXd gs(m, m);
        for (int p = 0; p < m; ++p)
            for (int q = 0; q < m; ++q)
                gs(p, q) = g(s.index[std::size_t(p)], s.index[std::size_t(q)]);
        Eigen::FullPivLU<Eigen::MatrixXd> lu(gs);
        if (lu.rank() < m)
            continue; // references that are combinations of each other: a smaller subset serves
        const Eigen::MatrixXd inv = lu.inverse();
        s.inv.assign(std::size_t(m * m), 0);
        for (int p = 0; p < m; ++p)
            for (int q = 0; q < m; ++q)
                s.inv[std::size_t(p * m + q)] = inv(p, q);
        const Eigen::VectorXd io = inv * Eigen::VectorXd::Ones(m);
        s.invOnes.assign(io.data(), io.data() + m);
        s.ones = io.sum();
        subsets_.push_back(std::move(s));
    }
    if (subsets_.empty())
        error_ = QStringLiteral("the references are not independent");
}

double LinearCombination::fit(const double *y, double *weights) const
{
    return run(y, weights);
}

double LinearCombination::fit(const float *y, double *weights) const
{
    return run(y, weights);
}

template <typename T> double LinearCombination::run(const T *y, double *weights) const
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::fill(weights, weights + k_, nan);
    if (!valid())
        return nan;
    double b[maxReferences];
    double yy = 0;
    for (std::size_t i = i0_; i < i1_; ++i)
        yy += double(y[i]) * double(y[i]);
    if (!std::isfinite(yy) || !(yy > 0))
        return nan;
    for (int j = 0; j < k_; ++j) {
        const double *a = a_[std::size_t(j)].data();
        double s = 0;
        for (std::size_t i = i0_; i < i1_; ++i)
            s += a[i] * double(y[i]);
        b[j] = s;
    }
    double best = std::numeric_limits<double>::infinity();
    double x[maxReferences];
    double bestX[maxReferences] = {};
    for (const Subset &s : subsets_) {
        const int m = int(s.index.size());
        double lambda = 0;
        for (int p = 0; p < m; ++p) {
            double v = 0;
            for (int q = 0; q < m; ++q)
                v += s.inv[std::size_t(p * m + q)] * b[s.index[std::size_t(q)]];
            x[p] = v;
        }
        if (sumToOne_) {
            double sum = 0;
            for (int p = 0; p < m; ++p)
                sum += x[p];
            lambda = (sum - 1) / s.ones;
            for (int p = 0; p < m; ++p)
                x[p] -= lambda * s.invOnes[std::size_t(p)];
        }
        bool feasible = true;
        for (int p = 0; p < m; ++p)
            feasible = feasible && x[p] >= 0;
        if (!feasible)
            continue;
        // |y - A x|^2 = y.y - 2 x.b + x^T G x
        double r = yy;
        for (int p = 0; p < m; ++p) {
            const int ip = s.index[std::size_t(p)];
            r -= 2 * x[p] * b[ip];
            for (int q = 0; q < m; ++q)
                r += x[p] * x[q] * gram_[std::size_t(ip * k_ + s.index[std::size_t(q)])];
        }
        if (r < best) {
            best = r;
            std::fill(bestX, bestX + k_, 0.0);
            for (int p = 0; p < m; ++p)
                bestX[s.index[std::size_t(p)]] = x[p];
        }
    }
    if (!std::isfinite(best)) {
        if (sumToOne_)
            return nan;
        // No reference with a positive weight: the zero spectrum is the best fit.
        std::fill(weights, weights + k_, 0.0);
        return 1.0;
    }
    std::copy(bestX, bestX + k_, weights);
    return std::max(0.0, best) / yy;
}
