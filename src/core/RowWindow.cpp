#include "RowWindow.h"

#include <algorithm>
#include <cmath>

double sampleLine(const double *line, int length, double p)
{
    if (!(std::isfinite(p)) || length <= 0)
        return 0.0;
    // Far outside the line both neighbours are missing; this also keeps the integer
    // conversion below in range.
    if (p < -2.0 || p > static_cast<double>(length) + 1.0)
        return 0.0;
    const int k0 = static_cast<int>(std::floor(p));
    const int k1 = k0 + 1;
    const double y0 = (k0 >= 0 && k0 < length) ? line[k0] : 0.0;
    const double y1 = (k1 >= 0 && k1 < length) ? line[k1] : 0.0;
    return interpolate(p, k0, y0, k1, y1);
}

RowWindow makeRowWindow(bool rotAxIsV, int length, double cor)
{
    RowWindow w;
    w.rotAxIsV = rotAxIsV;
    w.cor = cor;
    if (!std::isfinite(cor))
        return w;
    // Clamp before converting so that absurd centres cannot overflow the integers; the
    // clamped values give the same (empty) window as the real ones would.
    const double limit = static_cast<double>(length) + 2.0;
    const double c = std::clamp(cor, -limit, limit);
    w.half = static_cast<int>(std::floor(std::min(c, static_cast<double>(length) - c - 1.0)));
    w.n = 2 * w.half - 1;
    w.corInt = static_cast<int>(std::floor(c));
    w.corFrac = cor - w.corInt;
    return w;
}

bool resampleRow(const double *line, int length, const RowWindow &window, double *out)
{
    if (window.half < 1 || line == nullptr || out == nullptr)
        return false;
    const int first = window.corInt + 1 - window.half;
    const int last = window.corInt + window.half; // right neighbour of the last sample
    if (first < 0 || last >= length)
        return false;
    for (int k = 1 - window.half; k <= window.half - 1; ++k) {
        const int i = window.corInt + k;
        out[k + window.half - 1] = interpolate(window.corFrac + i, i, line[i], i + 1, line[i + 1]);
    }
    return true;
}
