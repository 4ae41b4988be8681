#include "Places.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

QSettings settings()
{
    return QSettings(QStringLiteral("Vexa2"), QStringLiteral("Vexa2"));
}

const QString recentKey = QStringLiteral("recentDataFolders");

} // namespace

namespace Places {

QString dialogFolder(const QString &kind, const QString &fallback)
{
    const QString dir = settings().value(QStringLiteral("dialogFolders/") + kind).toString();
    return !dir.isEmpty() && QFileInfo(dir).isDir() ? dir : fallback;
}

void rememberDialogFolder(const QString &kind, const QString &path)
{
    if (kind.isEmpty() || path.isEmpty())
        return;
    const QFileInfo info(path);
    const QString dir = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    settings().setValue(QStringLiteral("dialogFolders/") + kind, QDir::cleanPath(dir));
}

QStringList recentData()
{
    return settings().value(recentKey).toStringList().mid(0, RecentCount);
}

void addRecentData(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList list = recentData();
    list.removeAll(clean);
    list.prepend(clean);
    settings().setValue(recentKey, list.mid(0, RecentCount));
}

void removeRecentData(const QString &path)
{
    QStringList list = recentData();
    if (list.removeAll(QDir::cleanPath(path)) > 0)
        settings().setValue(recentKey, list);
}

} // namespace Places
