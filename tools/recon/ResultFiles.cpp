#include "ResultFiles.h"

#include "SaveNaming.h"

#include <QFile>
#include <QFileInfo>

QStringList ResultFiles::of(const QString &tag, int slice) const
{
    const QString no = saveSliceNo(slice);
    QStringList exts;
    if (data)
        exts << QStringLiteral("dat");
    if (pictures)
        exts << QStringLiteral("png");
    if (tiff)
        exts << QStringLiteral("tif");
    QStringList files;
    for (const QString &folder :
        saveFolders(outDir, tag, no, perEnergyFolders, perEnergyFolders, false)) {
        for (const QString &ext : std::as_const(exts))
            files << joinSaveFolder(folder, saveFileName(name, tag, no, ext));
    }
    return files;
}

bool ResultFiles::complete(const QString &path)
{
    const QFileInfo fi(path);
    if (!fi.isFile() || fi.size() == 0)
        return false;
    if (!path.endsWith(QLatin1String(".dat")))
        return true;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(f.size() - 1))
        return false;
    char last = 0;
    return f.getChar(&last) && last == '\n';
}
