#include "SaveNaming.h"

QString saveSliceNo(int slice)
{
    return QString::asprintf("%05d", slice);
}

QString saveFileName(const QString &name, const QString &tag, const QString &no, const QString &ext)
{
    if (name.isEmpty())
        return QString("%1-%2.%3").arg(tag, no, ext);
    return QString("%1-%2-%3.%4").arg(name, tag, no, ext);
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
        folders << joinSaveFolder(path, tag);
    if (ofSlice || !ofEnergy)
        folders << joinSaveFolder(path, no);
    return folders;
}
