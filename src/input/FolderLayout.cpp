#include "FolderLayout.h"

#include "ImgReaders.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The first sub-folder of `folder` whose name is one of `names` (any case), or empty.
QString subFolder(const QString &folder, const QStringList &names)
{
    const QDir dir(folder);
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (names.contains(sub, Qt::CaseInsensitive))
            return dir.absoluteFilePath(sub);
    }
    return {};
}

QStringList imagesIn(const QString &folder, const QStringList &patterns)
{
    const QDir dir(folder);
    QStringList images;
    for (const QString &f : dir.entryList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase))
        images << ImgReaders::imagesOf(dir.absoluteFilePath(f));
    return images;
}

QString listText(const QStringList &names)
{
    const auto shortName = [](const QString &n) { return QFileInfo(n).fileName(); };
    if (names.size() == 1)
        return shortName(names.first());
    if (names.size() == 2)
        return shortName(names.first()) + QStringLiteral(", ") + shortName(names.last());
    return shortName(names.first()) + QStringLiteral(" ... ") + shortName(names.last());
}

} // namespace

FolderLayout::Role FolderLayout::roleOf(const QString &fileName) const
{
    const QString name = QFileInfo(fileName).fileName();
    for (const QString &p : flatNames) {
        if (name.startsWith(p, Qt::CaseInsensitive))
            return Role::Flat;
    }
    for (const QString &p : darkNames) {
        if (name.startsWith(p, Qt::CaseInsensitive))
            return Role::Dark;
    }
    return Role::Projection;
}

QString FolderLayout::projectionSubFolder(const QString &folder)
{
    return subFolder(folder, { "tomo", "proj", "projections" });
}

bool FolderLayout::read(const QString &dir, const QStringList &patterns, QString *error)
{
    folder = QDir(dir).absolutePath();
    projections.clear();
    flats.clear();
    darks.clear();
    projectionFolder = projectionSubFolder(folder);
    if (!projectionFolder.isEmpty()) {
        flatFolder = subFolder(folder, { "flats", "flat", "white" });
        darkFolder = subFolder(folder, { "darks", "dark" });
        projections = imagesIn(projectionFolder, patterns);
        if (!flatFolder.isEmpty())
            flats = imagesIn(flatFolder, patterns);
        if (!darkFolder.isEmpty())
            darks = imagesIn(darkFolder, patterns);
    } else {
        for (const QString &image : imagesIn(folder, patterns)) {
            const QString file = image.section(u'#', 0, 0);
            switch (roleOf(QFileInfo::exists(image) ? image : file)) {
            case Role::Flat:
                flats << image;
                break;
            case Role::Dark:
                darks << image;
                break;
            case Role::Projection:
                projections << image;
                break;
            }
        }
    }
    if (projections.isEmpty()) {
        if (error)
            *error = QStringLiteral("no projection matching \"%1\" in %2")
                         .arg(patterns.join(u' '),
                             projectionFolder.isEmpty() ? folder : projectionFolder);
        return false;
    }
    return true;
}

QString FolderLayout::text() const
{
    const auto from = [this](const QString &sub) {
        return sub.isEmpty() ? QString()
                             : QStringLiteral(" from ") + QDir(folder).relativeFilePath(sub) + u'/';
    };
    QString t = QStringLiteral("%1 %2%3")
                    .arg(projections.size())
                    .arg(projections.size() == 1 ? "projection" : "projections")
                    .arg(from(projectionFolder));
    if (!flats.isEmpty())
        t += QString::fromLatin1(
            flats.size() == 1 ? ", %1 %2%3 (%4, the I0 image)" : ", %1 %2%3 (%4, averaged into I0)")
                 .arg(flats.size())
                 .arg(flats.size() == 1 ? "flat" : "flats")
                 .arg(from(flatFolder), listText(flats));
    if (!darks.isEmpty())
        t += QString::fromLatin1(
            darks.size() == 1 ? ", %1 %2%3 (%4, the BG image)" : ", %1 %2%3 (%4, averaged into BG)")
                 .arg(darks.size())
                 .arg(darks.size() == 1 ? "dark" : "darks")
                 .arg(from(darkFolder), listText(darks));
    return t + QStringLiteral(" in ") + folder;
}
