#include "GreyLevelMap.h"

QImage GreyLevelMap::greyImage(const double *data, int width, int height) const
{
    if (width <= 0 || height <= 0 || !data)
        return QImage();
    QImage out(width, height, QImage::Format_Grayscale8);
    if (out.isNull())
        return out;
    for (int y = 0; y < height; ++y)
        fillRow(data + static_cast<qsizetype>(y) * width, width, out.scanLine(y));
    return out;
}
