#include "ImgDataTiff.h"

#include "PixelLines.h"
#include "TextUtil.h"

#include <QFile>
#include <QFileInfo>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

// Compressed pixel data may decode to more than the file holds, but not without bound: a
// file that claims a decoded size beyond this many times the bytes its strips or tiles hold
// is refused before anything is allocated. Measured data (noise) compresses far less than
// this; a flat image (a dark or flat field of a dead detector) under LZMA or ZSTD reaches
// several thousand to one.
const qint64 MaxCompressionRatio = qint64(1) << 16;

int silentHandler(TIFF *, void *, const char *, const char *, va_list)
{
    // libtiff's own complaints (unknown private tags of camera software above all) would
    // flood the log; the reader reports each failure itself, naming the file.
    return 1;
}

struct TiffCloser
{
    void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(const QString &f)
{
    // libtiff's own allocations (directories, compressed strips) are held to what the
    // file's length can justify as well.
    const qint64 maxAlloc = std::max<qint64>(QFileInfo(f).size() * MaxCompressionRatio, 1 << 20);
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, silentHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, silentHandler, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(maxAlloc));
    // "m": no memory mapping, so a file truncated while it is read gives a read error
    // instead of a bus error.
    TIFF *t = TIFFOpenExt(QFile::encodeName(f).constData(), "rm", opts);
    TIFFOpenOptionsFree(opts);
    return TiffPtr(t);
}

// The layout of the first page, as far as this reader needs it.
struct Layout
{
    quint32 width = 0, height = 0;
    ImgDataTiff::Kind kind = ImgDataTiff::Kind::None;
    int bytesPerPixel = 0;
    bool compressed = false;
    bool minIsWhite = false;
};

// Reads and checks the first page's tags; on failure returns the text to report.
const char *readLayout(TIFF *t, Layout &l)
{
    quint16 spp = 1, bps = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
    quint16 compression = COMPRESSION_NONE;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);

    if (spp != 1
        || (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE))
        return "TIFF file is not a single-channel grey image (colour, palette or extra "
               "channels are not supported).";
    if (format == SAMPLEFORMAT_UINT && bps == 8)
        l.kind = ImgDataTiff::Kind::UInt8;
    else if (format == SAMPLEFORMAT_UINT && bps == 16)
        l.kind = ImgDataTiff::Kind::UInt16;
    else if (format == SAMPLEFORMAT_UINT && bps == 32)
        l.kind = ImgDataTiff::Kind::UInt32;
    else if (format == SAMPLEFORMAT_IEEEFP && bps == 32)
        l.kind = ImgDataTiff::Kind::Float32;
    else
        return "TIFF pixel format is not supported (8-, 16- or 32-bit unsigned integer or "
               "32-bit float only).";
    l.bytesPerPixel = bps / 8;
    l.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    if (l.minIsWhite && l.kind == ImgDataTiff::Kind::Float32)
        return "TIFF float image stored as MinIsWhite is not supported.";
    if (!TIFFIsCODECConfigured(compression))
        return "TIFF compression is not supported.";
    l.compressed = compression != COMPRESSION_NONE;
    if (l.width < 1 || l.height < 1 || l.width > quint32(std::numeric_limits<int>::max())
        || l.height > quint32(std::numeric_limits<int>::max()))
        return "TIFF file gives no usable image size.";
    return nullptr;
}

// Largest decoded size that the file's pixel data can justify: the bytes its strips or
// tiles hold inside the file (libtiff's own byte counts, cut at the end of the file), times
// the largest compression ratio allowed. Other contents of the file (thumbnails, private
// tags) justify nothing.
qint64 sizeLimit(TIFF *t, const QString &f, bool compressed)
{
    const qint64 length = QFileInfo(f).size();
    const quint32 n = TIFFIsTiled(t) ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    // Every strip needs an offset of at least 2 bytes in the file: more cannot be genuine.
    if (n < 1 || n > quint64(length) / 2)
        return 0;
    qint64 stored = 0;
    for (quint32 i = 0; i < n; ++i) {
        const quint64 offset = TIFFGetStrileOffset(t, i);
        const quint64 bytes = TIFFGetStrileByteCount(t, i);
        if (offset < quint64(length))
            stored += qint64(std::min<quint64>(bytes, quint64(length) - offset));
    }
    return compressed ? stored * MaxCompressionRatio : stored;
}

bool fitsLimit(const Layout &l, qint64 limit)
{
    const qint64 count = qint64(l.width) * qint64(l.height);
    return count <= limit / l.bytesPerPixel;
}

// Exposure time from the EXIF directory, the one place where TIFF states it with a defined
// meaning (seconds); anything else keeps 1.0.
double exifExposureTime(TIFF *t)
{
    toff_t exif = 0;
    if (!TIFFGetField(t, TIFFTAG_EXIFIFD, &exif) || exif == 0)
        return 1.0;
    if (!TIFFReadEXIFDirectory(t, exif))
        return 1.0;
    // libtiff versions differ in whether they hand out this rational as float or double.
    const TIFFField *field = TIFFFieldWithTag(t, EXIFTAG_EXPOSURETIME);
    double v = 0;
    if (field && TIFFFieldSetGetSize(field) == sizeof(float)) {
        float f = 0;
        if (TIFFGetField(t, EXIFTAG_EXPOSURETIME, &f) == 1)
            v = f;
    } else if (field && TIFFFieldSetGetSize(field) == sizeof(double)) {
        if (TIFFGetField(t, EXIFTAG_EXPOSURETIME, &v) != 1)
            v = 0;
    }
    return std::isfinite(v) && v > 0 ? v : 1.0;
}

bool readStrips(TIFF *t, const Layout &l, char *dst)
{
    quint32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip < 1 || rowsPerStrip > l.height)
        rowsPerStrip = l.height;
    const qsizetype rowBytes = qsizetype(l.width) * l.bytesPerPixel;
    if (TIFFScanlineSize64(t) != quint64(rowBytes))
        return false;
    for (quint32 row = 0; row < l.height; row += rowsPerStrip) {
        const quint32 rows = std::min(rowsPerStrip, l.height - row);
        const tmsize_t want = tmsize_t(rows) * rowBytes;
        const tstrip_t strip = TIFFComputeStrip(t, row, 0);
        if (TIFFReadEncodedStrip(t, strip, dst + qsizetype(row) * rowBytes, want) != want)
            return false;
    }
    return true;
}

bool readTiles(TIFF *t, const Layout &l, qint64 limit, char *dst)
{
    quint32 tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    const qint64 tileBytes = TIFFTileSize64(t);
    if (tw < 1 || th < 1 || tileBytes < qint64(tw) * th * l.bytesPerPixel || tileBytes > limit)
        return false;
    std::vector<char> tile(static_cast<size_t>(tileBytes));
    const qsizetype rowBytes = qsizetype(l.width) * l.bytesPerPixel;
    const qsizetype tileRowBytes = qsizetype(tw) * l.bytesPerPixel;
    for (quint32 y0 = 0; y0 < l.height; y0 += th) {
        const quint32 rows = std::min(th, l.height - y0);
        for (quint32 x0 = 0; x0 < l.width; x0 += tw) {
            if (TIFFReadTile(t, tile.data(), x0, y0, 0, 0) < 0)
                return false;
            const qsizetype copy = qsizetype(std::min(tw, l.width - x0)) * l.bytesPerPixel;
            for (quint32 r = 0; r < rows; ++r)
                std::copy_n(tile.data() + qsizetype(r) * tileRowBytes, copy,
                    dst + qsizetype(y0 + r) * rowBytes + qsizetype(x0) * l.bytesPerPixel);
        }
    }
    return true;
}

// MinIsWhite stores the brightest value as 0; the rest of the program counts photons, so the
// scale is turned round to MinIsBlack: v becomes max - v.
template <typename T> void invert(QByteArray &pixels)
{
    T *p = reinterpret_cast<T *>(pixels.data());
    const qsizetype n = pixels.size() / qsizetype(sizeof(T));
    for (qsizetype i = 0; i < n; ++i)
        p[i] = T(~p[i]);
}

void invertPixels(ImgDataTiff::Kind kind, QByteArray &pixels)
{
    switch (kind) {
    case ImgDataTiff::Kind::UInt8:
        invert<quint8>(pixels);
        break;
    case ImgDataTiff::Kind::UInt16:
        invert<quint16>(pixels);
        break;
    case ImgDataTiff::Kind::UInt32:
        invert<quint32>(pixels);
        break;
    default:
        break;
    }
}

} // namespace

void ImgDataTiff::reset()
{
    ImgData::reset();
    kind = Kind::None;
    bytesPerPixel = 0;
    pixels = QByteArray();
}

bool ImgDataTiff::readProps(const QString &f, int &w, int &h)
{
    w = h = 0;
    kind = Kind::None;
    bytesPerPixel = 0;
    expTime = 1.0;

    TiffPtr t = openTiff(f);
    if (!t)
        return refuse(f, QStringLiteral("Can not open TIFF file to read props."),
            QStringLiteral("not a readable TIFF file"));
    Layout l;
    if (const char *text = readLayout(t.get(), l))
        return refuse(f, QString::fromLatin1(text), QStringLiteral("image kind not supported"));
    if (!fitsLimit(l, sizeLimit(t.get(), f, l.compressed)))
        return refuse(f, QStringLiteral("TIFF pixel data is shorter than the image size."),
            QStringLiteral("pixel data shorter than the image size"));
    expTime = exifExposureTime(t.get());
    kind = l.kind;
    bytesPerPixel = l.bytesPerPixel;
    w = int(l.width);
    h = int(l.height);
    return true;
}

bool ImgDataTiff::openData(const QString &f)
{
    Layout l;
    const char *text = "Can not open TIFF file";
    TiffPtr t = openTiff(f);
    if (t)
        text = readLayout(t.get(), l);
    if (!text && (l.width != quint32(width) || l.height != quint32(height) || l.kind != kind))
        text = "TIFF file changed while it was read.";
    qint64 limit = 0;
    if (!text) {
        limit = sizeLimit(t.get(), f, l.compressed);
        if (!fitsLimit(l, limit))
            text = "TIFF pixel data is shorter than the image size.";
    }
    if (text) {
        QString reason = QString::fromLatin1(text);
        reason.chop(1); // the full stop
        return refuse(f, QString::fromLatin1(text), reason);
    }

    pixels = QByteArray(qsizetype(width) * height * bytesPerPixel, Qt::Uninitialized);
    if (pixels.size() != qsizetype(width) * height * bytesPerPixel)
        throw std::bad_alloc();
    const bool ok = TIFFIsTiled(t.get()) ? readTiles(t.get(), l, limit, pixels.data())
                                         : readStrips(t.get(), l, pixels.data());
    if (!ok) {
        pixels = QByteArray();
        return refuse(f, QStringLiteral("TIFF pixel data could not be decoded."),
            QStringLiteral("pixel data could not be decoded"));
    }
    if (l.minIsWhite)
        invertPixels(kind, pixels);
    return true;
}

double *ImgDataTiff::hLine(int y, double *out) const
{
    if (y < 0 || y >= height || pixels.isEmpty()) {
        std::fill_n(out, width, 0.0);
        return out;
    }
    // constData(): a shared, never-detached block, safe to read from several threads.
    const char *src = pixels.constData() + qsizetype(y) * width * bytesPerPixel;
    switch (kind) {
    case Kind::UInt8:
        PixelLines::row<quint8, false>(src, width, out);
        break;
    case Kind::UInt16:
        PixelLines::row<quint16, false>(src, width, out);
        break;
    case Kind::UInt32:
        PixelLines::row<quint32, false>(src, width, out);
        break;
    case Kind::Float32:
        PixelLines::row<float, false>(src, width, out);
        break;
    case Kind::None:
        std::fill_n(out, width, 0.0);
        break;
    }
    return out;
}

double *ImgDataTiff::vLine(int x, double *out) const
{
    if (x < 0 || x >= width || pixels.isEmpty()) {
        std::fill_n(out, height, 0.0);
        return out;
    }
    const qsizetype stride = qsizetype(width) * bytesPerPixel;
    const char *src = pixels.constData() + qsizetype(x) * bytesPerPixel;
    switch (kind) {
    case Kind::UInt8:
        PixelLines::column<quint8, false>(src, stride, height, out);
        break;
    case Kind::UInt16:
        PixelLines::column<quint16, false>(src, stride, height, out);
        break;
    case Kind::UInt32:
        PixelLines::column<quint32, false>(src, stride, height, out);
        break;
    case Kind::Float32:
        PixelLines::column<float, false>(src, stride, height, out);
        break;
    case Kind::None:
        std::fill_n(out, height, 0.0);
        break;
    }
    return out;
}
