#pragma once

#include "FolderLayout.h"

#include <QList>
#include <QString>
#include <QStringList>

// One data set of a CT-XAFS series: the projections of one energy and the tag its results
// are filed under (the sub-folder's name, or the energy field of the file names, as the main
// window tags them in a sequential run).
struct SeriesSet
{
    QString tag;
    double energyEv = 0.0; // 0 when the name carries no energy
    QStringList files; // image names (absolute paths, pages of stacks), in name order
    // The set's own flats and darks (found by name or in flats/ and darks/, or those of its
    // HDF5 file), averaged into its I0 and BG images; empty when it has none.
    QStringList flats, darks;
};

// The data sets found in a folder. A folder holds either one data set (its projections, or
// those of its tomo/ sub-folder, with flats and darks told apart by FolderLayout), or a series
// in one of the layouts the data-set selector knows: one sub-folder per energy (each with a
// number in its name), file sets named by the "ZBX Std." rule ("<sample>-<energy>-<number>")
// side by side in the folder itself, or one HDF5 file per energy.
class DataSeries
{
public:
    enum Layout { OneSet, SubFolders, FileSets, Hdf5Files };

    Layout layout = OneSet;
    QList<SeriesSet> sets;
    // What was not taken as an energy, and why ("ref/ (no number in its name)").
    QStringList skipped;
    // For one data set: what went where (FolderLayout::text).
    QString setText;

    bool isSeries() const { return layout != OneSet; }
    QString layoutText() const;

    // The layout is where the projections are: when the sub-folders together hold more
    // matching files than the folder itself, each sub-folder with matching files and a number
    // in its name is a set (the I0 and BG images may then lie beside them, and in ref/).
    // A folder with a tomo/ (proj/, projections/) sub-folder is one data set. A folder
    // without images but with HDF5 files is a series of them (two or more, or one with
    // `insist`); `hdf5Units` and `hdf5Entry` apply to each. Otherwise the folder's files are
    // grouped by the "ZBX Std." rule; two or more groups that each have an energy and more
    // than one file make a series, anything else is one data set. With `insist`, a folder
    // that would be one data set is read as file sets all the same (a series of one energy is
    // still a series). An empty result names the reason in `error`.
    static DataSeries find(const QString &folder, const QStringList &patterns, bool insist,
        QString *error, const FolderLayout &names = FolderLayout(),
        const QString &hdf5Units = QString(), const QString &hdf5Entry = QString());
};

// The energy (eV) written in a reference image name the way the I0 file list of the main
// window reads it: the second-to-last "-"-separated field of the path ("I0-08980_0eV-00000"
// or "I0-8_98keV-00000"), its number up to the last digit with "_" for the decimal point,
// times 1000 for keV. 0 when there is none.
double energyOfReferenceName(const QString &path);

// Of `files`, the one whose name's energy lies nearest to `energyEv` (the first on a tie);
// empty for an empty list.
QString nearestInEnergy(const QStringList &files, double energyEv);
