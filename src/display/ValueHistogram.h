#pragma once

#include <cstddef>
#include <vector>

// The distribution of the values of a picture: counts in equal bins between the smallest and
// the largest finite value, and the values below which given fractions of them lie (what the
// contrast's "auto" limits are made of). Values that are not finite are left out.
class ValueHistogram
{
public:
    // Counts v[0] ... v[n - 1] into `bins` bins (at least 1); empty when no value is finite.
    void compute(const double *v, std::size_t n, int bins = 256);

    bool isEmpty() const { return m_total == 0; }
    double min() const { return m_min; }
    double max() const { return m_max; }
    // Values counted.
    std::size_t total() const { return m_total; }
    const std::vector<std::size_t> &counts() const { return m_counts; }
    // The bin a value falls into (values outside min ... max are held at the ends).
    int binOf(double v) const;

    // The value below which the fraction `p` (0 ... 1) of the counted values lie: the value at
    // place floor(p * (m - 1)) of the m finite values in ascending order. 0 when none.
    static double quantile(const double *v, std::size_t n, double p);
    // The 0.5 % and 99.5 % quantiles: limits that ignore a few outlying pixels.
    static void autoLimits(const double *v, std::size_t n, double &lo, double &hi);

private:
    std::vector<std::size_t> m_counts;
    double m_min = 0;
    double m_max = 0;
    std::size_t m_total = 0;
};
