#pragma once

#include "ImgData.h"

#include <QByteArray>

// Reader of single-channel grey TIFF files (first page only) through libtiff: 8-, 16- and
// 32-bit unsigned integer and 32-bit float pixels, either byte order, strips or tiles, any
// compression libtiff was built with. Pixels are kept decoded, in the host's byte order.
class ImgDataTiff : public ImgData
{
public:
    enum class Kind { None, UInt8, UInt16, UInt32, Float32 };

    Kind kind = Kind::None;
    int bytesPerPixel = 0;
    QByteArray pixels;

    void reset() override;
    bool readProps(const QString &f, int &w, int &h) override;
    bool openData(const QString &f) override;
    double *hLine(int y, double *out) const override;
    double *vLine(int x, double *out) const override;
};
