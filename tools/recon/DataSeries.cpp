#include "DataSeries.h"

#include "CtFileSet.h"
#include "FileNames.h"

#include <QDir>

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
    case OneSet:
        break;
    }
    return QStringLiteral("one data set");
}

DataSeries DataSeries::find(
    const QString &folder, const QStringList &patterns, bool insist, QString *error)
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
    const QFileInfoList topFiles = dir.entryInfoList(patterns, QDir::Files, QDir::Name);

    // Sub-folders in the order the data-set selector lists them, each with its projections
    // in the order the file selector loads them.
    QList<SeriesSet> subSets;
    qsizetype subFiles = 0;
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir subDir(dir.filePath(sub));
        const QStringList names
            = subDir.entryList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase);
        if (names.isEmpty())
            continue;
        SeriesSet set;
        set.tag = sub;
        set.energyEv = energyOfName(sub);
        for (const QString &n : names)
            set.files << subDir.absoluteFilePath(n);
        subFiles += names.size();
        subSets << set;
    }
    if (subFiles > topFiles.size()) {
        series.layout = SubFolders;
        series.sets = subSets;
        return series;
    }
    if (topFiles.isEmpty()) {
        *error = QStringLiteral("no file matching \"%1\" in %2 or its sub-folders")
                     .arg(patterns.join(u' '), dir.absolutePath());
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
                set.files << fi.absoluteFilePath();
            series.sets << set;
        }
        return series;
    }

    // One data set: the projections in the order the file selector loads a folder.
    SeriesSet set;
    for (const QString &n : dir.entryList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase))
        set.files << dir.absoluteFilePath(n);
    series.sets << set;
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
