#pragma once

#include "ImgData.h"

#include <QByteArray>

// Reader of ITEX camera files: a 64-byte header, a comment of comma-separated items giving
// the size, the pixel width and the exposure time, then unsigned 16- or 32-bit little-endian
// pixels row by row.
class ImgDataITEX : public ImgData
{
public:
    int pixelOffset = 0;
    int bytesPerPixel = 0;
    QByteArray pixels;

    void reset() override;
    bool readProps(const QString &f, int &w, int &h) override;
    bool openData(const QString &f) override;
    bool keepsWindow() const override { return true; }
    double *hLine(int y, double *out) const override;
    double *vLine(int x, double *out) const override;
};
