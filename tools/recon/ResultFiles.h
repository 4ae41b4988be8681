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

    // Whether a file is there whole: a data file holds every point of its region, a TIFF
    // file or a picture decodes to its end. Files are renamed into place only when complete,
    // but a copy, a full disk or another program can leave a file cut short.
    static bool complete(const QString &path);
};
