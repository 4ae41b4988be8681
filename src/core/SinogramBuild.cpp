#include "SinogramBuild.h"

#include "CtParams.h"
#include "Failures.h"
#include "HSgm.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "RowWindow.h"
#include "TextUtil.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
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
    // A projection stands for at most the usual step on either side: a gap where nothing was
    // measured stays empty instead of being filled by the images at its edges. The usual step
    // next to a gap is the larger of the medians of the three steps before it and of the three
    // after it, so that where the set changes to a coarser step the coarser part keeps its
    // share, and a lone gap counts as the step beside it.
    const auto medianOfThree = [&gaps, n](size_t k, bool after) {
        double v[3];
        for (size_t j = 0; j < 3; ++j)
            v[j] = gaps[after ? (k + 1 + j) % n : (k + 2 * n - 1 - j) % n];
        return std::max(std::min(v[0], v[1]), std::min(std::max(v[0], v[1]), v[2]));
    };
    std::vector<double> capped(n);
    for (size_t k = 0; k < n; ++k)
        capped[k] = std::min(gaps[k], std::max(medianOfThree(k, false), medianOfThree(k, true)));
    const double step = rangeRad / double(n);
    std::vector<double> weights(n, 1.0);
    for (size_t k = 0; k < n; ++k) {
        const double before = capped[k > 0 ? k - 1 : n - 1];
        weights[at[k].second] = 0.5 * (before + capped[k]) / step;
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

void mendDeadPixels(double *all, int rows, int length, std::vector<double> &i0,
    std::vector<double> &bg, std::vector<int> &mended)
{
    mended.clear();
    if (rows < 1 || length < 3)
        return;
    const auto bgAt = [&](int j) { return bg.empty() ? 0.0 : bg[size_t(j)]; };
    // The open beam's level: the median of the I0 line, or of each pixel's largest reading.
    std::vector<double> level(size_t(length), 0.0);
    double top = -std::numeric_limits<double>::max();
    for (int j = 0; j < length; ++j) {
        double most = -std::numeric_limits<double>::max();
        for (int i = 0; i < rows; ++i)
            most = std::max(most, all[size_t(i) * size_t(length) + size_t(j)]);
        top = std::max(top, most);
        level[size_t(j)] = (i0.empty() ? most : i0[size_t(j)]) - bgAt(j);
    }
    std::nth_element(level.begin(), level.begin() + length / 2, level.end());
    const double open = level[size_t(length / 2)];
    if (!(open > 0.0))
        return;
    // Dark: within 2 % of the open beam above the background. Saturated: at the largest
    // reading of all, when that lies well above the open beam (20 %).
    const bool saturation = top - bgAt(0) > 1.2 * open;
    std::vector<char> bad(size_t(length), 0);
    int badCount = 0;
    for (int j = 0; j < length; ++j) {
        int hits = 0;
        for (int i = 0; i < rows; ++i) {
            const double v = all[size_t(i) * size_t(length) + size_t(j)];
            if (v - bgAt(j) <= 0.02 * open || (saturation && v >= top))
                ++hits;
        }
        if (2 * hits > rows) {
            bad[size_t(j)] = 1;
            ++badCount;
        }
    }
    // Nothing to mend from when most of the line is dark (a line behind a dense sample).
    if (badCount == 0 || 2 * badCount > length)
        return;
    const auto mendLine = [&](double *line) {
        for (int j = 0; j < length; ++j) {
            if (!bad[size_t(j)])
                continue;
            int a = j - 1, b = j + 1;
            while (a >= 0 && bad[size_t(a)])
                --a;
            while (b < length && bad[size_t(b)])
                ++b;
            if (a < 0)
                line[j] = line[b];
            else if (b >= length)
                line[j] = line[a];
            else
                line[j] = line[a] + (line[b] - line[a]) * double(j - a) / double(b - a);
        }
    };
    for (int i = 0; i < rows; ++i)
        mendLine(all + size_t(i) * size_t(length));
    if (!i0.empty())
        mendLine(i0.data());
    if (!bg.empty())
        mendLine(bg.data());
    for (int j = 0; j < length; ++j)
        if (bad[size_t(j)])
            mended.push_back(j);
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
    std::vector<double> i0Line, bgLine;
    if (lines.readI0(slice, line.data()))
        i0Line = line;
    if (lines.readBg(slice, line.data()))
        bgLine = line;
    const auto imageOf
        = [&](int i) { return static_cast<int>((static_cast<long long>(first) + i) % count); };
    hSgm.mendedPixels.clear();
    std::vector<double> all; // every projection line, when dead pixels are mended
    if (hSgm.mendDeadPixels) {
        all.resize(static_cast<size_t>(rows) * static_cast<size_t>(length));
        for (int i = 0; i < rows; ++i)
            lines.readProjection(imageOf(i), slice, all.data() + size_t(i) * size_t(length));
        mendDeadPixels(all.data(), rows, length, i0Line, bgLine, hSgm.mendedPixels);
    }
    if (!i0Line.empty())
        resampleRow(i0Line.data(), length, window, i0.data());
    if (!bgLine.empty())
        resampleRow(bgLine.data(), length, window, bg.data());

    for (int i = 0; i < rows; ++i) {
        if (all.empty())
            lines.readProjection(imageOf(i), slice, line.data());
        else
            std::copy_n(all.data() + size_t(i) * size_t(length), length, line.data());
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

void recordSliceRefused(const ImgDatas *set, bool rotAxIsV, double cor, int slice)
{
    const QString reason
        = set ? sinogramRefusal(ImgDatasLines(*set, rotAxIsV), rotAxIsV, cor, slice) : QString();
    recordFailure(Failures::Slice,
        QString("Slice %1 was not reconstructed: %2")
            .arg(slice)
            .arg(reason.isEmpty() ? QStringLiteral("no sinogram could be built") : reason));
}

void logMendedPixels(const std::vector<int> &pixels, int slice)
{
    if (pixels.empty())
        return;
    QStringList numbers;
    for (const int j : pixels)
        numbers << QString::number(j);
    const QString text = numbers.join(", ");
    static std::mutex mutex;
    static QString lastText;
    std::lock_guard<std::mutex> lock(mutex);
    if (text == lastText)
        return;
    lastText = text;
    logLine(QString("Ring removal: detector pixels %1 read the dark level or the top of the range "
                    "in most projections (slice %2 on); replaced from their neighbours before the "
                    "logarithm")
                .arg(text)
                .arg(slice));
}
