#include "CorSearch.h"

#include "RowWindow.h"

#include <cmath>

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
    double sum = 0.0;
    for (int i = 0; i < 2 * length; ++i) {
        const int x = i - length;
        if (!(std::abs(static_cast<double>(x)) < reach))
            continue;
        const double a = sampleLine(f, length, c + x);
        const double b = sampleLine(g, length, c + length - 1 - i);
        sum += a * b;
    }
    return sum;
}

double searchCor(const double *f, const double *g, int length, double start, double fraction)
{
    if (!std::isfinite(start))
        return start;
    double best = 0.0;
    double bestPos = start;
    double m = start;
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
