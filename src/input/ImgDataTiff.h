#pragma once

#include "ImgData.h"

#include <QByteArray>
#include <QStringList>

// Reader of single-channel grey TIFF files through libtiff: 8-, 16- and
// 32-bit unsigned integer and 32-bit float pixels, either byte order, strips or tiles, any
// compression libtiff was built with. Pixels are kept decoded, in the host's byte order.
// A plain file name reads the first page; "FILE#p" reads page p of a stack (one image per
// page, as cameras, tifffile and ImageJ write them).
class ImgDataTiff : public ImgData
{
public:
    enum class Kind { None, UInt8, UInt16, Int16, UInt32, Float32 };

    Kind kind = Kind::None;
    int bytesPerPixel = 0;
    QByteArray pixels;
    int page = 0; // of the file last read

    // Images in the file: its pages of the first page's size and kind, or the images of an
    // ImageJ stack stored after one directory. 0 for a file that is no readable TIFF.
    static int pageCount(const QString &path);
    // The image addresses a file stands for: "FILE#0", "FILE#1", ... for a stack, the file
    // itself for one image.
    static QStringList pageAddresses(const QString &path);
    // Whether `address` is "FILE#p" of an existing TIFF file.
    static bool isPageAddress(const QString &address);

    void reset() override;
    bool readProps(const QString &f, int &w, int &h) override;
    bool openData(const QString &f) override;
    bool keepsWindow() const override { return true; }
    double *hLine(int y, double *out) const override;
    double *vLine(int x, double *out) const override;
};
