#include "ImgDatas.h"

#include "ImgData.h"
#include "TextUtil.h"

#include <QImage>

ImgDatas::~ImgDatas()
{
    clear();
}

bool ImgDatas::toImage(int index, QImage &img, ColorBar *bar)
{
    ImgData *d = at(index);
    if (!d)
        return false;
    d->toImage(img, bar);
    emit imageUpdated();
    return true;
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
}

bool ImgDatas::add(QString filePath)
{
    ImgData *d = ImgData::create(ImgData::fileType(filePath));
    if (!d)
        return false;
    d->fileName = filePath;
    if (!d->load()) {
        logLine(QStringLiteral("File is not ready to access"), filePath);
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
        delete d;
        return false;
    }
    imgs.append(d);
    return true;
}
