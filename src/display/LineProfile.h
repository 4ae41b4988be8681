#pragma once

#include <QPointF>
#include <QString>

#include <functional>
#include <vector>

// The values along a straight line through a picture of values. Pixel (i, j) covers
// [i, i + 1) x [j, j + 1) in image coordinates (as the views count them) and its value sits at
// its centre (i + 0.5, j + 0.5); between centres values are read by bilinear interpolation,
// within half a pixel of the border the border pixels' values hold. Points of the line outside
// the picture are left out.
class LineProfile
{
public:
    // Row `iy` of the picture (`width` values). The function may fill `buf` (room for `width`
    // values) and return it, or return its own storage, which must stay valid while sampling.
    using RowFn = std::function<const double *(int iy, double *buf)>;

    struct Point
    {
        double distance; // from the line's start, in pixels
        double value;
    };

    // Samples from `a` to `b` at ceil(length) + 1 evenly spaced points (no more than a pixel
    // apart, both ends included; one point for a line of no length).
    static std::vector<Point> sample(int width, int height, const RowFn &row, QPointF a, QPointF b);

    // The same over a contiguous picture, row after row.
    static std::vector<Point> sample(
        int width, int height, const double *values, QPointF a, QPointF b);

    // The CSV text: a header line "distance (UNIT),value", then one "distance,value" line per
    // point. With a pixel size > 0 and a unit the distances are multiplied by it and `unit` names
    // them; otherwise they stay in pixels ("px").
    static QString csv(
        const std::vector<Point> &points, double pixelSize = 0, const QString &unit = QString());
    // Writes csv() to `path` as a whole; false (reported on the log) when it cannot.
    static bool writeCsv(const QString &path, const std::vector<Point> &points,
        double pixelSize = 0, const QString &unit = QString());
};
