#include "SinogramBuild.h"

#include "CtParams.h"
#include "HSgm.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "ProcCtrl.h"
#include "RowWindow.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <vector>

std::vector<double> rowAnglesOf(const CtParams &p, int rows)
{
    const int count = int(p.imageAnglesDeg.size());
    if (count == 0 || count != p.dataSetImages || rows <= 0)
        return {};
    const double toRad = std::numbers::pi / 180.0;
    const int first = (p.startImageNo >= 0 && p.startImageNo < count) ? p.startImageNo : 0;
    std::vector<double> angles(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        const long long k = static_cast<long long>(first) + i;
        const int image = int(k % count);
        const double turns = double(k / count);
        angles[size_t(i)] = (p.imageAnglesDeg[size_t(image)] - p.imageAnglesDeg[0]
                                + turns * p.dataSetRangeDeg + p.angleOriginDeg)
            * toRad;
    }
    return angles;
}

std::vector<double> rowWeightsOf(const std::vector<double> &angles, double rangeRad)
{
    const size_t n = angles.size();
    // A descending set has a negative range: the same circle.
    rangeRad = std::abs(rangeRad);
    if (n < 2 || !(rangeRad > 0.0) || !std::isfinite(rangeRad))
        return {};
    // Positions within one range from the first angle, sorted round the range whatever the
    // order of the images.
    std::vector<std::pair<double, size_t>> at(n);
    for (size_t i = 0; i < n; ++i) {
        double a = std::fmod(angles[i] - angles[0], rangeRad);
        if (a < 0)
            a += rangeRad;
        at[i] = { a, i };
    }
    std::sort(at.begin(), at.end());
    std::vector<double> gaps(n); // gaps[k]: from sorted position k to the next, round the range
    for (size_t k = 0; k < n; ++k)
        gaps[k] = (k + 1 < n ? at[k + 1].first : at[0].first + rangeRad) - at[k].first;
    // A projection stands for at most a few of the set's usual (median) steps on either side:
    // a gap where nothing was measured stays empty instead of being filled by the images at
    // its edges, while a part of the set taken at a coarser step keeps its share.
    std::vector<double> sortedGaps(gaps);
    std::nth_element(sortedGaps.begin(), sortedGaps.begin() + n / 2, sortedGaps.end());
    const double cap = RowWeightCapSteps * sortedGaps[n / 2];
    const double step = rangeRad / double(n);
    std::vector<double> weights(n, 1.0);
    for (size_t k = 0; k < n; ++k) {
        const double before = gaps[k > 0 ? k - 1 : n - 1];
        weights[at[k].second] = 0.5 * (std::min(before, cap) + std::min(gaps[k], cap)) / step;
    }
    return weights;
}

void weightRows(HSgm &sgm, const CtParams &p, const std::vector<double> &angles)
{
    if (angles.empty() || !sgm.hasData() || sgm.h != p.dataSetImages || int(angles.size()) != sgm.h)
        return;
    const std::vector<double> weights
        = rowWeightsOf(angles, p.dataSetRangeDeg * std::numbers::pi / 180.0);
    for (size_t i = 0; i < weights.size(); ++i) {
        double *row = sgm.sgmRow(int(i));
        for (int c = 0; c < sgm.w; ++c)
            row[c] *= weights[i];
    }
}

ProjectionSelection selectProjections(int count, bool partial, int startImageNo, int usingImages)
{
    ProjectionSelection sel;
    if (!partial) {
        sel.rows = count > 0 ? count : 0;
        return sel;
    }
    sel.first = (startImageNo < 0 || startImageNo >= count) ? 0 : startImageNo;
    // |INT_MIN| does not fit an int: take the largest count instead.
    sel.rows = usingImages == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                              : std::abs(usingImages);
    return sel;
}

bool buildSinogram(HSgm &hSgm, const DetectorLines &lines, const ProjectionSelection &selection,
    bool rotAxIsV, double cor, int slice)
{
    const int length = lines.lineLength();
    if (!std::isfinite(cor) || std::floor(cor) <= 0.0 || std::ceil(cor) >= length)
        return false;
    if (slice < 0 || slice >= lines.lineCount())
        return false;
    const int count = lines.imageCount();
    // Rows from an empty set would have no image to come from.
    const int rows = count > 0 ? selection.rows : 0;
    const int first = (selection.first >= 0 && selection.first < count) ? selection.first : 0;

    const RowWindow window = makeRowWindow(rotAxIsV, length, cor);
    hSgm.slice = slice;
    hSgm.setSize(window.n, rows);
    if (!hSgm.hasData())
        return true;

    const int n = window.n;
    // One line buffer for the whole call; every projection line passes through it.
    std::vector<double> line(length);
    std::vector<double> i0(n, 1.0);
    std::vector<double> bg(n, 0.0);
    if (lines.readI0(slice, line.data()))
        resampleRow(line.data(), length, window, i0.data());
    if (lines.readBg(slice, line.data()))
        resampleRow(line.data(), length, window, bg.data());

    for (int i = 0; i < rows; ++i) {
        const int image = static_cast<int>((static_cast<long long>(first) + i) % count);
        lines.readProjection(image, slice, line.data());
        double *raw = hSgm.rawRow(i);
        double *att = hSgm.sgmRow(i);
        resampleRow(line.data(), length, window, raw);
        for (int j = 0; j < n; ++j) {
            double a = i0[j] - bg[j];
            double b = raw[j] - bg[j];
            // Keeps the logarithm defined for dark or saturated samples.
            if (!(a > 0.0))
                a = 1.0;
            if (!(b > 0.0))
                b = 1.0;
            att[j] = std::log(a / b);
        }
    }
    return true;
}

bool buildSinogram(HSgm &hSgm, const ImgDatas &set, const PartialDataSet &partial, bool rotAxIsV,
    double cor, int slice)
{
    const ImgDatasLines lines(set, rotAxIsV);
    const ProjectionSelection selection = selectProjections(
        lines.imageCount(), partial.enabled, partial.startImageNo, partial.usingImages);
    return buildSinogram(hSgm, lines, selection, rotAxIsV, cor, slice);
}

QString sinogramRefusal(const DetectorLines &lines, bool rotAxIsV, double cor, int slice)
{
    const int length = lines.lineLength();
    if (lines.imageCount() <= 0 || length <= 0)
        return QStringLiteral("no projection images are loaded");
    if (slice < 0 || slice >= lines.lineCount())
        return QStringLiteral("the set has %1 lines (0…%2)")
            .arg(lines.lineCount())
            .arg(lines.lineCount() - 1);
    if (!std::isfinite(cor) || std::floor(cor) <= 0.0 || std::ceil(cor) >= length)
        return QStringLiteral("the centre of rotation %1 lies outside 1…%2")
            .arg(cor)
            .arg(length - 1);
    if (makeRowWindow(rotAxIsV, length, cor).n / 2 * 2 < 2)
        return QStringLiteral("the centre of rotation %1 leaves too few samples").arg(cor);
    return QString();
}
