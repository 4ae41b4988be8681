#include "ImgDatas.h"

#include "ImgData.h"
#include "ImgDataHdf5.h"
#include "ImgDataITEX.h"
#include "ImgDataTiff.h"
#include "ImgReaders.h"
#include "TextUtil.h"

#include <QFileInfo>
#include <QHash>

#include <memory>

ImgDatas::~ImgDatas()
{
    clear();
}

void ImgDatas::clear()
{
    clearImgs();
    width = height = 0;
}

void ImgDatas::clearImgs()
{
    qDeleteAll(imgs);
    imgs.clear();
    refused.clear();
    reportedRefusals = 0;
    lastRefusal.clear();
}

int ImgDatas::bytesPerPixel(const ImgData &d)
{
    if (const auto *itex = dynamic_cast<const ImgDataITEX *>(&d))
        return itex->bytesPerPixel;
    if (const auto *tiff = dynamic_cast<const ImgDataTiff *>(&d))
        return tiff->bytesPerPixel;
    if (const auto *hdf5 = dynamic_cast<const ImgDataHdf5 *>(&d))
        return hdf5->pixel == DxchangeFile::Pixel::UInt16 ? 2
            : hdf5->pixel == DxchangeFile::Pixel::Float64 ? 8
                                                           : 4;
    return 4;
}

qint64 ImgDatas::bytesPerImage(const ImgData &d)
{
    // HDF5 images are counted at 4 bytes a pixel whatever they hold, as the window's memory
    // check always has.
    const int bpp = dynamic_cast<const ImgDataHdf5 *>(&d) ? 4 : bytesPerPixel(d);
    return qint64(d.width) * d.height * bpp + (qint64(d.width) + d.height) * 8 + 512;
}

QString ImgDatas::refusedText() const
{
    // One reason shared by many files (a whole folder of a pixel kind not served) is said
    // once, with the count and the first and last file.
    QStringList reasons;
    QHash<QString, QStringList> filesOf;
    for (const Refusal &r : refused) {
        if (!filesOf.contains(r.reason))
            reasons << r.reason;
        filesOf[r.reason] << QFileInfo(r.file).fileName();
    }
    QStringList why;
    why.reserve(reasons.size());
    for (const QString &reason : std::as_const(reasons)) {
        const QStringList &files = filesOf[reason];
        if (files.size() == 1)
            why << files.first() + QStringLiteral(": ") + reason;
        else
            why << QStringLiteral("%1 files (%2 %3 %4): %5")
                       .arg(files.size())
                       .arg(files.first(),
                           files.size() == 2 ? QStringLiteral("and") : QStringLiteral("..."),
                           files.last(), reason);
    }
    return why.join(QStringLiteral("; "));
}

QString ImgDatas::incompleteText() const
{
    if (refused.isEmpty())
        return {};
    return QStringLiteral("The image set is incomplete: %1 of %2 files could not be read (%3)")
        .arg(refused.size())
        .arg(listedCount())
        .arg(refusedText());
}

QString ImgDatas::sizeMismatchText(const ImgData *reader, const QString &which) const
{
    if (!reader || !reader->ready || width == 0 || height == 0
        || (reader->width == width && reader->height == height))
        return {};
    return QStringLiteral("The %1 image %2 has %3 x %4 pixels, the projections %5 x %6: it is "
                          "not used")
        .arg(which, QFileInfo(reader->fileName).fileName())
        .arg(reader->width)
        .arg(reader->height)
        .arg(width)
        .arg(height);
}

bool ImgDatas::readable(const QString &filePath, QString *why)
{
    std::unique_ptr<ImgData> d(ImgData::create(ImgData::fileType(filePath)));
    if (!d) {
        if (why)
            *why = QFileInfo::exists(filePath) ? QStringLiteral("unknown file type")
                                               : QStringLiteral("file not found");
        return false;
    }
    d->fileName = filePath;
    if (!d->load()) {
        if (why)
            *why = d->failure;
        return false;
    }
    return true;
}

bool ImgDatas::add(QString filePath)
{
    // A folder that a wide pattern lists alongside the images is no projection (nor the
    // average of its images, as it would be for an I0 image).
    if (QFileInfo(filePath).isDir())
        return false;
    ImgData *d = ImgReaders::create(filePath);
    if (!d) {
        refused.append({ filePath,
            QFileInfo::exists(filePath) ? QStringLiteral("unknown file type")
                                        : QStringLiteral("file not found") });
        return false;
    }
    d->window = window;
    ImgData::lastRefusal = &lastRefusal;
    const bool loaded = d->load();
    ImgData::lastRefusal = nullptr;
    if (!loaded) {
        // Said for the first file of a run of files refused for one reason; the set's
        // refusal text counts the others.
        if (refused.isEmpty() || refused.last().reason != d->failure)
            logLine(QStringLiteral("File is not ready to access"), filePath);
        refused.append({ filePath, d->failure });
        delete d;
        return false;
    }
    if (width == 0) {
        width = d->width;
        height = d->height;
    }
    if (d->width != width || d->height != height) {
        logLine(QStringLiteral("Mismatch image size: (%1, %2) != (%3, %4) : ")
                    .arg(width)
                    .arg(height)
                    .arg(d->width)
                    .arg(d->height),
            filePath);
        refused.append({ filePath,
            QStringLiteral("image size %1 x %2, the set's %3 x %4")
                .arg(d->width)
                .arg(d->height)
                .arg(width)
                .arg(height) });
        delete d;
        return false;
    }
    imgs.append(d);
    return true;
}
