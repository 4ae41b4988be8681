#include "SeriesTree.h"

#include "SliceFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Slice number -> file name of the slice files of one kind in a folder ("...-NNNNN.ext").
QMap<int, QString> sliceFilesIn(const QDir &dir, const QStringList &exts)
{
    static const QRegularExpression re(QStringLiteral("-(\\d+)\\.([A-Za-z]+)$"));
    QMap<int, QString> files;
    for (const QString &f : dir.entryList(QDir::Files, QDir::Name)) {
        const auto m = re.match(f);
        if (!m.hasMatch() || !exts.contains(m.captured(2).toLower()))
            continue;
        bool ok = false;
        const int no = m.captured(1).toInt(&ok);
        if (ok && !files.contains(no))
            files.insert(no, f);
    }
    return files;
}

const QStringList tiffExts { QStringLiteral("tif"), QStringLiteral("tiff") };
const QStringList dataExts { QStringLiteral("dat") };

} // namespace

bool SeriesTree::scan(const QString &rootFolder, double offset, QString *error)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    *this = SeriesTree();
    const QDir dir(rootFolder);
    if (!dir.exists())
        return fail("no such folder: " + rootFolder);
    root = dir.absolutePath();
    dataOffset = offset;

    struct Found
    {
        Energy energy;
        QMap<int, QString> tiff, data;
    };
    QList<Found> found;
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const double e = SliceFiles::energyOfName(sub);
        if (!std::isfinite(e))
            continue;
        const QDir d(dir.filePath(sub));
        Found f;
        f.tiff = sliceFilesIn(d, tiffExts);
        f.data = sliceFilesIn(d, dataExts);
        if (f.tiff.isEmpty() && f.data.isEmpty())
            continue;
        f.energy.tag = sub;
        f.energy.folder = d.absolutePath();
        f.energy.energyEv = e;
        found << f;
    }
    if (found.isEmpty())
        return fail("no folder of slice files named by an energy in " + root);
    std::stable_sort(found.begin(), found.end(),
        [](const Found &a, const Found &b) { return a.energy.energyEv < b.energy.energyEv; });
    for (int k = 1; k < found.size(); ++k) {
        if (found[k].energy.energyEv == found[k - 1].energy.energyEv)
            return fail(QString("the folders %1 and %2 name the same energy %3 eV")
                            .arg(found[k - 1].energy.folder, found[k].energy.folder)
                            .arg(found[k].energy.energyEv));
    }
    format = found.first().tiff.isEmpty() ? Format::CtData : Format::Tiff;
    const auto filesOf = [this](const Found &f) -> const QMap<int, QString> & {
        return format == Format::Tiff ? f.tiff : f.data;
    };

    // Every slice that any energy has; an energy lacking one fails the tree, named by the file
    // it should have had (its own naming, from its other slices).
    QList<int> all;
    for (const Found &f : std::as_const(found))
        all << filesOf(f).keys();
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    static const QRegularExpression numberPart(QStringLiteral("-\\d+(\\.[A-Za-z]+)$"));
    for (Found &f : found) {
        const QMap<int, QString> &files = filesOf(f);
        if (files.isEmpty())
            return fail(QString("the folder %1 holds no %2 slice file")
                            .arg(f.energy.folder, format == Format::Tiff ? "TIFF" : "data"));
        for (int no : std::as_const(all)) {
            if (!files.contains(no)) {
                QString name = files.first();
                name.replace(numberPart, QString("-%1\\1").arg(no, 5, 10, QChar('0')));
                return fail(
                    QString("missing slice file %1").arg(QDir(f.energy.folder).filePath(name)));
            }
            f.energy.files.push_back(QDir(f.energy.folder).filePath(files.value(no)));
        }
        energies << f.energy;
    }
    slices = all;

    // The first slice of every energy gives its size (all must agree) and what the run says
    // about it.
    std::vector<float> pixels;
    for (int k = 0; k < energies.size(); ++k) {
        Energy &e = energies[k];
        int w = 0, h = 0;
        QString why;
        bool ok = false;
        if (format == Format::Tiff) {
            SliceFiles::Description d;
            ok = SliceFiles::readFloatTiff(e.files.front(), pixels, w, h, &why, &d);
            e.cor = d.cor;
            if (k == 0) {
                method = d.method;
                filter = d.filter;
            }
        } else {
            ok = SliceFiles::readCtImageData(e.files.front(), dataOffset, pixels, w, h, &why);
        }
        if (!ok)
            return fail(e.files.front() + ": " + why);
        if (k == 0) {
            cols = w;
            rows = h;
        } else if (w != cols || h != rows) {
            return fail(QString("%1 is %2 x %3 pixels, the slices of %4 are %5 x %6: the "
                                "energies were not reconstructed on one grid")
                            .arg(e.files.front())
                            .arg(w)
                            .arg(h)
                            .arg(energies.first().tag)
                            .arg(cols)
                            .arg(rows));
        }
    }
    return true;
}

bool SeriesTree::readSlice(int k, int s, float *out, QString *error) const
{
    const QString &path = energies.at(k).files.at(size_t(s));
    thread_local std::vector<float> pixels;
    int w = 0, h = 0;
    QString why;
    const bool ok = format == Format::Tiff
        ? SliceFiles::readFloatTiff(path, pixels, w, h, &why)
        : SliceFiles::readCtImageData(path, dataOffset, pixels, w, h, &why);
    if (ok && (w != cols || h != rows))
        why = QString("%1 x %2 pixels instead of %3 x %4").arg(w).arg(h).arg(cols).arg(rows);
    if (!ok || !why.isEmpty()) {
        if (error)
            *error = path + ": " + (QFileInfo::exists(path) ? why : QString("missing"));
        return false;
    }
    std::memcpy(out, pixels.data(), pixels.size() * sizeof(float));
    return true;
}
