#include "ValueHistogram.h"

#include <algorithm>
#include <cmath>

void ValueHistogram::compute(const double *v, std::size_t n, int bins)
{
    bins = std::max(1, bins);
    m_counts.assign(std::size_t(bins), 0);
    m_total = 0;
    m_min = 0;
    m_max = 0;
    bool any = false;
    double lo = 0, hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = v[i];
        if (!std::isfinite(x))
            continue;
        if (!any) {
            lo = hi = x;
            any = true;
        } else {
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
    }
    if (!any)
        return;
    m_min = lo;
    m_max = hi;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::isfinite(v[i])) {
            ++m_counts[std::size_t(binOf(v[i]))];
            ++m_total;
        }
    }
}

int ValueHistogram::binOf(double v) const
{
    const int bins = int(m_counts.size());
    if (bins <= 1 || !(m_max > m_min))
        return 0;
    const double f = (v - m_min) / (m_max - m_min) * bins;
    if (!(f > 0))
        return 0;
    return std::min(bins - 1, int(f));
}

double ValueHistogram::quantile(const double *v, std::size_t n, double p)
{
    std::vector<double> finite;
    finite.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (std::isfinite(v[i]))
            finite.push_back(v[i]);
    }
    if (finite.empty())
        return 0;
    p = std::clamp(p, 0.0, 1.0);
    const auto k = std::size_t(std::floor(p * double(finite.size() - 1)));
    std::nth_element(finite.begin(), finite.begin() + std::ptrdiff_t(k), finite.end());
    return finite[k];
}

void ValueHistogram::autoLimits(const double *v, std::size_t n, double &lo, double &hi)
{
    lo = quantile(v, n, 0.005);
    hi = quantile(v, n, 0.995);
}
