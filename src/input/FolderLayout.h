#pragma once

#include <QString>
#include <QStringList>

// Which images of a projection folder are projections, flats (averaged into the I0 image) and
// darks (into the BG image). Two layouts are known:
//   - sub-folders "tomo", "proj" or "projections" beside "flats", "flat" or "white" and
//     "darks" or "dark" (any case): one data set;
//   - one folder whose files are told apart by name: "flat*", "white*", "ref*", "I0*" are
//     flats, "dark*", "BG*", "bg*" darks (any case), every other file a projection.
// TIFF stacks stand for their pages.
class FolderLayout
{
public:
    enum class Role { Projection, Flat, Dark };

    // Name beginnings of flats and darks, compared without regard to case.
    static QStringList defaultFlatNames() { return { "flat", "white", "ref", "I0" }; }
    static QStringList defaultDarkNames() { return { "dark", "BG" }; }

    QStringList flatNames = defaultFlatNames();
    QStringList darkNames = defaultDarkNames();

    QString folder;
    QString projectionFolder, flatFolder, darkFolder; // the sub-folders used, or empty
    QStringList projections, flats, darks; // image names, in name order

    Role roleOf(const QString &fileName) const;
    // Whether `folder` holds a projection sub-folder ("tomo", "proj", "projections").
    static QString projectionSubFolder(const QString &folder);

    // Reads `folder` with the name patterns of the projections ("*.tif"): false, with
    // `error` set, when it holds no projection.
    bool read(const QString &folder, const QStringList &patterns, QString *error);
    // What went where, for the console: "180 projections, 10 flats (flat_00.tif ...
    // flat_09.tif, averaged into I0), 5 darks (dark_0.tif ... dark_4.tif, into BG) in /data/scan".
    QString text() const;
};
