#include "SaveNaming.h"

#include "Failures.h"

#include <QDir>

#include <algorithm>

QString saveSliceNo(int slice)
{
    return QString::asprintf("%05d", slice);
}

QString safeNamePart(const QString &part)
{
    QString safe = part;
    for (QChar &c : safe) {
        if (c == u'/' || c == u'\\' || c == QChar(0))
            c = u'_';
    }
    if (!safe.isEmpty()
        && std::all_of(safe.cbegin(), safe.cend(), [](QChar c) { return c == u'.'; }))
        safe.fill(u'_');
    return safe;
}

QString saveFileName(const QString &name, const QString &tag, const QString &no, const QString &ext)
{
    if (name.isEmpty())
        return QString("%1-%2.%3").arg(safeNamePart(tag), no, ext);
    return QString("%1-%2-%3.%4").arg(safeNamePart(name), safeNamePart(tag), no, ext);
}

QString joinSaveFolder(const QString &folder, const QString &sub)
{
    if (folder.isEmpty())
        return sub;
    if (folder.endsWith('/'))
        return folder + sub;
    return folder + '/' + sub;
}

QStringList saveFolders(const QString &path, const QString &tag, const QString &no,
    bool inSubFolders, bool ofEnergy, bool ofSlice)
{
    if (!inSubFolders)
        return { path };
    QStringList folders;
    if (ofEnergy)
        folders << joinSaveFolder(path, safeNamePart(tag));
    if (ofSlice || !ofEnergy)
        folders << joinSaveFolder(path, no);
    return folders;
}

QStringList makeSaveFolders(const QString &path, const QString &tag, const QString &no,
    bool inSubFolders, bool ofEnergy, bool ofSlice)
{
    const QStringList folders = saveFolders(path, tag, no, inSubFolders, ofEnergy, ofSlice);
    for (const QString &folder : folders) {
        if (!folder.isEmpty() && !QDir().mkpath(folder))
            recordFailure(Failures::Folder, "Cannot create the folder " + folder);
    }
    return folders;
}
