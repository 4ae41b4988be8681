#pragma once

// Model K-edge spectra for the tests: an arctan edge with a Gaussian white line on a sloping
// background, with the values a correct analysis must find worked out independently of the
// library (dense search of the analytic slope, plain least squares in long double).

#include <algorithm>
#include <cmath>
#include <vector>

namespace xafsmodel {

struct Species
{
    double e0 = 7112; // arctan centre (eV)
    double width = 1; // arctan half width (eV)
    double step = 1; // arctan amplitude
    double wlHeight = 0.5, wlOffset = 4, wlSigma = 2; // white line, in units of the step
};

struct Background
{
    double level = 0.3, slope = -4e-4, centre = 7100; // level + slope * (E - centre)
};

inline double edgeOnly(const Species &s, double e)
{
    const double x = e - s.e0;
    const double g = (x - s.wlOffset) / s.wlSigma;
    return s.step * (0.5 + std::atan(x / s.width) / M_PI + s.wlHeight * std::exp(-0.5 * g * g));
}

inline double edgeSlope(const Species &s, double e)
{
    const double x = e - s.e0;
    const double g = (x - s.wlOffset) / s.wlSigma;
    return s.step
        * (s.width / (M_PI * (x * x + s.width * s.width))
            - s.wlHeight * g / s.wlSigma * std::exp(-0.5 * g * g));
}

inline double background(const Background &b, double e)
{
    return b.level + b.slope * (e - b.centre);
}

// A XANES scan: coarse before and after the edge region, fine across it.
inline std::vector<double> scanEnergies()
{
    std::vector<double> e;
    for (double v = 7000; v < 7090; v += 5)
        e.push_back(v);
    for (double v = 7090; v < 7140; v += 0.5)
        e.push_back(v);
    for (double v = 7140; v <= 7250 + 1e-9; v += 5)
        e.push_back(v);
    return e;
}

// Energy of the largest slope of sum_i f_i * species_i: a dense scan, then golden section.
inline double trueE0(const std::vector<Species> &sp, const std::vector<double> &f)
{
    auto slope = [&](double e) {
        double d = 0;
        for (std::size_t i = 0; i < sp.size(); ++i)
            d += f[i] * edgeSlope(sp[i], e);
        return d;
    };
    double best = 7000, bv = -1e300;
    for (double e = 7050; e < 7200; e += 0.01)
        if (slope(e) > bv) {
            bv = slope(e);
            best = e;
        }
    double a = best - 0.02, b = best + 0.02;
    const double r = 0.5 * (std::sqrt(5.0) - 1);
    for (int i = 0; i < 80; ++i) {
        const double c = b - r * (b - a), d = a + r * (b - a);
        if (slope(c) > slope(d))
            b = d;
        else
            a = c;
    }
    return 0.5 * (a + b);
}

// Least-squares polynomial of `order` through (x, y) where lo <= x - e0 <= hi, evaluated at e0.
inline double fitAt(const std::vector<double> &x, const std::vector<double> &y, double e0,
    double lo, double hi, int order, double *slope = nullptr)
{
    long double m[3][4] = {};
    for (std::size_t i = 0; i < x.size(); ++i) {
        const long double t = x[i] - e0;
        if (t < lo || t > hi)
            continue;
        long double p[3] = { 1, t, t * t };
        for (int r = 0; r <= order; ++r) {
            for (int c = 0; c <= order; ++c)
                m[r][c] += p[r] * p[c];
            m[r][3] += p[r] * y[i];
        }
    }
    const int n = order + 1;
    for (int c = 0; c < n; ++c) // Gauss-Jordan; the value at e0 is the constant term
        for (int r = 0; r < n; ++r)
            if (r != c) {
                const long double f = m[r][c] / m[c][c];
                for (int k = c; k < 4; ++k)
                    m[r][k] -= f * m[c][k];
            }
    if (slope)
        *slope = double(m[1][3] / m[1][1]);
    return double(m[0][3] / m[0][0]);
}

} // namespace xafsmodel
