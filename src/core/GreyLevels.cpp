#include "GreyLevels.h"

void GreyLevels::fillRow(const double *src, int n, unsigned char *dst) const
{
    // Same arithmetic as level(), with the constants of the row taken out of the loop;
    // the division order is kept so that every value gets exactly level()'s result.
    const double v0 = vMin;
    const double dv = vMax - vMin;
    const double l = lo;
    const double dl = hi - lo;
    for (int i = 0; i < n; ++i) {
        const double f = (src[i] - v0) / dv;
        double g = (f - l) * 256 / dl;
        g = g > 0 ? g : 0.0;
        g = g < 255 ? g : 255.0;
        dst[i] = static_cast<unsigned char>(static_cast<int>(g));
    }
}
