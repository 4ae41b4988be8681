#include "CorSearch.h"

#include "DetectorLines.h"
#include "RowWindow.h"

#include <algorithm>
#include <cmath>
#include <limits>
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
template <class Coarse, class Fine, class Raw>
double searchWith(
    const Coarse &coarseScore, const Fine &score, const Raw *rawScore, int length, double start)
{
    if (!std::isfinite(start))
        return start;
    // A climb that starts far from the axis can end on a side peak, where the object's edge
    // meets a feature of its mirror image. So the climb starts from the best of a coarse scan
    // over every whole pixel of the middle half of the line, where an axis is plausible, and
    // of the start itself, which keeps an axis outside that half within reach.
    double m = start;
    double coarse = coarseScore(start);
    for (int c = length / 4; c <= 3 * length / 4; ++c) {
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

bool guessCorOnLines(const DetectorLines &lines, int slice, int first, double rangeDeg,
    double start, double fraction, double *found)
{
    const int length = lines.lineLength();
    const int count = lines.imageCount();
    if (length <= 0 || slice < 0 || slice >= lines.lineCount() || first < 0 || first >= count)
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
    std::vector<double> raw(length), i0(length), bg(length);
    const bool haveI0 = lines.readI0(slice, i0.data());
    const bool haveBg = lines.readBg(slice, bg.data());
    std::vector<double> att(2 * pairs.size() * static_cast<size_t>(length));
    std::vector<const double *> f, g;
    for (size_t k = 0; k < pairs.size(); ++k) {
        for (int side = 0; side < 2; ++side) {
            double *out = att.data() + (2 * k + side) * static_cast<size_t>(length);
            lines.readProjection(side == 0 ? pairs[k].first : pairs[k].second, slice, raw.data());
            attenuationLine(raw.data(), haveI0 ? i0.data() : nullptr, haveBg ? bg.data() : nullptr,
                length, out);
            (side == 0 ? f : g).push_back(out);
        }
    }
    const double best = pairs.size() == 1 ? searchCor(f[0], g[0], length, start, fraction)
                                          : searchCorPairs(f, g, length, start, fraction);
    if (found != nullptr)
        *found = best;
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
    return s360 > s180 ? 360.0 : 180.0;
}
