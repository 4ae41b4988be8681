#include "SliceDatas.h"

#include "Failures.h"
#include "TextUtil.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

SliceDatas::SliceDatas(QObject *parent)
    : QObject(parent)
    , published(std::make_shared<const Set>())
{ }

namespace {

// The slice number of a saved slice file: the last run of digits in its name without the
// extension ("scan-7112eV-00042.dat" is slice 42); -1 when the name holds none.
qint64 sliceNumberOf(const QString &path)
{
    static const QRegularExpression lastDigits(QStringLiteral("([0-9]+)[^0-9]*$"));
    const QRegularExpressionMatch m = lastDigits.match(QFileInfo(path).completeBaseName());
    if (!m.hasMatch())
        return -1;
    bool ok = false;
    const qint64 n = m.captured(1).right(18).toLongLong(&ok);
    return ok ? n : -1;
}

// The files of a selection with every folder replaced by the slice data files below it (sub
// folders included), then all ordered by slice number. A file without a slice number, or with
// the number of a file already taken, is refused and named with its reason.
QStringList expandFolders(const QStringList &chosen, QStringList *refused)
{
    struct Numbered
    {
        qint64 no;
        QString path;
    };
    std::vector<Numbered> found;
    for (const QString &path : chosen) {
        if (!QFileInfo(path).isDir()) {
            found.push_back({ sliceNumberOf(path), path });
            continue;
        }
        // The data files; a folder of float TIFF slices alone (the data files not kept)
        // gives those.
        QStringList below;
        for (const QStringList &patterns : { QStringList { QStringLiteral("*.dat") },
                 QStringList { QStringLiteral("*.tif"), QStringLiteral("*.tiff") } }) {
            QDirIterator it(path, patterns, QDir::Files,
                QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
            while (it.hasNext())
                below << it.next();
            if (!below.isEmpty())
                break;
        }
        // Name order first, so that which of two files of one slice is taken does not depend
        // on the order the file system lists them in.
        below.sort();
        for (const QString &f : std::as_const(below))
            found.push_back({ sliceNumberOf(f), f });
    }
    std::stable_sort(found.begin(), found.end(),
        [](const Numbered &a, const Numbered &b) { return a.no < b.no; });
    QStringList files;
    QHash<qint64, QString> taken;
    for (const Numbered &n : found) {
        if (n.no < 0) {
            *refused << n.path + QStringLiteral(" (no slice number in the name)");
        } else if (taken.contains(n.no)) {
            *refused << n.path
                    + QStringLiteral(" (slice %1 again, %2 is taken)").arg(n.no).arg(taken[n.no]);
        } else {
            taken.insert(n.no, n.path);
            files << n.path;
        }
    }
    return files;
}

} // namespace

void SliceDatas::filesSelected(QStringList files)
{
    // A folder stands for the stack saved in it: one file per slice, in slice order.
    const bool folders = std::any_of(
        files.cbegin(), files.cend(), [](const QString &f) { return QFileInfo(f).isDir(); });
    QStringList refused;
    if (folders) {
        const QStringList chosen = files;
        files = expandFolders(chosen, &refused);
        logLine(QStringLiteral("%1 slice data files found, %2 refused, in :")
                    .arg(files.size())
                    .arg(refused.size()),
            chosen.join(QStringLiteral(", ")));
        for (const QString &r : std::as_const(refused))
            logLine(QStringLiteral("Slice file refused :"), r);
    }
    // Readers from now on see an empty set until the new one is complete.
    published.store(std::make_shared<const Set>());
    emit cleared();
    if (folders)
        emit foldersScanned(int(files.size()), refused);

    auto set = std::make_shared<Set>();
    set->vMin = std::numeric_limits<double>::max();
    set->vMax = -std::numeric_limits<double>::max();
    bool sizeFixed = false;
    // Places in the stack of files refused: they stay as empty slices, so that the slices
    // after them keep their height instead of moving up.
    std::vector<size_t> gaps;
    for (const QString &fname : files) {
        if (stopRequested)
            break;
        SliceData slice;
        slice.dataOffset = dataOffset;
        const int failuresBefore = Failures::instance().count();
        if (!slice.read(fname)) {
            // A refused file leaves a gap in the stack: counted (once; a file cut short is
            // counted by its reader), so a batch that loads the set does not end as a success.
            if (Failures::instance().count() == failuresBefore)
                recordFailure(Failures::Load, "Not a slice file, skipped : " + fname);
            gaps.push_back(set->slices.size() + gaps.size());
            continue;
        }
        if (!sizeFixed && slice.sw > 0 && slice.sh > 0) {
            set->sw = slice.sw;
            set->sh = slice.sh;
            sizeFixed = true;
        }
        if (slice.sw != set->sw || slice.sh != set->sh) {
            recordFailure(Failures::Load,
                "Slice size differs from the first slice of the set, skipped : "
                    + QString("%1 (%2 x %3, the set has %4 x %5)")
                          .arg(fname)
                          .arg(slice.sw)
                          .arg(slice.sh)
                          .arg(set->sw)
                          .arg(set->sh));
            gaps.push_back(set->slices.size() + gaps.size());
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
    if (!set->slices.empty() && !gaps.empty()) {
        // Each gap holds the set's lowest value: below every threshold, it shows as empty.
        SliceData empty;
        empty.sw = set->sw;
        empty.sh = set->sh;
        empty.vMin = empty.vMax = set->vMin;
        empty.rows.assign(size_t(set->sw) * size_t(set->sh), set->vMin);
        for (const size_t at : gaps)
            set->slices.insert(set->slices.begin() + qsizetype(std::min(at, set->slices.size())),
                empty);
        logLine(QString("%1 refused slice files are left as empty slices in the stack")
                    .arg(gaps.size()));
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
