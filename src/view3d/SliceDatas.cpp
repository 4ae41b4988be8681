#include "SliceDatas.h"

#include "TextUtil.h"

#include <algorithm>
#include <cmath>
#include <limits>

SliceDatas::SliceDatas(QObject *parent)
    : QObject(parent)
    , published(std::make_shared<const Set>())
{ }

void SliceDatas::filesSelected(QStringList files)
{
    // Readers from now on see an empty set until the new one is complete.
    published.store(std::make_shared<const Set>());
    emit cleared();

    auto set = std::make_shared<Set>();
    set->vMin = std::numeric_limits<double>::max();
    set->vMax = -std::numeric_limits<double>::max();
    bool sizeFixed = false;
    for (const QString &fname : files) {
        if (stopRequested)
            break;
        SliceData slice;
        if (!slice.read(fname)) {
            logLine("Not a slice file, skipped :", fname);
            continue;
        }
        if (!sizeFixed && slice.sw > 0 && slice.sh > 0) {
            set->sw = slice.sw;
            set->sh = slice.sh;
            sizeFixed = true;
        }
        if (slice.sw != set->sw || slice.sh != set->sh) {
            logLine("Slice size differs from the first slice of the set, skipped :",
                QString("%1 (%2 x %3, the set has %4 x %5)")
                    .arg(fname)
                    .arg(slice.sw)
                    .arg(slice.sh)
                    .arg(set->sw)
                    .arg(set->sh));
            continue;
        }
        if (!(slice.vMax > slice.vMin)) {
            logLine("Slice holds one value only, skipped :", fname);
            continue;
        }
        set->vMin = std::min(set->vMin, slice.vMin);
        set->vMax = std::max(set->vMax, slice.vMax);
        set->slices.push_back(std::move(slice));
        emit loadedNewFile(fname);
    }
    if (!set->slices.empty()) {
        set->loaded = true;
        thLow = set->vMin;
        thHigh = set->vMax;
        set->buildHistogram();
    } else if (!files.isEmpty()) {
        logLine("No slice accepted from the selected files, the first was :", files.first());
    }
    published.store(std::shared_ptr<const Set>(std::move(set)));
    emit loadFilesFinished();
}

void SliceDatas::Set::buildHistogram()
{
    histReady = false;
    hist = QList<int>(histBins, 0);
    binW = (vMax - vMin) / (histBins - 1);
    const double start = vMin - 0.5 * binW;
    for (const SliceData &s : slices) {
        for (double v : s.rows) {
            // Compared as doubles first: a value far outside the range must not overflow the
            // conversion to int.
            const double b = std::trunc((v - start) / binW);
            const int bin = b >= histBins - 1 ? histBins - 1 : (b > 0 ? int(b) : 0);
            ++hist[bin];
        }
    }
    histMax = *std::max_element(hist.cbegin(), hist.cend());

    histImg = QImage(histBins, histH, QImage::Format_RGB32);
    histImg.fill(Qt::white);
    const QRgb bar = qRgb(0, 220, 160);
    for (int i = 0; i < histBins; ++i) {
        const int top = int(histH - 1 - hist[i] / histMax * (histH - 1));
        for (int y = std::max(top, 0); y <= histH - 1; ++y)
            histImg.setPixel(i, y, bar);
    }
    histReady = true;
}
