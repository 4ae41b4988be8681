#include "RingRemoval.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// The median of the sorted values in `w` (the mean of the middle two for an even count).
inline double middle(const std::vector<double> &w)
{
    const size_t m = w.size();
    return (m & 1) ? w[m / 2] : 0.5 * (w[m / 2 - 1] + w[m / 2]);
}

// out[c] = median of row[c - k ... c + k], the window cut at both ends of the row. The
// window is kept sorted and slides by one sample: one removal and one insertion per step.
void runningMedian(const double *row, int w, int k, std::vector<double> &window, double *out)
{
    window.clear();
    int last = -1; // the last sample taken into the window
    for (int c = 0; c < w; ++c) {
        const int want = std::min(w - 1, c + k);
        while (last < want) {
            const double v = row[++last];
            window.insert(std::upper_bound(window.begin(), window.end(), v), v);
        }
        if (c - k - 1 >= 0)
            window.erase(std::lower_bound(window.begin(), window.end(), row[c - k - 1]));
        out[c] = middle(window);
    }
}

// The median of n values at v (reordered), the mean of the middle two for an even n.
double medianOf(double *v, size_t n)
{
    double *mid = v + n / 2;
    std::nth_element(v, mid, v + n);
    double m = *mid;
    if ((n & 1) == 0)
        m = 0.5 * (m + *std::max_element(v, mid));
    return m;
}

// The value at x of the cubic through (x0, y0) ... (x3, y3), x0 < x1 < x2 < x3.
inline double cubicAt(double x, const double *xs, const double *ys)
{
    double sum = 0;
    for (int i = 0; i < 4; ++i) {
        double term = ys[i];
        for (int j = 0; j < 4; ++j)
            if (j != i)
                term *= (x - xs[j]) / (xs[i] - xs[j]);
        sum += term;
    }
    return sum;
}

} // namespace

bool RingRemoval::apply(double *rows, int w, int h, int level)
{
    if (level <= 0 || rows == nullptr || w < 5 || h < 1)
        return true;
    const int k = std::min(level, maxLevel);
    try {
        residual_.resize(size_t(w) * size_t(h));
        window_.reserve(size_t(4 * k + 8));
        median_.resize(size_t(w));
        offset_.resize(size_t(w));
        spread_.resize(size_t(w));
    } catch (const std::bad_alloc &) {
        residual_ = {};
        median_ = {};
        offset_ = {};
        spread_ = {};
        return false;
    }
    const size_t stride = size_t(h);
    const auto row = [rows, w](int i) { return rows + size_t(i) * size_t(w); };

    // Where the stripes are. A stripe of offset d on column c adds d to the column's departure
    // from the mean of its two neighbours, and -d/2 to theirs, at every angle; the sample's
    // details pass a column at some angles only, so the median over the angles keeps the
    // stripe and drops them. What the sample's broad shape adds (its curvature) changes
    // slowly from column to column and is taken off with a running median across the line.
    double lo = rows[0], hi = rows[0];
    for (int i = 0; i < h; ++i) {
        const double *r = row(i);
        double *res = residual_.data() + i;
        res[0] = r[0] - r[1];
        for (int c = 1; c < w - 1; ++c)
            res[size_t(c) * stride] = r[c] - 0.5 * (r[c - 1] + r[c + 1]);
        res[size_t(w - 1) * stride] = r[w - 1] - r[w - 2];
        for (int c = 0; c < w; ++c) {
            lo = std::min(lo, r[c]);
            hi = std::max(hi, r[c]);
        }
    }
    for (int c = 0; c < w; ++c)
        offset_[c] = medianOf(residual_.data() + size_t(c) * stride, stride);
    runningMedian(offset_.data(), w, 2 * k + 3, window_, median_.data());
    for (int c = 0; c < w; ++c)
        offset_[c] -= median_[c];
    // The row is sampled symmetrically around the axis, and a structure centred on the axis
    // (the rim of a round sample on it) departs alike on both sides, while a stripe sits on
    // one side only: the evidence of a stripe is the difference from the mirror column.
    for (int c = 0; c < w; ++c)
        spread_[c] = offset_[c] - offset_[w - 1 - c];
    std::copy(spread_.begin(), spread_.end(), offset_.begin());
    // Flagged: evidence beyond four robust standard deviations of all columns' evidence
    // (noise), and beyond 1e-3 of the sinogram's range (the faint traces of the sample); with
    // one column more on either side, so that the columns a stripe is measured against are
    // well clear of it.
    for (int c = 0; c < w; ++c)
        spread_[c] = std::abs(offset_[c]);
    const double sigma = 1.4826 * medianOf(spread_.data(), size_t(w));
    const double threshold = std::max(4.0 * sigma, 1e-3 * (hi - lo));
    for (int c = 0; c < w; ++c)
        spread_[c] = std::abs(offset_[c]) > threshold ? 1.0 : 0.0;
    for (int c = 0; c < w; ++c)
        offset_[c] = spread_[c] > 0 || (c > 0 && spread_[c - 1] > 0)
                || (c + 1 < w && spread_[c + 1] > 0)
            ? 1.0
            : 0.0;

    // How far: every run of flagged columns is compared, angle by angle, with the cubic
    // through the two unflagged columns on either side; the median over the angles is the
    // offset of each column. It is taken off only
    // - where most angles agree with it (their robust spread is below twice the offset): a
    //   stripe is the same at every angle, a detail of the sample that happens to cover the
    //   column at most angles is not;
    // - where the mirror column, measured the same way, departs by less than half as much: a
    //   structure centred on the axis departs on both sides, and a stripe on it cannot be
    //   told from it (the whole run is left, not made worse).
    // Runs wider than a stripe of this level with its neighbours are the sample's own
    // structure, and a run on the axis has no mirror to be told from.
    const int widest = k + 5;
    // The departure of column c from the cubic through a - 2, a - 1, b + 1, b + 2; `res` takes
    // the h residuals and is reordered.
    const auto departure = [&](int c, int a, int b, double *res, double *spreadOut) {
        const double xs[4] = { double(a - 2), double(a - 1), double(b + 1), double(b + 2) };
        for (int i = 0; i < h; ++i) {
            const double *r = row(i);
            const double ys[4] = { r[a - 2], r[a - 1], r[b + 1], r[b + 2] };
            res[i] = r[c] - cubicAt(double(c), xs, ys);
        }
        const double m = medianOf(res, stride);
        if (spreadOut) {
            for (int i = 0; i < h; ++i)
                res[i] = std::abs(res[i] - m);
            *spreadOut = 1.4826 * medianOf(res, stride);
        }
        return m;
    };
    std::fill(median_.begin(), median_.end(), 0.0);
    for (int a = 0; a < w;) {
        if (offset_[a] == 0.0) {
            ++a;
            continue;
        }
        int b = a;
        while (b + 1 < w && offset_[b + 1] != 0.0)
            ++b;
        const int ma = w - 1 - b, mb = w - 1 - a; // the mirror run
        const bool apart = b < ma || mb < a;
        if (b - a + 1 <= widest && a >= 2 && b + 2 < w && apart) {
            bool ambiguous = false;
            for (int c = a; c <= b; ++c) {
                double spread = 0;
                const double m
                    = departure(c, a, b, residual_.data() + size_t(c) * stride, &spread);
                const int mc = w - 1 - c;
                double mirrorSpread = 0;
                const double mirror = departure(
                    mc, ma, mb, residual_.data() + size_t(mc) * stride, &mirrorSpread);
                // Noise-like: no wider than at the mirror column, where no stripe is.
                const bool steady = 2.0 * std::abs(m) > spread || spread < 1.25 * mirrorSpread;
                if (!steady)
                    continue;
                if (2.0 * std::abs(mirror) < std::abs(m))
                    median_[c] = m;
                else if (std::abs(m) > threshold)
                    ambiguous = true;
            }
            if (ambiguous)
                std::fill(median_.begin() + a, median_.begin() + b + 1, 0.0);
        }
        a = b + 1;
    }
    for (int i = 0; i < h; ++i) {
        double *r = row(i);
        for (int c = 0; c < w; ++c)
            r[c] -= median_[c];
    }
    return true;
}
