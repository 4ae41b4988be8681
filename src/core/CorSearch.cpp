#include "CorSearch.h"

#include "DetectorLines.h"
#include "RowWindow.h"
#include "SinogramBuild.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <vector>

int corPartnerImage(int first, int count, double rangeDeg)
{
    if (count <= 0 || !(rangeDeg > 0.0) || !std::isfinite(rangeDeg))
        return -1;
    const double span = 180.0 / rangeDeg * count;
    // A tiny range would give an offset beyond any int; only its remainder matters.
    const long long offset = span < 1e15 ? static_cast<long long>(span)
                                         : static_cast<long long>(std::fmod(span, count));
    long long g = first + offset;
    if (g == count)
        g -= 1;
    g %= count;
    if (g < 0)
        g += count;
    return static_cast<int>(g);
}

namespace {

// The three sums of the normalised correlation of one pair at c.
void pairSums(const double *f, const double *g, int length, double c, double reach, double &ab,
    double &aa, double &bb)
{
    for (int i = 0; i < 2 * length; ++i) {
        const int x = i - length;
        if (!(std::abs(static_cast<double>(x)) < reach))
            continue;
        // Pairing with g(c - x), not g(c - 1 - x): the latter mirrors about c - 0.5 and
        // would put the guess half a pixel beside the axis the resampling centres on.
        const double a = sampleLine(f, length, c + x);
        const double b = sampleLine(g, length, c - x);
        ab += a * b;
        aa += a * a;
        bb += b * b;
    }
}

// The normalised correlation of f(j) and g(s - j) over the samples j with |j - s / 2| < reach,
// for a whole number s (the mirror centre at s / 2, a whole or half pixel): no sample is
// interpolated, so noise weighs alike at every centre (interpolation would lower its energy
// between samples and draw the peak to half pixels).
void rawSums(const double *f, const double *g, int length, long long s, double reach, double &ab,
    double &aa, double &bb)
{
    const double mid = 0.5 * double(s);
    const long long jLo = std::max(0LL, static_cast<long long>(std::floor(mid - reach)));
    const long long jHi
        = std::min<long long>(length - 1, static_cast<long long>(std::ceil(mid + reach)));
    for (long long j = jLo; j <= jHi; ++j) {
        if (!(std::abs(double(j) - mid) < reach))
            continue;
        const long long k = s - j;
        const double a = f[j];
        const double b = k >= 0 && k < length ? g[k] : 0.0;
        ab += a * b;
        aa += a * a;
        bb += b * b;
    }
}

double rawPairsScore(const std::vector<const double *> &f, const std::vector<const double *> &g,
    int length, long long s, double fraction)
{
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t k = 0; k < f.size(); ++k)
        rawSums(f[k], g[k], length, s, fraction * length, ab, aa, bb);
    if (!(aa > 0.0) || !(bb > 0.0))
        return 0.0;
    return ab / std::sqrt(aa * bb);
}

// The normalised correlation of pairs `from`, `from + step`, ... summed over the pairs.
double pairsScore(const std::vector<const double *> &f, const std::vector<const double *> &g,
    int length, double c, double fraction, size_t step)
{
    if (length <= 0 || !std::isfinite(c))
        return 0.0;
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t k = 0; k < f.size(); k += step)
        pairSums(f[k], g[k], length, c, fraction * length, ab, aa, bb);
    // Interpolating between samples lowers a line's energy, so a bare product peaks on
    // whole (or half) pixels; normalised by both energies it peaks on the axis itself.
    if (!(aa > 0.0) || !(bb > 0.0))
        return 0.0;
    return ab / std::sqrt(aa * bb);
}

// The search of searchCor with a coarse score for the scan and a fine one for the climb.
// `rawScore` null: the fine position in tenth-pixel steps of `score` within 2 of the climb's
// end instead.
// `scan` false: the climb starts from `start` itself, for a start already near the peak.
template <class Coarse, class Fine, class Raw>
double searchWith(const Coarse &coarseScore, const Fine &score, const Raw *rawScore, int length,
    double start, bool scan = true)
{
    if (!std::isfinite(start))
        return start;
    // A climb that starts far from the axis can end on a side peak, where the object's edge
    // meets a feature of its mirror image. So the climb starts from the best of a coarse scan
    // over every whole pixel of the middle half of the line, where an axis is plausible, and
    // of the start itself, which keeps an axis outside that half within reach.
    double m = start;
    double coarse = coarseScore(start);
    for (int c = length / 4; scan && c <= 3 * length / 4; ++c) {
        const double s = coarseScore(c);
        if (s > coarse) {
            coarse = s;
            m = c;
        }
    }
    double best = 0.0;
    double bestPos = m;
    // Every pass must raise the score, and only 2L + 20 whole-pixel positions can score
    // above zero, so the climb ends; the cap guards against scores that are not numbers.
    const int maxPasses = 2 * (length > 0 ? length : 0) + 40;
    for (int pass = 0; pass < maxPasses; ++pass) {
        bool improved = false;
        for (int d = -10; d < 10; ++d) {
            const double t = m + d;
            const double s = score(t);
            if (s > best) {
                best = s;
                bestPos = t;
                improved = true;
            }
        }
        if (!improved)
            break;
        m = bestPos;
    }
    if (rawScore == nullptr) {
        m = bestPos;
        for (double t = m - 2.0; t < m + 2.0; t += 0.1) {
            const double s = score(t);
            if (s > best) {
                best = s;
                bestPos = t;
            }
        }
        return bestPos;
    }
    if (!(best > 0.0) || !std::isfinite(bestPos) || std::abs(bestPos) > 1e9)
        return bestPos;
    // The fine position: the best whole or half pixel within 2 of the climb's end, and the
    // parabola through its score and its two neighbours' (half a pixel either side).
    const long long s0 = std::llround(2.0 * bestPos);
    long long sBest = s0;
    double top = (*rawScore)(s0);
    for (long long s = s0 - 4; s <= s0 + 4; ++s) {
        const double v = (*rawScore)(s);
        if (v > top) {
            top = v;
            sBest = s;
        }
    }
    if (!(top > 0.0))
        return bestPos;
    const double left = (*rawScore)(sBest - 1), right = (*rawScore)(sBest + 1);
    const double curve = left - 2.0 * top + right;
    double shift = 0.0;
    if (curve < 0.0)
        shift = std::clamp(0.5 * (left - right) / curve, -0.5, 0.5);
    return 0.5 * (double(sBest) + shift);
}

// A straight-line model centre = c + Z s + X t fitted to points (s, t, centre).
struct ModelPoint
{
    double s = 0.0, t = 0.0;
    double centre = 0.0;
};

// Weighted least squares of the first `params` (1 to 3) of c, Z, X over the points with
// a positive weight. False when they do not fix the parameters.
bool fitModel(const std::vector<ModelPoint> &points, const std::vector<double> &weight, int params,
    double *coef)
{
    double m[3][4] = {};
    for (size_t k = 0; k < points.size(); ++k) {
        if (!(weight[k] > 0.0))
            continue;
        const double row[3] = { 1.0, points[k].s, points[k].t };
        for (int i = 0; i < params; ++i) {
            for (int j = 0; j < params; ++j)
                m[i][j] += weight[k] * row[i] * row[j];
            m[i][3] += weight[k] * row[i] * points[k].centre;
        }
    }
    const double scale = std::max(1e-300, std::abs(m[0][0]));
    for (int i = 0; i < params; ++i) {
        int p = i;
        for (int r = i + 1; r < params; ++r)
            if (std::abs(m[r][i]) > std::abs(m[p][i]))
                p = r;
        if (!(std::abs(m[p][i]) > 1e-12 * scale))
            return false;
        for (int j = 0; j < 4; ++j)
            std::swap(m[i][j], m[p][j]);
        for (int r = 0; r < params; ++r) {
            if (r == i)
                continue;
            const double f = m[r][i] / m[i][i];
            for (int j = i; j < 4; ++j)
                m[r][j] -= f * m[i][j];
        }
    }
    for (int i = 0; i < 3; ++i)
        coef[i] = i < params ? m[i][3] / m[i][i] : 0.0;
    return std::isfinite(coef[0]) && std::isfinite(coef[1]) && std::isfinite(coef[2]);
}

double residual(const ModelPoint &p, const double *coef)
{
    return p.centre - (coef[0] + coef[1] * p.s + coef[2] * p.t);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    const size_t h = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(h), v.end());
    return v[h];
}

// Tukey's biweight from the fit in `coef`: points far off the model (a jerked or flashed
// projection) get no weight, the rest weigh by how well they agree. `floor` keeps the scale
// from shrinking below what the points can tell apart.
void refitRobustly(const std::vector<ModelPoint> &points, int params, double floor, double *coef)
{
    std::vector<double> r(points.size()), w(points.size());
    for (int pass = 0; pass < 20; ++pass) {
        for (size_t k = 0; k < points.size(); ++k)
            r[k] = std::abs(residual(points[k], coef));
        const double scale = 4.685 * std::max(floor, 1.4826 * median(r));
        for (size_t k = 0; k < points.size(); ++k) {
            const double u = r[k] / scale;
            w[k] = u < 1.0 ? (1.0 - u * u) * (1.0 - u * u) : 0.0;
        }
        double next[3];
        if (!fitModel(points, w, params, next))
            return;
        const bool still = std::abs(next[0] - coef[0]) < 1e-6;
        std::copy(next, next + 3, coef);
        if (still)
            return;
    }
}

// Over half a turn no image has its mirror in the set, but the set mirrored about the axis
// continues it past its end: image b mirrored stands at theta_b + 180 degrees, m steps before
// image a when a + count - b = m. `lineOf` gives the attenuation line of images 0 ... steps - 1
// and count - steps ... count - 1. Each pair up to `steps` apart gives its own centre, which
// the sample's turn between the two images moves: a point at (x, z) by
// sin(g / 2) (z cos(mid) - x sin(mid)), g the pair's angle gap and mid its mean angle. That
// model, fitted to all pairs with each seam image left out in turn, the fit that agrees best
// then refined by Tukey's biweight, gives the centre at no gap; a jerked or flashed image
// spoils only its own pairs.
template <class LineOf>
double seamCentre(const LineOf &lineOf, int count, int steps, double stepDeg, int length,
    double start, double fraction)
{
    std::vector<ModelPoint> points;
    std::vector<std::pair<int, int>> images;
    std::vector<const double *> f, g;
    const double rad = std::numbers::pi / 180.0;
    for (int m = 1; m <= steps; ++m)
        for (int a = 0; a < m; ++a) {
            const double half = 0.5 * m * stepDeg * rad;
            const double mid = (a - 0.5 * m) * stepDeg * rad;
            ModelPoint p;
            p.s = std::sin(half) * std::cos(mid);
            p.t = -std::sin(half) * std::sin(mid);
            points.push_back(p);
            images.push_back({ a, count - m + a });
            f.push_back(lineOf(a));
            g.push_back(lineOf(count - m + a));
        }
    // All pairs together find the peak's neighbourhood; each pair then climbs from there.
    const double near = searchCorPairs(f, g, length, start, fraction);
    if (!std::isfinite(near))
        return near;
    for (size_t k = 0; k < points.size(); ++k) {
        const std::vector<const double *> fk { f[k] }, gk { g[k] };
        const auto score = [&](double c) { return pairsScore(fk, gk, length, c, fraction, 1); };
        const auto raw = [&](long long s) { return rawPairsScore(fk, gk, length, s, fraction); };
        points[k].centre = searchWith(score, score, &raw, length, near, false);
    }
    // The sample's effective point lies on the detector's reach: a fit that puts it further
    // out fits noise, and the model drops X, then Z as well.
    const auto plausible = [&](const double *coef) {
        return std::abs(coef[1]) <= 0.5 * length && std::abs(coef[2]) <= 0.5 * length;
    };
    std::vector<double> w(points.size(), 1.0);
    int params = 3;
    for (double trial[3]; params > 1; --params)
        if (fitModel(points, w, params, trial) && plausible(trial))
            break;
    double coef[3] = { near, 0.0, 0.0 };
    double bestSpread = std::numeric_limits<double>::infinity();
    for (int out = -1; out < 2 * steps; ++out) {
        const int image = out < 0 ? -1 : out < steps ? out : count - 2 * steps + out;
        double n = 0.0;
        for (size_t k = 0; k < points.size(); ++k) {
            w[k] = images[k].first == image || images[k].second == image ? 0.0 : 1.0;
            n += w[k];
        }
        double trial[3];
        if (n < params + 1.0 || !fitModel(points, w, params, trial))
            continue;
        double sum = 0.0;
        for (size_t k = 0; k < points.size(); ++k)
            sum += w[k] * std::pow(residual(points[k], trial), 2);
        const double spread = sum / (n - params);
        if (spread < bestSpread) {
            bestSpread = spread;
            std::copy(trial, trial + 3, coef);
        }
    }
    if (!std::isfinite(bestSpread))
        return near;
    refitRobustly(points, params, 0.05, coef);
    return coef[0];
}

// The centre from every projection's centre of mass, which follows
// c + x cos(theta) + z sin(theta) for the sample's centre of mass (x, z) over any range. The
// masses are taken over the sample's extent in all projections, each above a baseline
// level with the open beam either side, so a drift of the beam does not pull them; a jerked
// image is left out by Tukey's biweight. Not a number when the sample reaches (nearly) to an
// end of the line, where its mass is not all seen.
double massCentre(const AttenuationOf &attenuation, int count, int length, double rangeDeg)
{
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (length < 16 || count < 4)
        return none;
    std::vector<double> att(length), mean(length, 0.0);
    for (int k = 0; k < count; ++k) {
        attenuation(k, att.data());
        for (int j = 0; j < length; ++j)
            mean[j] += att[j];
    }
    // The extent: where the mean attenuation, smoothed over 5 samples, stands clearly above
    // both the open beam and the noise (from the second differences, which a smooth profile
    // hardly has).
    std::vector<double> smooth(length, 0.0), second;
    for (int j = 2; j < length - 2; ++j)
        smooth[j] = (mean[j - 2] + mean[j - 1] + mean[j] + mean[j + 1] + mean[j + 2]) / 5.0;
    for (int j = 1; j < length - 1; ++j)
        second.push_back(std::abs(mean[j - 1] - 2.0 * mean[j] + mean[j + 1]));
    const double noise = 1.4826 * median(second) / std::sqrt(6.0 * 5.0);
    const double top = *std::max_element(smooth.begin(), smooth.end());
    const double threshold = std::max(0.05 * top, 5.0 * noise);
    if (!(top > 0.0) || !std::isfinite(threshold))
        return none;
    int lo = length, hi = -1;
    for (int j = 0; j < length; ++j)
        if (smooth[j] > threshold) {
            lo = std::min(lo, j);
            hi = std::max(hi, j);
        }
    const int margin = std::max(2, length / 64);
    lo -= margin;
    hi += margin;
    if (lo < margin || hi >= length - margin)
        return none;
    std::vector<ModelPoint> points(count);
    for (int k = 0; k < count; ++k) {
        attenuation(k, att.data());
        // A level baseline: a sloping one, drawn through the few samples either side, would
        // weigh their noise by the whole extent.
        double base = 0.0;
        for (int j = 0; j < lo; ++j)
            base += att[j];
        for (int j = hi + 1; j < length; ++j)
            base += att[j];
        base /= lo + (length - 1 - hi);
        double m0 = 0.0, m1 = 0.0;
        for (int j = lo; j <= hi; ++j) {
            m0 += att[j] - base;
            m1 += (att[j] - base) * j;
        }
        const double theta = rangeDeg * std::numbers::pi / 180.0 * k / count;
        points[k].s = std::cos(theta);
        points[k].t = std::sin(theta);
        points[k].centre = m1 / m0;
        if (!(m0 > 0.0) || !std::isfinite(points[k].centre))
            return none;
    }
    std::vector<double> w(count, 1.0);
    double coef[3];
    if (!fitModel(points, w, 3, coef))
        return none;
    refitRobustly(points, 3, 0.01, coef);
    return coef[0];
}

} // namespace

double corScore(const double *f, const double *g, int length, double c, double fraction)
{
    if (f == nullptr || g == nullptr)
        return 0.0;
    return pairsScore({ f }, { g }, length, c, fraction, 1);
}

double searchCor(const double *f, const double *g, int length, double start, double fraction)
{
    const auto score = [&](double c) { return corScore(f, g, length, c, fraction); };
    using Raw = decltype([](long long) { return 0.0; });
    return searchWith(score, score, static_cast<const Raw *>(nullptr), length, start);
}

double searchCorPairs(const std::vector<const double *> &f, const std::vector<const double *> &g,
    int length, double start, double fraction)
{
    if (f.empty() || f.size() != g.size())
        return start;
    // The scan over the middle half of the line needs only the rough place of the peak: a
    // spread of at most 16 pairs finds it; the climb and the tenth-pixel steps use them all.
    const size_t step = std::max<size_t>(1, f.size() / 16);
    const auto raw = [&](long long s) { return rawPairsScore(f, g, length, s, fraction); };
    return searchWith([&](double c) { return pairsScore(f, g, length, c, fraction, step); },
        [&](double c) { return pairsScore(f, g, length, c, fraction, 1); }, &raw, length, start);
}

void attenuationLine(
    const double *line, const double *i0, const double *bg, int length, double *out)
{
    if (length <= 0)
        return;
    // Raw intensities would let the bright open beam dominate the product and pull the
    // search away from the object; attenuation is about 0 there with or without an I0 image.
    double ownI0 = 0.0;
    if (i0 == nullptr) {
        ownI0 = -std::numeric_limits<double>::max();
        for (int j = 0; j < length; ++j)
            if (std::isfinite(line[j]))
                ownI0 = std::max(ownI0, line[j]);
    }
    for (int j = 0; j < length; ++j) {
        const double b0 = bg != nullptr ? bg[j] : 0.0;
        double a = (i0 != nullptr ? i0[j] : ownI0) - b0;
        double b = line[j] - b0;
        if (!(a > 0.0))
            a = 1.0;
        if (!(b > 0.0))
            b = 1.0;
        out[j] = std::log(a / b);
    }
}

namespace {

// A guess is never surer than a hundredth of a pixel; rounded there, the centre a tool
// prints (six digits) is the very number it reconstructed with, and typing it in again
// gives the same slices.
double hundredths(double c)
{
    return std::abs(c) < 1e12 ? std::round(100.0 * c) / 100.0 : c;
}

} // namespace

bool guessCorOnLines(const DetectorLines &lines, int slice, int first, double rangeDeg,
    double start, double fraction, double *found)
{
    const int length = lines.lineLength();
    const int count = lines.imageCount();
    if (length <= 0 || slice < 0 || slice >= lines.lineCount() || first < 0 || first >= count)
        return false;
    std::vector<double> i0(length), bg(length);
    if (!lines.readI0(slice, i0.data()))
        i0.clear();
    if (!lines.readBg(slice, bg.data()))
        bg.clear();
    // A dead or saturated pixel draws a line down the sinogram that mirrors onto itself about
    // its own column and would carry the guess there, tens of pixels away: it is mended from
    // its neighbours first, whether or not the reconstruction mends it.
    std::vector<double> all(size_t(count) * size_t(length));
    for (int k = 0; k < count; ++k)
        lines.readProjection(k, slice, all.data() + size_t(k) * size_t(length));
    std::vector<int> mended;
    mendDeadPixels(all.data(), count, length, i0, bg, mended);
    const auto attenuation = [&](int image, double *out) {
        attenuationLine(all.data() + size_t(image) * size_t(length),
            i0.empty() ? nullptr : i0.data(), bg.empty() ? nullptr : bg.data(), length, out);
    };
    return guessCorOnAttenuation(
        attenuation, count, length, first, rangeDeg, start, fraction, found);
}

bool guessCorOnAttenuation(const AttenuationOf &attenuation, int count, int length, int first,
    double rangeDeg, double start, double fraction, double *found)
{
    if (length <= 0 || first < 0 || first >= count)
        return false;
    // A descending set (negative range) pairs the same images.
    rangeDeg = std::abs(rangeDeg);
    const int partner = corPartnerImage(first, count, rangeDeg);
    if (partner < 0)
        return false;
    // Every pair of images half a turn apart: over 360 degrees each image and the one half
    // the set later, so that one bad projection (a jerk, a flash) is one pair among many;
    // a shorter set has only the first image and its partner.
    std::vector<std::pair<int, int>> pairs { { first, partner } };
    if (rangeDeg >= 270.0) {
        pairs.clear();
        for (int i = 0; i < count; ++i) {
            const int j = corPartnerImage(i, count, rangeDeg);
            if (j > i)
                pairs.push_back({ i, j });
        }
        if (pairs.empty())
            pairs.push_back({ first, partner });
    }
    // Over half a turn: the pairs across the seam of the set and its mirror (up to 16 steps
    // and 12 degrees apart, each image in one pair of each gap at most), and every image's
    // centre of mass.
    const double stepDeg = rangeDeg / count;
    const int seamSteps = rangeDeg < 270.0
        ? std::min({ 16, count / 4, static_cast<int>(std::floor(12.0 / stepDeg + 1e-9)) })
        : 0;
    if (seamSteps >= 2) {
        std::vector<double> att(2 * size_t(seamSteps) * size_t(length));
        const auto lineOf = [&](int image) {
            // Images 0 ... steps - 1 first, then count - steps ... count - 1.
            const int slot = image < seamSteps ? image : image - (count - 2 * seamSteps);
            return att.data() + size_t(slot) * size_t(length);
        };
        for (int k = 0; k < seamSteps; ++k)
            for (const int image : { k, count - 1 - k })
                attenuation(image, lineOf(image));
        const double seam = seamCentre(lineOf, count, seamSteps, stepDeg, length, start, fraction);
        // The centres of mass need no interpolation between samples, which for a sample with
        // sharp edges (a skull, a capillary) seen across its symmetry leaves the mirror a
        // few tenths of a pixel off; they are taken where they agree with the mirror, so that
        // a feature that does not turn (a defective column) cannot carry them away.
        const double mass = massCentre(attenuation, count, length, rangeDeg);
        const double best = std::isfinite(mass) && std::abs(mass - seam) <= 0.5 ? mass : seam;
        if (found != nullptr && std::isfinite(best))
            *found = hundredths(best);
        return std::isfinite(best);
    }
    std::vector<double> att(2 * pairs.size() * static_cast<size_t>(length));
    std::vector<const double *> f, g;
    for (size_t k = 0; k < pairs.size(); ++k) {
        for (int side = 0; side < 2; ++side) {
            double *out = att.data() + (2 * k + side) * static_cast<size_t>(length);
            attenuation(side == 0 ? pairs[k].first : pairs[k].second, out);
            (side == 0 ? f : g).push_back(out);
        }
    }
    const double best = pairs.size() == 1 ? searchCor(f[0], g[0], length, start, fraction)
                                          : searchCorPairs(f, g, length, start, fraction);
    if (found != nullptr)
        *found = hundredths(best);
    return true;
}

double guessRangeOnLines(
    const DetectorLines &lines, int slice, double fraction, double *score180, double *score360)
{
    const int length = lines.lineLength();
    const int count = lines.imageCount();
    if (length <= 0 || count < 4 || slice < 0 || slice >= lines.lineCount())
        return 0.0;
    std::vector<double> raw(length), i0(length), bg(length), first(length), other(length);
    const bool haveI0 = lines.readI0(slice, i0.data());
    const bool haveBg = lines.readBg(slice, bg.data());
    const auto attenuation = [&](int image, std::vector<double> &out) {
        lines.readProjection(image, slice, raw.data());
        attenuationLine(raw.data(), haveI0 ? i0.data() : nullptr, haveBg ? bg.data() : nullptr,
            length, out.data());
    };
    attenuation(0, first);
    const auto mirrorScore = [&](int image) {
        attenuation(image, other);
        const double c = searchCor(first.data(), other.data(), length, length / 2.0, fraction);
        return corScore(first.data(), other.data(), length, c, fraction);
    };
    const double s180 = mirrorScore(count - 1);
    const double s360 = mirrorScore(count / 2);
    if (score180 != nullptr)
        *score180 = s180;
    if (score360 != nullptr)
        *score360 = s360;
    if (!(s180 > 0.0) && !(s360 > 0.0))
        return 0.0;
    // Each score falls short of a perfect mirror by the sample's turn and by the noise of its
    // 2 fraction L samples, whose share scatters by some sqrt(2 / n) of itself: a nearly round
    // sample leaves both short by about the noise alone. A lead of less than three standard
    // deviations of the difference (4.2 / sqrt(n) of the smaller shortfall) decides nothing.
    const double n = std::max(1.0, 2.0 * fraction * length);
    const double short180 = 1.0 - s180, short360 = 1.0 - s360;
    const double smaller = std::min(short180, short360);
    if (!(std::abs(short180 - short360) > 4.2 / std::sqrt(n) * smaller))
        return 0.0;
    return s360 > s180 ? 360.0 : 180.0;
}
