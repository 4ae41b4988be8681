#include "RingRemoval.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

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

// The weights of the cubic through x0 < x1 < x2 < x3 at x: its value there is
// sum_j weights[j] y_j.
inline void cubicWeights(double x, const double *xs, double *weights)
{
    for (int i = 0; i < 4; ++i) {
        double term = 1.0;
        for (int j = 0; j < 4; ++j)
            if (j != i)
                term *= (x - xs[j]) / (xs[i] - xs[j]);
        weights[i] = term;
    }
}

} // namespace

bool RingRemoval::apply(double *rows, int w, int h, int level)
{
    if (level <= 0 || rows == nullptr || w < 5 || h < 1)
        return true;
    const int k = std::min(level, maxLevel);
    const int half = k + 2; // 2 k + 5 columns around each: a band of k is a minority
    try {
        residual_.resize(size_t(w) * size_t(h));
        window_.reserve(size_t(4 * half + 2));
        median_.resize(size_t(w));
        offset_.resize(size_t(w));
        spread_.resize(size_t(w));
        scratch_.resize(size_t(h));
    } catch (const std::bad_alloc &) {
        residual_ = {};
        window_ = {};
        median_ = {};
        offset_ = {};
        spread_ = {};
        scratch_ = {};
        return false;
    }
    const size_t stride = size_t(h);
    const auto row = [rows, w](int i) { return rows + size_t(i) * size_t(w); };

    // 1. Candidates. The median over the angles of each column: a stripe or band keeps its
    // offset there, while the sample's details, which cross a column at some angles only,
    // drop out. Each column's median is compared with the straight line through its
    // neighbours' (2 level + 4 of them; slope and height are medians, so that a band of up
    // to `level` columns among them does not move the line).
    double lo = rows[0], hi = rows[0];
    for (int i = 0; i < h; ++i) {
        const double *r = row(i);
        double *res = residual_.data() + i;
        for (int c = 0; c < w; ++c) {
            res[size_t(c) * stride] = r[c];
            lo = std::min(lo, r[c]);
            hi = std::max(hi, r[c]);
        }
    }
    for (int c = 0; c < w; ++c)
        median_[c] = medianOf(residual_.data() + size_t(c) * stride, stride);
    // The noise of one sample, from the second differences along the rows (a smooth sample
    // has next to none but at its edges); some 256 rows spread over the angles are plenty.
    size_t count = 0;
    const int rowStep = std::max(1, h / 256);
    for (int i = 0; i < h; i += rowStep) {
        const double *r = row(i);
        double *out = residual_.data() + count;
        for (int c = 1; c < w - 1; ++c)
            out[c - 1] = std::abs(r[c - 1] - 2.0 * r[c] + r[c + 1]);
        count += size_t(w - 2);
    }
    const double noise = 1.4826 * medianOf(residual_.data(), count) / std::sqrt(6.0);
    for (int c = 0; c < w; ++c) {
        // The parabola through the neighbours' medians: its curvature, slope and height are
        // each the median of what the neighbours say (a band touches only a few of them).
        const int from = std::max(0, c - half), to = std::min(w - 1, c + half);
        window_.clear();
        for (int j = from + 1; j < to; ++j)
            window_.push_back(median_[j + 1] - 2.0 * median_[j] + median_[j - 1]);
        const double bend = window_.empty() ? 0.0 : medianOf(window_.data(), window_.size());
        window_.clear();
        for (int j = from; j < to; ++j)
            window_.push_back(median_[j + 1] - median_[j] - (j + 0.5 - c) * bend);
        const double slope = medianOf(window_.data(), window_.size());
        window_.clear();
        for (int j = from; j <= to; ++j)
            if (j != c)
                window_.push_back(median_[j] - (j - c) * slope - 0.5 * (j - c) * (j - c) * bend);
        spread_[c] = median_[c] - medianOf(window_.data(), window_.size());
    }
    // Where the sample's profile bends, the parabola misses it by an amount that changes
    // slowly from column to column: less the running median of these departures over twice
    // the width, a band stands out alone.
    for (int c = 0; c < w; ++c) {
        const int from = std::max(0, c - 2 * half), to = std::min(w - 1, c + 2 * half);
        window_.assign(spread_.begin() + from, spread_.begin() + to + 1);
        offset_[c] = spread_[c] - medianOf(window_.data(), window_.size());
    }
    for (int c = 0; c < w; ++c)
        spread_[c] = std::abs(offset_[c]);
    const double sigma = 1.4826 * medianOf(spread_.data(), size_t(w));
    const double floor = 2e-4 * (hi - lo);
    const double threshold = std::max(4.0 * sigma, floor);
    for (int c = 0; c < w; ++c)
        spread_[c] = std::abs(offset_[c]) > threshold ? 1.0 : 0.0;
    for (int c = 0; c < w; ++c)
        offset_[c]
            = spread_[c] > 0 || (c > 0 && spread_[c - 1] > 0) || (c + 1 < w && spread_[c + 1] > 0)
            ? 1.0
            : 0.0;

    // 2. The departure of column c from the cubic through columns a - 2, a - 1, b + 1 and
    // b + 2, angle by angle: its median over the angles, the robust spread about it, and the
    // spread that the noise alone would give (the sample's and the bridge's noise).
    const double standardError = 1.2533 / std::sqrt(double(h));
    const auto departure
        = [&](int c, int a, int b, double &spreadOut, double &noiseOut, int reach = 0) {
              const double xs[4] = { double(a - 2 - reach), double(a - 1 - reach),
                  double(b + 1 + reach), double(b + 2 + reach) };
              double wt[4];
              cubicWeights(double(c), xs, wt);
              const int cols[4] = { a - 2 - reach, a - 1 - reach, b + 1 + reach, b + 2 + reach };
              double *res = scratch_.data();
              for (int i = 0; i < h; ++i) {
                  const double *r = row(i);
                  res[i] = r[c]
                      - (wt[0] * r[cols[0]] + wt[1] * r[cols[1]] + wt[2] * r[cols[2]]
                          + wt[3] * r[cols[3]]);
              }
              const double m = medianOf(res, stride);
              for (int i = 0; i < h; ++i)
                  res[i] = std::abs(res[i] - m);
              spreadOut = 1.4826 * medianOf(res, stride);
              noiseOut = noise
                  * std::sqrt(1.0 + wt[0] * wt[0] + wt[1] * wt[1] + wt[2] * wt[2] + wt[3] * wt[3]);
              return m;
          };

    // 3. Decide, run by run. Runs wider than a band of this level with its neighbours are the
    // sample's own structure; a run that meets its mirror has no mirror to be told from.
    const int widest = k + 4;
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
        if (b - a + 1 <= widest && a >= 4 && b + 4 < w && apart) {
            // A run is corrected when a column of it stands out and passes, and none that
            // stands out fails; then also its columns that carry a smaller share of the
            // stripe (beyond two standard errors), such as the edges of a split stripe.
            bool accepted = false, ambiguous = false;
            window_.resize(size_t(b - a + 1));
            for (int c = a; c <= b && !ambiguous; ++c) {
                double spread = 0, expected = 0;
                const double d = departure(c, a, b, spread, expected);
                spread_[c] = d;
                window_[size_t(c - a)] = spread;
                if (!(std::abs(d) > 5.0 * standardError * spread && std::abs(d) > floor))
                    continue;
                double mirrorSpread = 0, mirrorExpected = 0;
                const double mirror = departure(w - 1 - c, ma, mb, mirrorSpread, mirrorExpected);
                // The noise estimate is rough: a quarter more is still noise.
                const double structure
                    = std::sqrt(std::max(0.0, spread * spread - 1.5625 * expected * expected));
                // A band is the same against a bridge from further out; where the sample's
                // profile bends, a bridge misses it, and a longer one misses it more.
                double farSpread = 0, farExpected = 0;
                const double far = departure(c, a, b, farSpread, farExpected, 2);
                if (std::abs(d) > 3.0 * structure && 2.0 * std::abs(mirror) < std::abs(d)
                    && std::abs(far - d)
                        < 0.25 * std::abs(d) + standardError * std::hypot(spread, farSpread))
                    accepted = true;
                else
                    ambiguous = true;
            }
            if (accepted && !ambiguous)
                for (int c = a; c <= b; ++c)
                    if (std::abs(spread_[c]) > 2.0 * standardError * window_[size_t(c - a)])
                        median_[c] = spread_[c];
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
