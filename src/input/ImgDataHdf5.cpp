#include "ImgDataHdf5.h"

#include "PixelLines.h"
#include "TextUtil.h"

#include <algorithm>

void ImgDataHdf5::reset()
{
    ImgData::reset();
    pixels.clear();
    source.reset();
    index = 0;
}

bool ImgDataHdf5::readProps(const QString &f, int &w, int &h)
{
    w = h = 0;
    expTime = 1.0;
    QString path;
    if (!DxchangeFile::splitAddress(f, path, part, index)) {
        logLine("Not an image of an HDF5 file :", f);
        return false;
    }
    QString error;
    source = DxchangeFile::open(path, &error);
    if (!source) {
        logLine(error);
        failure = error;
        return false;
    }
    DxchangeFile::imageSize(source, h, w);
    return true;
}

bool ImgDataHdf5::openData(const QString &f)
{
    Q_UNUSED(f);
    QString error;
    const DxchangeFile::Part2D kept { keptY, keptHeight, keptX, keptWidth };
    if (!DxchangeFile::readImage(source, part, index, pixels, pixel, &error, kept)) {
        logLine(error);
        failure = error;
        return false;
    }
    return true;
}

double *ImgDataHdf5::hLine(int y, double *out) const
{
    if (y < 0 || y >= height || pixels.empty()) {
        std::fill_n(out, width, 0.0);
        return out;
    }
    const qsizetype row = keptRowStart(y, out);
    if (row < 0)
        return out;
    double *const line = out + keptX;
    switch (pixel) {
    case DxchangeFile::Pixel::UInt16:
        PixelLines::row<quint16, false>(pixels.data() + row * 2, keptWidth, line);
        break;
    case DxchangeFile::Pixel::UInt32:
        PixelLines::row<quint32, false>(pixels.data() + row * 4, keptWidth, line);
        break;
    case DxchangeFile::Pixel::Float32:
        PixelLines::row<float, false>(pixels.data() + row * 4, keptWidth, line);
        break;
    case DxchangeFile::Pixel::Float64:
        PixelLines::row<double, false>(pixels.data() + row * 8, keptWidth, line);
        break;
    }
    return out;
}

double *ImgDataHdf5::vLine(int x, double *out) const
{
    if (x < 0 || x >= width || pixels.empty()) {
        std::fill_n(out, height, 0.0);
        return out;
    }
    const qsizetype i = keptColumnStart(x, out);
    if (i < 0)
        return out;
    double *const line = out + keptY;
    const qsizetype stride = keptWidth;
    switch (pixel) {
    case DxchangeFile::Pixel::UInt16:
        PixelLines::column<quint16, false>(pixels.data() + i * 2, stride * 2, keptHeight, line);
        break;
    case DxchangeFile::Pixel::UInt32:
        PixelLines::column<quint32, false>(pixels.data() + i * 4, stride * 4, keptHeight, line);
        break;
    case DxchangeFile::Pixel::Float32:
        PixelLines::column<float, false>(pixels.data() + i * 4, stride * 4, keptHeight, line);
        break;
    case DxchangeFile::Pixel::Float64:
        PixelLines::column<double, false>(pixels.data() + i * 8, stride * 8, keptHeight, line);
        break;
    }
    return out;
}
