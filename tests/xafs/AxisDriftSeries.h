#pragma once

// Test data for a rotation axis that moves between the energies of a CT-XAFS series while the
// sample stays put, shared by the tests of the tool and of the window.
#include "ItexWriter.h"

#include <QDir>
#include <QList>
#include <QPointF>
#include <QString>

#include <cmath>
#include <vector>

// A series of one sample whose rotation axis lies at `axis` + drifts[k] on the detector for
// energy k (sub-folders 07100_0eV, 07105_0eV, ...; I0 and BG images beside them): three
// cylinders along the axis, projected exactly (chord lengths), `slices` detector lines high.
inline bool writeAxisDriftSeries(const QString &root, double axis, const QList<double> &drifts,
    int width, int slices, int projections)
{
    struct Disc
    {
        double cx, cy, r, mu;
    };
    const Disc discs[] = { { 0, 0, 14, 0.02 }, { 8, -6, 4, 0.05 }, { -9, 5, 3, 0.08 } };
    const double i0 = 30000, bg = 100;
    std::vector<quint16> flat(size_t(width) * slices, quint16(i0)),
        dark(size_t(width) * slices, quint16(bg));
    if (!QDir().mkpath(root) || !writeItexFile(root + "/BG.img", width, slices, 2, dark.data()))
        return false;
    for (int k = 0; k < drifts.size(); ++k) {
        const QString tag = QString("%1_0eV").arg(7100 + 5 * k, 5, 10, QChar('0'));
        if (!QDir().mkpath(root + "/" + tag)
            || !writeItexFile(root + "/I0-" + tag + "-00000.img", width, slices, 2, flat.data()))
            return false;
        std::vector<quint16> img(size_t(width) * slices);
        for (int p = 0; p < projections; ++p) {
            const double theta = M_PI * p / projections;
            for (int j = 0; j < width; ++j) {
                const double u = j - (axis + drifts[k]);
                double integral = 0;
                for (const Disc &d : discs) {
                    const double t = u - (d.cx * std::cos(theta) + d.cy * std::sin(theta));
                    if (std::abs(t) < d.r)
                        integral += d.mu * 2 * std::sqrt(d.r * d.r - t * t);
                }
                const auto counts = quint16(std::lround(bg + (i0 - bg) * std::exp(-integral)));
                for (int row = 0; row < slices; ++row)
                    img[size_t(row) * width + j] = counts;
            }
            if (!writeItexFile(
                    QString("%1/%2/sample-%3.img").arg(root, tag).arg(p, 5, 10, QChar('0')), width,
                    slices, 2, img.data()))
                return false;
        }
    }
    return true;
}

// The centre of mass of the positive values of a row-major w x h slice (x, then y).
inline QPointF centroid(const std::vector<float> &v, int w, int h)
{
    double sum = 0, sx = 0, sy = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double p = std::max(0.0f, v[size_t(y) * w + x]);
            sum += p;
            sx += p * x;
            sy += p * y;
        }
    return sum > 0 ? QPointF(sx / sum, sy / sum) : QPointF(-1, -1);
}
