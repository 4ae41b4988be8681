#include "DataSeries.h"

#include "CtFileSet.h"
#include "DxchangeFile.h"
#include "Hdf5DataSet.h"
#include "ImgReaders.h"
#include "FileNames.h"

#include <QDir>
#include <QRegularExpression>

#include <cmath>

namespace {

double energyOfName(const QString &field)
{
    return CtFileSet::readNameNumber(field) * CtFileSet::scaleOf(CtFileSet::unitOf(field));
}

} // namespace

QString DataSeries::layoutText() const
{
    switch (layout) {
    case SubFolders:
        return QStringLiteral("one sub-folder per energy");
    case FileSets:
        return QStringLiteral("\"ZBX Std.\" file sets");
    case Hdf5Files:
        return QStringLiteral("one HDF5 file per energy");
    case OneSet:
        break;
    }
    return QStringLiteral("one data set");
}

DataSeries DataSeries::find(const QString &folder, const QStringList &patterns, bool insist,
    QString *error, const FolderLayout &names, const QString &hdf5Units, const QString &hdf5Entry)
{
    DataSeries series;
    const QDir dir(folder);
    // Names that are not valid text are left out of every listing: a set without them would
    // be reconstructed from part of its projections.
    QStringList places { folder };
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        places << dir.filePath(sub);
    for (const QString &where : std::as_const(places)) {
        const QStringList lost = undecodableNames(where, patterns);
        if (!lost.isEmpty()) {
            *error = undecodableText(where, lost);
            return series;
        }
    }

    // A tomo/ sub-folder (with flats/ and darks/ beside it) is one data set, not a series.
    if (!FolderLayout::projectionSubFolder(folder).isEmpty() && !insist) {
        FolderLayout layout = names;
        if (!layout.read(folder, patterns, error))
            return series;
        series.sets << SeriesSet { QString(), 0.0, layout.projections, layout.flats, layout.darks };
        series.setText = layout.text();
        return series;
    }

    // The folder's own images, flats and darks apart.
    QFileInfoList topFiles;
    for (const QFileInfo &fi : dir.entryInfoList(patterns, QDir::Files, QDir::Name)) {
        if (names.roleOf(fi.fileName()) == FolderLayout::Role::Projection)
            topFiles << fi;
    }

    // Sub-folders in the order the data-set selector lists them, each with its projections
    // in the order the file selector loads them. Only a name with a number is an energy.
    QList<SeriesSet> subSets;
    QStringList subSkipped;
    qsizetype subFiles = 0;
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        FolderLayout layout = names;
        if (!layout.read(dir.filePath(sub), patterns, nullptr))
            continue;
        if (!sub.contains(QRegularExpression(QStringLiteral("[0-9]")))) {
            subSkipped << sub + QStringLiteral("/ (no number in its name)");
            continue;
        }
        SeriesSet set { sub, energyOfName(sub), layout.projections, layout.flats, layout.darks };
        subFiles += set.files.size();
        subSets << set;
    }
    if (subFiles > topFiles.size()) {
        series.layout = SubFolders;
        series.sets = subSets;
        series.skipped = subSkipped;
        return series;
    }

    if (topFiles.isEmpty() && subSets.isEmpty()) {
        // A folder of HDF5 files, one per energy.
        const QFileInfoList h5 = dir.entryInfoList(
            DxchangeFile::nameFilters(), QDir::Files, QDir::Name | QDir::IgnoreCase);
        if (h5.size() >= 2 || (insist && h5.size() == 1)) {
            series.layout = Hdf5Files;
            for (const QFileInfo &fi : h5) {
                Hdf5DataSet data;
                if (!data.open(fi.absoluteFilePath(), hdf5Entry, hdf5Units, error)) {
                    series.sets.clear();
                    return series;
                }
                SeriesSet set { fi.completeBaseName(), energyOfName(fi.completeBaseName()),
                    data.projections(), {}, {} };
                if (!data.flat().isEmpty())
                    set.flats << data.flat();
                if (!data.dark().isEmpty())
                    set.darks << data.dark();
                series.sets << set;
            }
            return series;
        }
    }
    if (topFiles.isEmpty()) {
        *error = QStringLiteral("no projection matching \"%1\" in %2 or its sub-folders")
                     .arg(patterns.join(u' '), dir.absolutePath());
        if (!subSkipped.isEmpty())
            *error += QStringLiteral(" (not taken as energies: ") + subSkipped.join(", ") + u')';
        return series;
    }

    const auto groups = CtFileSet::group(topFiles);
    bool namedSets = groups.size() >= 2;
    for (const auto &g : groups)
        namedSets = namedSets && g->energyEv() > 0.0 && g->files.size() > 1;
    if (namedSets || insist) {
        // Sets are filed by their energy alone: two samples measured at one energy would be
        // written into the same folder under the same names, one over the other.
        QStringList samples;
        for (const auto &g : groups)
            if (!samples.contains(g->sampleName))
                samples << g->sampleName;
        if (samples.size() > 1) {
            *error = QStringLiteral("%1 holds the file sets of %2 samples (%3): choose one "
                                    "with --pattern, e.g. --pattern \"%4-*\"")
                         .arg(dir.absolutePath())
                         .arg(samples.size())
                         .arg(samples.join(", "), samples.first());
            return series;
        }
        series.layout = FileSets;
        for (const auto &g : groups) {
            SeriesSet set;
            set.tag = g->energyText;
            set.energyEv = g->energyEv();
            for (const QFileInfo &fi : g->files)
                set.files << ImgReaders::imagesOf(fi.absoluteFilePath());
            series.sets << set;
        }
        return series;
    }

    // One data set: the projections in the order the file selector loads a folder, its
    // flats and darks apart.
    FolderLayout layout = names;
    if (!layout.read(folder, patterns, error))
        return series;
    series.sets << SeriesSet { QString(), 0.0, layout.projections, layout.flats, layout.darks };
    series.setText = layout.text();
    return series;
}

double energyOfReferenceName(const QString &path)
{
    const qsizetype last = path.lastIndexOf(u'-');
    if (last < 0)
        return 0.0;
    const QString rest = path.left(last);
    return energyOfName(rest.mid(rest.lastIndexOf(u'-') + 1));
}

QString nearestInEnergy(const QStringList &files, double energyEv)
{
    QString best;
    double bestDistance = 0.0;
    for (const QString &f : files) {
        const double d = std::abs(energyOfReferenceName(f) - energyEv);
        if (best.isEmpty() || d < bestDistance) {
            best = f;
            bestDistance = d;
        }
    }
    return best;
}
