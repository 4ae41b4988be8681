#pragma once

#include <QString>
#include <QStringList>

// The files one (data set, slice) item of a run writes, named and placed as the saver does:
// one folder per energy ("of Energy") for a series, the output folder itself for one data set.
struct ResultFiles
{
    QString outDir;
    QString name;
    bool perEnergyFolders = false;
    bool data = true;
    bool pictures = false;
    bool tiff = false;

    QStringList of(const QString &tag, int slice) const;

    // Whether a file was written to its end. Files are renamed into place only when
    // complete, so any file there is whole unless something else wrote it; a data file must
    // also end with its last line's line feed.
    static bool complete(const QString &path);
};
