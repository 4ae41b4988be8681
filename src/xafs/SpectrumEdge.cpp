#include "SpectrumEdge.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Vertex abscissa of the parabola through three points (x strictly increasing); the middle x
// when the points are collinear or the vertex falls outside [x0, x2].
double vertexX(double x0, double y0, double x1, double y1, double x2, double y2)
{
    const double d01 = (y1 - y0) / (x1 - x0);
    const double d12 = (y2 - y1) / (x2 - x1);
    const double a = (d12 - d01) / (x2 - x0); // second divided difference
    if (!(a < 0) && !(a > 0))
        return x1;
    // p(x) = y0 + d01 (x - x0) + a (x - x0)(x - x1); p'(x) = 0:
    const double v = 0.5 * (x0 + x1) - d01 / (2 * a);
    return std::clamp(v, x0, x2);
}

double parabolaAt(double x0, double y0, double x1, double y1, double x2, double y2, double x)
{
    const double d01 = (y1 - y0) / (x1 - x0);
    const double d12 = (y2 - y1) / (x2 - x1);
    const double a = (d12 - d01) / (x2 - x0);
    return y0 + d01 * (x - x0) + a * (x - x0) * (x - x1);
}

} // namespace

SpectrumEdge::SpectrumEdge(std::vector<double> energies, const Params &params)
    : e_(std::move(energies))
    , p_(params)
{
    const std::size_t n = e_.size();
    eRef_ = n ? 0.5 * (e_.front() + e_.back()) : 0;
    x_.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        x_[i] = e_[i] - eRef_;
    quintic_ = quinticInverses(e_);
    invStep_.resize(n > 1 ? n - 1 : 0);
    for (std::size_t i = 0; i + 1 < n; ++i)
        invStep_[i] = 1.0 / (e_[i + 1] - e_[i]);
    for (int k = 0; k < 5; ++k) {
        sx_[k].assign(n + 1, 0.0);
        for (std::size_t i = 0; i < n; ++i)
            sx_[k][i + 1] = sx_[k][i] + std::pow(x_[i], k);
    }
}

std::size_t SpectrumEdge::lowerIndex(double energy) const
{
    return std::size_t(std::lower_bound(e_.begin(), e_.end(), energy) - e_.begin());
}

namespace {

// The quintic window of the steepest step i: energies i-2 ... i+3, centred on the step's
// midpoint, in units of the step. False where the window leaves the energies or is uneven.
bool quinticWindow(const std::vector<double> &e, std::size_t i, double &c0, double &h)
{
    const std::size_t n = e.size();
    if (i < 2 || i + 4 > n)
        return false;
    double hMin = 1e300, hMax = 0;
    for (std::size_t j = i - 2; j < i + 3; ++j) {
        hMin = std::min(hMin, e[j + 1] - e[j]);
        hMax = std::max(hMax, e[j + 1] - e[j]);
    }
    if (hMax > 1.5 * hMin)
        return false;
    c0 = 0.5 * (e[i] + e[i + 1]);
    h = e[i + 1] - e[i];
    return true;
}

// Inverse of the Vandermonde matrix of the window (row-major, 6 x 6) by Gauss-Jordan.
void invertWindow(const std::vector<double> &e, std::size_t i, double c0, double h, double *inv)
{
    double a[6][12];
    for (int r = 0; r < 6; ++r) {
        const double x = (e[i - 2 + std::size_t(r)] - c0) / h;
        double p = 1;
        for (int c = 0; c < 6; ++c, p *= x)
            a[r][c] = p;
        for (int c = 0; c < 6; ++c)
            a[r][6 + c] = r == c ? 1 : 0;
    }
    for (int c = 0; c < 6; ++c) {
        int piv = c;
        for (int r = c + 1; r < 6; ++r)
            if (std::abs(a[r][c]) > std::abs(a[piv][c]))
                piv = r;
        if (piv != c)
            for (int k = 0; k < 12; ++k)
                std::swap(a[c][k], a[piv][k]);
        const double d = a[c][c];
        for (int k = 0; k < 12; ++k)
            a[c][k] /= d;
        for (int r = 0; r < 6; ++r)
            if (r != c) {
                const double f = a[r][c];
                for (int k = 0; k < 12; ++k)
                    a[r][k] -= f * a[c][k];
            }
    }
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 6; ++c)
            inv[r * 6 + c] = a[r][6 + c];
}

} // namespace

std::vector<double> SpectrumEdge::quinticInverses(const std::vector<double> &energies)
{
    const std::size_t n = energies.size();
    std::vector<double> t(36 * n, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < n; ++i) {
        double c0, h;
        if (quinticWindow(energies, i, c0, h))
            invertWindow(energies, i, c0, h, t.data() + 36 * i);
    }
    return t;
}

double SpectrumEdge::edgeEnergy(const std::vector<double> &energies, const double *mu,
    int smoothing, double *work, const std::vector<double> *inverses, const double *invSteps)
{
    const std::size_t n = energies.size();
    if (n < 2)
        return n ? energies[0] : std::numeric_limits<double>::quiet_NaN();
    double *s = work;
    double *t = work + n;
    std::copy(mu, mu + n, s);
    for (int pass = 0; pass < smoothing && n >= 3; ++pass) {
        t[0] = s[0];
        t[n - 1] = s[n - 1];
        for (std::size_t i = 1; i + 1 < n; ++i)
            t[i] = 0.25 * (s[i - 1] + 2 * s[i] + s[i + 1]);
        std::swap(s, t);
    }
    // Slopes between neighbours belong to the midpoints: exact to second order on any grid.
    if (invSteps)
        for (std::size_t i = 0; i + 1 < n; ++i)
            t[i] = (s[i + 1] - s[i]) * invSteps[i];
    else
        for (std::size_t i = 0; i + 1 < n; ++i)
            t[i] = (s[i + 1] - s[i]) / (energies[i + 1] - energies[i]);
    std::size_t best = 0;
    double bestSlope = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i + 1 < n; ++i)
        if (t[i] > bestSlope) {
            bestSlope = t[i];
            best = i;
        }
    auto mid = [&](std::size_t i) { return 0.5 * (energies[i] + energies[i + 1]); };
    if (best == 0 || best + 2 >= n)
        return mid(best);
    const double coarse
        = vertexX(mid(best - 1), t[best - 1], mid(best), t[best], mid(best + 1), t[best + 1]);
    // Sub-grid refinement on the measured values: the quintic through the six energies around
    // the steepest step, whose slope is largest where the spectrum's is. A parabola through
    // the slopes misplaces an asymmetric peak (an edge with a white line) by a tenth of the
    // grid step or more; the quintic stays within a few hundredths of an eV on a 0.5 eV grid
    // for edges 1 eV wide. On an uneven grid (a coarse step in the window) the parabola stays.
    double c0, h;
    if (!quinticWindow(energies, best, c0, h))
        return coarse;
    double own[36];
    const double *inv = own;
    if (inverses && inverses->size() == 36 * n)
        inv = inverses->data() + 36 * best;
    else
        invertWindow(energies, best, c0, h, own);
    if (std::isnan(inv[0]))
        return coarse;
    double q[6];
    const double *y = mu + (best - 2);
    for (int r = 0; r < 6; ++r)
        q[r] = inv[r * 6 + 0] * y[0] + inv[r * 6 + 1] * y[1] + inv[r * 6 + 2] * y[2]
            + inv[r * 6 + 3] * y[3] + inv[r * 6 + 4] * y[4] + inv[r * 6 + 5] * y[5];
    auto d1 = [&](double x) {
        return q[1] + x * (2 * q[2] + x * (3 * q[3] + x * (4 * q[4] + x * 5 * q[5])));
    };
    auto d2 = [&](double x) { return 2 * q[2] + x * (6 * q[3] + x * (12 * q[4] + x * 20 * q[5])); };
    auto d3 = [&](double x) { return 6 * q[3] + x * (24 * q[4] + x * 60 * q[5]); };
    // The largest slope between the neighbouring midpoints (x in grid steps from c0): Newton
    // from the parabola's answer, or a scan where the slope is not concave there.
    double xb = std::clamp((coarse - c0) / h, -1.0, 1.0);
    if (!(d3(xb) < 0)) {
        double vb = d1(xb);
        for (int k = -8; k <= 8; ++k)
            if (d1(k / 8.0) > vb) {
                vb = d1(k / 8.0);
                xb = k / 8.0;
            }
    }
    for (int it = 0; it < 4; ++it) {
        const double c = d3(xb);
        if (!(c < 0))
            break;
        xb = std::clamp(xb - d2(xb) / c, -1.0, 1.0);
    }
    if (!std::isfinite(xb))
        return coarse;
    return c0 + xb * h;
}

void SpectrumEdge::defaultRanges(const std::vector<double> &energies, double e0, Params &params)
{
    if (energies.empty())
        return;
    const double lo = energies.front() - e0;
    const double hi = energies.back() - e0;
    params.preFrom = lo;
    params.preTo = std::clamp(lo / 3, -30.0, -10.0);
    params.postFrom = std::min(30.0, 0.3 * hi);
    params.postTo = hi;
}

bool SpectrumEdge::fitPoly(const double *y, std::size_t i0, std::size_t i1, int order, double *c,
    double x0, double *leverage) const
{
    if (i1 <= i0 || i1 - i0 < std::size_t(order + 1))
        return false;
    double s[5];
    for (int k = 0; k <= 2 * order; ++k)
        s[k] = sx_[k][i1] - sx_[k][i0];
    double b0 = 0, b1 = 0, b2 = 0;
    for (std::size_t i = i0; i < i1; ++i) {
        const double x = x_[i];
        b0 += y[i];
        b1 += x * y[i];
        b2 += x * x * y[i];
    }
    if (order == 1) {
        const double det = s[0] * s[2] - s[1] * s[1];
        if (!(std::abs(det) > 0))
            return false;
        c[0] = (s[2] * b0 - s[1] * b1) / det;
        c[1] = (s[0] * b1 - s[1] * b0) / det;
        c[2] = 0;
        if (leverage)
            *leverage = (s[2] - 2 * s[1] * x0 + s[0] * x0 * x0) / det;
        return true;
    }
    // Normal equations of the quadratic by Cramer's rule (symmetric 3 x 3).
    const double m00 = s[0], m01 = s[1], m02 = s[2], m11 = s[2], m12 = s[3], m22 = s[4];
    const double c00 = m11 * m22 - m12 * m12;
    const double c01 = m02 * m12 - m01 * m22;
    const double c02 = m01 * m12 - m02 * m11;
    const double det = m00 * c00 + m01 * c01 + m02 * c02;
    if (!(std::abs(det) > 0))
        return false;
    const double c11 = m00 * m22 - m02 * m02;
    const double c12 = m01 * m02 - m00 * m12;
    const double c22 = m00 * m11 - m01 * m01;
    c[0] = (c00 * b0 + c01 * b1 + c02 * b2) / det;
    c[1] = (c01 * b0 + c11 * b1 + c12 * b2) / det;
    c[2] = (c02 * b0 + c12 * b1 + c22 * b2) / det;
    if (leverage) {
        const double v1 = x0, v2 = x0 * x0;
        *leverage
            = (c00 + v1 * v1 * c11 + v2 * v2 * c22 + 2 * (v1 * c01 + v2 * c02 + v1 * v2 * c12))
            / det;
    }
    return true;
}

double SpectrumEdge::preAt(const Result &r, double energy) const
{
    return r.pre[0] + r.pre[1] * (energy - eRef_);
}

double SpectrumEdge::postAt(const Result &r, double energy) const
{
    const double x = energy - eRef_;
    return r.post[0] + x * (r.post[1] + x * r.post[2]);
}

SpectrumEdge::Result SpectrumEdge::analyse(const float *mu, double *work, float *normalised) const
{
    return run(mu, 1, work, normalised);
}

SpectrumEdge::Result SpectrumEdge::analyse(
    const float *mu, std::size_t stride, double *work, float *normalised) const
{
    return run(mu, stride, work, normalised);
}

SpectrumEdge::Result SpectrumEdge::analyse(const double *mu, double *work, double *normalised) const
{
    return run(mu, 1, work, normalised);
}

template <typename T>
SpectrumEdge::Result SpectrumEdge::run(
    const T *mu, std::size_t stride, double *work, T *normalised) const
{
    Result r;
    const std::size_t n = e_.size();
    double *y = work;
    double *norm = work + n;
    for (std::size_t i = 0; i < n; ++i)
        y[i] = double(mu[i * stride]);
    r.e0 = std::isnan(p_.fixedE0) ? edgeEnergy(e_, y, p_.smoothing, work + n, &quintic_, invStep_.data())
                                  : p_.fixedE0;
    r.e0Half = r.whiteLine = r.whiteLineEnergy = std::numeric_limits<double>::quiet_NaN();

    const std::size_t a0 = lowerIndex(r.e0 + p_.preFrom);
    const std::size_t a1 = std::upper_bound(e_.begin(), e_.end(), r.e0 + p_.preTo) - e_.begin();
    const std::size_t b0 = lowerIndex(r.e0 + p_.postFrom);
    const std::size_t b1 = std::upper_bound(e_.begin(), e_.end(), r.e0 + p_.postTo) - e_.begin();
    double pc[3];
    const double xe = r.e0 - eRef_;
    double levPre = 0, levPost = 0;
    if (!fitPoly(y, a0, a1, 1, pc, xe, &levPre)
        || !fitPoly(y, b0, b1, p_.postOrder == 2 ? 2 : 1, r.post, xe, &levPost)) {
        r.step = std::numeric_limits<double>::quiet_NaN();
        if (normalised)
            std::fill(normalised, normalised + n, T(std::numeric_limits<T>::quiet_NaN()));
        return r;
    }
    r.pre[0] = pc[0];
    r.pre[1] = pc[1];
    double ss = 0;
    for (std::size_t i = a0; i < a1; ++i) {
        const double d = y[i] - (pc[0] + pc[1] * x_[i]);
        ss += d * d;
    }
    r.preRms = a1 - a0 > 2 ? std::sqrt(ss / double(a1 - a0 - 2)) : 0.0;
    r.stepError = r.preRms * std::sqrt(std::max(0.0, levPre + levPost));
    r.step = postAt(r, r.e0) - preAt(r, r.e0);
    r.ok = std::isfinite(r.step) && r.step != 0;
    const double inv = r.ok ? 1.0 / r.step : std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < n; ++i)
        norm[i] = (y[i] - (pc[0] + pc[1] * x_[i])) * inv;
    if (normalised)
        for (std::size_t i = 0; i < n; ++i)
            normalised[i] = T(norm[i]);
    if (!r.ok || n < 2)
        return r;

    // Half height: the 0.5 crossing of the normalised spectrum next to E0.
    std::size_t k = std::min(lowerIndex(r.e0), n - 1);
    if (k == 0)
        k = 1;
    if (norm[k] >= 0.5) {
        while (k > 1 && norm[k - 1] >= 0.5)
            --k;
    } else {
        while (k + 1 < n && norm[k] < 0.5)
            ++k;
    }
    if ((norm[k - 1] < 0.5) != (norm[k] < 0.5)) {
        const double f = (0.5 - norm[k - 1]) / (norm[k] - norm[k - 1]);
        r.e0Half = e_[k - 1] + f * (e_[k] - e_[k - 1]);
    }

    // White line: the highest normalised value within the span above E0.
    const std::size_t w0 = lowerIndex(r.e0);
    const std::size_t w1
        = std::upper_bound(e_.begin(), e_.end(), r.e0 + p_.whiteLineSpan) - e_.begin();
    if (w1 > w0) {
        std::size_t m = w0;
        for (std::size_t i = w0; i < w1; ++i)
            if (norm[i] > norm[m])
                m = i;
        r.whiteLine = norm[m];
        r.whiteLineEnergy = e_[m];
        if (m > 0 && m + 1 < n && m > w0 && m + 1 < w1) {
            const double v
                = vertexX(e_[m - 1], norm[m - 1], e_[m], norm[m], e_[m + 1], norm[m + 1]);
            r.whiteLineEnergy = v;
            r.whiteLine
                = parabolaAt(e_[m - 1], norm[m - 1], e_[m], norm[m], e_[m + 1], norm[m + 1], v);
        }
    }
    return r;
}
