#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// A reconstructed slice as a single-page, single-channel 32-bit IEEE float TIFF file, the
// form that image viewers and analysis tools read directly. Unlike the text data file it
// keeps the values as computed: no limits, no offset. The whole file is built in memory, so
// that the saver writes it with one checked call like every other result file.
class CtTiffData
{
public:
    // What the file says about the slice (ImageDescription).
    struct Info
    {
        int slice = 0;
        double cor = 0;
        double x0 = 0, z0 = 0, x1 = 0, z1 = 0; // the calculation region
        QString method;
        QString filter;
        int ringRemoval = 0; // named only when on
        // Every value is multiplied by `scale` (1: the values as computed); `unit` names what
        // the scaled values are, in the description when not empty.
        double scale = 1.0;
        QString unit;
    };

    // The description text written into the file.
    static QString description(const Info &info);

    // The file of the calculation region [x0, x1) x [z0, z1) of a row-major result of
    // rows x cols values (row z at values + z * cols), the same pixels as the text data
    // file: columns from trunc(x0) while x < x1, rows likewise, row 0 = the region's first
    // line; pixels outside the result are 0. `zlib` compresses the strips with deflate.
    // Empty (with `error` set) when the region holds no pixel or libtiff refuses.
    static QByteArray make(const double *values, int rows, int cols, const Info &info, bool zlib,
        QString *error = nullptr);

    // The file of a w x h row-major block of floats.
    static QByteArray encode(const float *pixels, int w, int h, const QString &description,
        bool zlib, QString *error = nullptr);

    // Reads the first page of a single-channel 32-bit float TIFF file. False (with `error`
    // set) for anything else: another pixel format, a damaged or truncated file.
    static bool read(
        const QString &path, std::vector<float> &pixels, int &w, int &h, QString *error = nullptr);
};
