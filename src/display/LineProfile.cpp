#include "LineProfile.h"

#include "WholeFile.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

std::vector<LineProfile::Point> LineProfile::sample(
    int width, int height, const RowFn &row, QPointF a, QPointF b)
{
    std::vector<Point> out;
    if (width <= 0 || height <= 0 || !row)
        return out;
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    const double len = std::hypot(dx, dy);
    // A line beyond any picture would ask for an unbounded number of points.
    if (!std::isfinite(len) || !std::isfinite(a.x()) || !std::isfinite(a.y()) || len > 1e7)
        return out;
    const int n = len > 0 ? int(std::ceil(len)) + 1 : 1;
    out.reserve(size_t(n));

    // The two rows a bilinear read needs, kept while the line stays on them.
    std::vector<double> buf[2] { std::vector<double>(size_t(width)),
        std::vector<double>(size_t(width)) };
    int cachedRow[2] { -1, -1 };
    const double *cached[2] { nullptr, nullptr };
    // Reads row `iy`, giving up the cached row that is not `keep` (the other row in use).
    auto rowOf = [&](int iy, int keep) -> const double * {
        for (int k = 0; k < 2; ++k)
            if (cachedRow[k] == iy)
                return cached[k];
        const int k = cachedRow[0] == keep ? 1 : 0;
        cached[k] = row(iy, buf[k].data());
        cachedRow[k] = cached[k] ? iy : -1;
        return cached[k];
    };

    for (int i = 0; i < n; ++i) {
        const double t = n > 1 ? double(i) / (n - 1) : 0.0;
        const double x = a.x() + t * dx;
        const double y = a.y() + t * dy;
        if (x < 0 || y < 0 || x > width || y > height)
            continue;
        const double u = std::clamp(x - 0.5, 0.0, double(width - 1));
        const double v = std::clamp(y - 0.5, 0.0, double(height - 1));
        const int i0 = std::min(int(u), width - 1);
        const int j0 = std::min(int(v), height - 1);
        const int i1 = std::min(i0 + 1, width - 1);
        const int j1 = std::min(j0 + 1, height - 1);
        const double fx = u - i0;
        const double fy = v - j0;
        const double *r0 = rowOf(j0, j1);
        const double *r1 = j1 == j0 ? r0 : rowOf(j1, j0);
        if (!r0 || !r1)
            continue;
        const double top = r0[i0] + fx * (r0[i1] - r0[i0]);
        const double bottom = r1[i0] + fx * (r1[i1] - r1[i0]);
        out.push_back(Point { t * len, top + fy * (bottom - top) });
    }
    return out;
}

std::vector<LineProfile::Point> LineProfile::sample(
    int width, int height, const double *values, QPointF a, QPointF b)
{
    if (!values)
        return {};
    return sample(
        width, height,
        [values, width](int iy, double *) { return values + size_t(iy) * size_t(width); }, a, b);
}

QString LineProfile::csv(const std::vector<Point> &points, double pixelSize, const QString &unit)
{
    // A size without a unit would give numbers nobody can read: they stay in pixels.
    const bool scaled = pixelSize > 0 && std::isfinite(pixelSize) && !unit.isEmpty();
    const double k = scaled ? pixelSize : 1.0;
    QString text
        = QStringLiteral("distance (%1),value\n").arg(scaled ? unit : QStringLiteral("px"));
    for (const Point &p : points)
        text += QString::number(p.distance * k, 'g', 10) + QLatin1Char(',')
            + QString::number(p.value, 'g', 10) + QLatin1Char('\n');
    return text;
}

bool LineProfile::writeCsv(
    const QString &path, const std::vector<Point> &points, double pixelSize, const QString &unit)
{
    return saveWholeFile(path, csv(points, pixelSize, unit).toUtf8());
}
