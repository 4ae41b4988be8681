#include "ImgPicture.h"

#include "ColorBar.h"
#include "GreyLevelMap.h"
#include "ImgData.h"
#include "ImgDatas.h"

#include <QImage>

void toImage(ImgData &data, QImage &img, ColorBar *bar)
{
    if (!data.ready)
        return;
    double mn = 0, mx = 0;
    data.minMax(mn, mx);
    if (bar && !bar->fixedScale()) {
        bar->setMinV(mn);
        bar->setMaxV(mx);
    }
    // One snapshot of the mapping for the whole picture.
    const GreyLevelMap map = bar ? bar->greyMap() : GreyLevelMap { mn, mx, 0, 1 };
    QImage picture(data.width, data.height, QImage::Format_Grayscale8);
    if (picture.isNull())
        return;
    double *row = data.hBuf.data();
    for (int y = 0; y < data.height; ++y)
        map.fillRow(data.hLine(y, row), data.width, picture.scanLine(y));
    img = picture;
}

bool toImage(ImgDatas &set, int index, QImage &img, ColorBar *bar)
{
    ImgData *d = set.at(index);
    if (!d)
        return false;
    toImage(*d, img, bar);
    emit set.imageUpdated();
    return true;
}
