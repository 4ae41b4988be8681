#include "ImgReaders.h"

#include "DxchangeFile.h"
#include "ImgData.h"
#include "ImgDataHdf5.h"
#include "ImgDataITEX.h"
#include "ImgDataMean.h"
#include "ImgDataNxtomo.h"
#include "ImgDataTiff.h"
#include "NxtomoFile.h"
#include "TextUtil.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool takesAverage(const QString &name)
{
    return ImgReaders::isAverage(name);
}

bool takesNxtomo(const QString &name)
{
    return NxtomoFile::isAddress(name);
}

bool takesTiffPage(const QString &name)
{
    return ImgDataTiff::isPageAddress(name);
}

bool takesDxchange(const QString &name)
{
    QString file;
    DxchangeFile::Part part;
    int index = 0;
    return DxchangeFile::splitAddress(name, file, part, index) && QFileInfo(file).isFile();
}

bool takesItex(const QString &name)
{
    return ImgData::isITEX(name);
}

bool takesTiff(const QString &name)
{
    return ImgData::isTIFF(name);
}

template <typename T> ImgData *make()
{
    return new T;
}

} // namespace

const std::vector<ImgReaders::Reader> &ImgReaders::table()
{
    // Names with a part after '#' before plain files, whose first bytes tell their kind.
    static const std::vector<Reader> readers {
        { "average", takesAverage, make<ImgDataMean> },
        { "NXtomo", takesNxtomo, make<ImgDataNxtomo> },
        { "TIFF page", takesTiffPage, make<ImgDataTiff> },
        { "DXchange", takesDxchange, make<ImgDataHdf5> },
        { "ITEX", takesItex, make<ImgDataITEX> },
        { "TIFF", takesTiff, make<ImgDataTiff> },
    };
    return readers;
}

const ImgReaders::Reader *ImgReaders::readerOf(const QString &name)
{
    for (const Reader &r : table()) {
        if (r.takes(name))
            return &r;
    }
    logLine(QStringLiteral("Unknown file type : "), name);
    return nullptr;
}

ImgData *ImgReaders::create(const QString &name)
{
    const Reader *r = readerOf(name);
    if (!r)
        return nullptr;
    ImgData *d = r->make();
    d->reset();
    d->fileName = name;
    return d;
}

std::unique_ptr<ImgData> ImgReaders::load(const QString &name, QString *why)
{
    std::unique_ptr<ImgData> d(create(name));
    if (!d) {
        if (why)
            *why = QFileInfo::exists(name) ? QStringLiteral("unknown file type")
                                           : QStringLiteral("file not found");
        return nullptr;
    }
    if (!d->load()) {
        if (why)
            *why = d->failure;
        return nullptr;
    }
    return d;
}

QStringList ImgReaders::imagesOf(const QString &path)
{
    if (QFileInfo(path).isFile() && ImgData::isTIFF(path))
        return ImgDataTiff::pageAddresses(path);
    return { path };
}

QStringList ImgReaders::imagesInFolder(const QString &folder)
{
    const QDir dir(folder);
    QStringList images;
    for (const QString &f :
        dir.entryList({ "*.img", "*.tif", "*.tiff" }, QDir::Files, QDir::Name | QDir::IgnoreCase))
        images << imagesOf(dir.absoluteFilePath(f));
    return images;
}

QString ImgReaders::averageName(const QStringList &names)
{
    return names.join(u'|');
}

QStringList ImgReaders::averagedNames(const QString &name)
{
    if (QFileInfo(name).isDir())
        return imagesInFolder(name);
    if (!isAverage(name))
        return { name };
    return name.split(u'|', Qt::SkipEmptyParts);
}

bool ImgReaders::isAverage(const QString &name)
{
    if (QFileInfo(name).isDir())
        return true;
    return name.contains(u'|') && !QFileInfo::exists(name);
}
