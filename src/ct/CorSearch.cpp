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

double corScore(const double *f, const double *g, int length, double c, double fraction)
{
    if (length <= 0 || f == nullptr || g == nullptr || !std::isfinite(c))
        return 0.0;
    const double reach = fraction * length;
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
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
    // Interpolating between samples lowers a line's energy, so a bare product peaks on
    // whole (or half) pixels; normalised by both energies it peaks on the axis itself.
    if (!(aa > 0.0) || !(bb > 0.0))
        return 0.0;
    return ab / std::sqrt(aa * bb);
}

double searchCor(const double *f, const double *g, int length, double start, double fraction)
{
    if (!std::isfinite(start))
        return start;
    // A climb that starts far from the axis can end on a side peak, where the object's edge
    // meets a feature of its mirror image. So the climb starts from the best of a coarse scan
    // over every whole pixel of the middle half of the line, where an axis is plausible, and
    // of the start itself, which keeps an axis outside that half within reach.
    double m = start;
    double coarse = corScore(f, g, length, start, fraction);
    for (int c = length / 4; c <= 3 * length / 4; ++c) {
        const double s = corScore(f, g, length, c, fraction);
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
            const double s = corScore(f, g, length, t, fraction);
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
    m = bestPos;
    for (double t = m - 2.0; t < m + 2.0; t += 0.1) {
        const double s = corScore(f, g, length, t, fraction);
        if (s > best) {
            best = s;
            bestPos = t;
        }
    }
    return bestPos;
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
    const int partner = corPartnerImage(first, count, rangeDeg);
    if (partner < 0)
        return false;
    std::vector<double> f(length), g(length), i0(length), bg(length), attF(length), attG(length);
    const bool haveI0 = lines.readI0(slice, i0.data());
    const bool haveBg = lines.readBg(slice, bg.data());
    lines.readProjection(first, slice, f.data());
    lines.readProjection(partner, slice, g.data());
    attenuationLine(
        f.data(), haveI0 ? i0.data() : nullptr, haveBg ? bg.data() : nullptr, length, attF.data());
    attenuationLine(
        g.data(), haveI0 ? i0.data() : nullptr, haveBg ? bg.data() : nullptr, length, attG.data());
    const double best = searchCor(attF.data(), attG.data(), length, start, fraction);
    if (found != nullptr)
        *found = best;
    return true;
}
