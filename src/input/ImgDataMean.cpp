#include "ImgDataMean.h"

#include "ImgReaders.h"
#include "TextUtil.h"

#include <QFileInfo>

#include <algorithm>
#include <memory>

void ImgDataMean::reset()
{
    ImgData::reset();
    sources.clear();
    pixels.clear();
}

bool ImgDataMean::readProps(const QString &f, int &w, int &h)
{
    w = h = 0;
    sources = ImgReaders::averagedNames(f);
    if (sources.isEmpty() || (sources.size() == 1 && sources.first() == f))
        return refuse(f, QStringLiteral("No image to average in"), QStringLiteral("no image"));
    return true;
}

bool ImgDataMean::openData(const QString &f)
{
    pixels.clear();
    double timeSum = 0;
    int n = 0;
    for (const QString &name : std::as_const(sources)) {
        QString why;
        const std::unique_ptr<ImgData> one = ImgReaders::load(name, &why);
        if (!one)
            return refuse(f, QStringLiteral("Cannot average ") + name + QStringLiteral(" :"),
                QFileInfo(name).fileName() + QStringLiteral(": ") + why);
        if (n == 0) {
            width = one->width;
            height = one->height;
            pixels.assign(size_t(width) * size_t(height), 0.0);
        } else if (one->width != width || one->height != height) {
            pixels.clear();
            return refuse(f,
                QStringLiteral("Images of different sizes cannot be averaged: %1 (%2 x %3, not "
                               "%4 x %5) in")
                    .arg(name)
                    .arg(one->width)
                    .arg(one->height)
                    .arg(width)
                    .arg(height),
                QStringLiteral("%1 has another size").arg(QFileInfo(name).fileName()));
        }
        double *row = one->hBuf.data();
        for (int y = 0; y < height; ++y) {
            one->hLine(y, row);
            double *dst = pixels.data() + size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x)
                dst[x] += row[x];
        }
        timeSum += one->expTime;
        ++n;
    }
    if (n > 1) {
        const double k = double(n);
        for (double &v : pixels)
            v /= k;
    }
    expTime = timeSum / double(n);
    return true;
}

double *ImgDataMean::hLine(int y, double *out) const
{
    if (y < 0 || y >= height || pixels.empty()) {
        std::fill_n(out, width, 0.0);
        return out;
    }
    std::copy_n(pixels.data() + size_t(y) * size_t(width), width, out);
    return out;
}

double *ImgDataMean::vLine(int x, double *out) const
{
    if (x < 0 || x >= width || pixels.empty()) {
        std::fill_n(out, height, 0.0);
        return out;
    }
    const double *src = pixels.data() + x;
    for (int y = 0; y < height; ++y)
        out[y] = src[size_t(y) * size_t(width)];
    return out;
}
