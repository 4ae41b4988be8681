#pragma once

// Sinogram shared by the back-projection benchmarks: a few off-centre discs seen from every
// angle, smooth but with some structure.
#include "HSgm.h"

#include <cmath>
#include <numbers>

inline void fillSinogram(HSgm &sgm, int w, int rows)
{
    sgm.setSize(w, rows);
    const double c = (w - 1) / 2.0;
    for (int i = 0; i < rows; ++i) {
        const double th = i * std::numbers::pi / rows;
        double *row = sgm.sgmRow(i);
        for (int j = 0; j < w; ++j) {
            double v = 0.0;
            for (int d = 0; d < 3; ++d) {
                const double r = w * (0.08 + 0.05 * d);
                const double u = j - c - w * 0.15 * d * std::cos(th + d);
                if (std::abs(u) < r)
                    v += 2.0 * std::sqrt(r * r - u * u) * 0.001 * (d + 1);
            }
            row[j] = v;
            sgm.rawRow(i)[j] = std::exp(-v);
        }
    }
}
