#include "ImgDataTiff.h"

#include "PixelLines.h"
#include "TextUtil.h"

#include <QFile>
#include <QFileInfo>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
    else if (format == SAMPLEFORMAT_INT && bps == 16)
        l.kind = ImgDataTiff::Kind::Int16; // counts as some cameras and converters write them
    else if (format == SAMPLEFORMAT_UINT && bps == 32)
        l.kind = ImgDataTiff::Kind::UInt32;
    else if (format == SAMPLEFORMAT_IEEEFP && bps == 32)
        l.kind = ImgDataTiff::Kind::Float32;
    else
        return "TIFF pixel format is not supported (8-, 16- or 32-bit unsigned integer, "
               "16-bit signed integer or 32-bit float only).";
    l.bytesPerPixel = bps / 8;
    l.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    if (l.minIsWhite && l.kind == ImgDataTiff::Kind::Float32)
        return "TIFF float image stored as MinIsWhite is not supported.";
    if (l.minIsWhite && l.kind == ImgDataTiff::Kind::Int16)
        return "TIFF signed image stored as MinIsWhite is not supported.";
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

// The part of the image a reader keeps: columns [x, x + w), rows [y, y + h).
struct Part
{
    quint32 x = 0, y = 0, w = 0, h = 0;
};

// Decodes the strips that cover the part's rows (each once) into `dst`, the part's rows back
// to back.
bool readStrips(TIFF *t, const Layout &l, const Part &p, char *dst)
{
    quint32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip < 1 || rowsPerStrip > l.height)
        rowsPerStrip = l.height;
    const qsizetype rowBytes = qsizetype(l.width) * l.bytesPerPixel;
    const qsizetype partRowBytes = qsizetype(p.w) * l.bytesPerPixel;
    if (TIFFScanlineSize64(t) != quint64(rowBytes))
        return false;
    std::vector<char> strip;
    const quint32 end = p.y + p.h;
    for (quint32 row = p.y / rowsPerStrip * rowsPerStrip; row < end; row += rowsPerStrip) {
        const quint32 rows = std::min(rowsPerStrip, l.height - row);
        const tmsize_t want = tmsize_t(rows) * rowBytes;
        const tstrip_t s = TIFFComputeStrip(t, row, 0);
        // A strip wholly inside a part of whole rows is decoded in place.
        if (p.w == l.width && row >= p.y && row + rows <= end) {
            if (TIFFReadEncodedStrip(t, s, dst + qsizetype(row - p.y) * rowBytes, want) != want)
                return false;
            continue;
        }
        strip.resize(size_t(want));
        if (TIFFReadEncodedStrip(t, s, strip.data(), want) != want)
            return false;
        for (quint32 r = std::max(row, p.y); r < std::min(row + rows, end); ++r)
            std::copy_n(
                strip.data() + qsizetype(r - row) * rowBytes + qsizetype(p.x) * l.bytesPerPixel,
                partRowBytes, dst + qsizetype(r - p.y) * partRowBytes);
    }
    return true;
}

// Decodes the tiles that cover the part (each once) into `dst`.
bool readTiles(TIFF *t, const Layout &l, qint64 limit, const Part &p, char *dst)
{
    quint32 tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    const qint64 tileBytes = TIFFTileSize64(t);
    if (tw < 1 || th < 1 || tileBytes < qint64(tw) * th * l.bytesPerPixel || tileBytes > limit)
        return false;
    std::vector<char> tile(static_cast<size_t>(tileBytes));
    const qsizetype partRowBytes = qsizetype(p.w) * l.bytesPerPixel;
    const qsizetype tileRowBytes = qsizetype(tw) * l.bytesPerPixel;
    const quint32 xEnd = p.x + p.w, yEnd = p.y + p.h;
    for (quint32 y0 = p.y / th * th; y0 < yEnd; y0 += th) {
        const quint32 r0 = std::max(y0, p.y), r1 = std::min({ y0 + th, yEnd, l.height });
        for (quint32 x0 = p.x / tw * tw; x0 < xEnd; x0 += tw) {
            if (TIFFReadTile(t, tile.data(), x0, y0, 0, 0) < 0)
                return false;
            const quint32 c0 = std::max(x0, p.x), c1 = std::min({ x0 + tw, xEnd, l.width });
            const qsizetype copy = qsizetype(c1 - c0) * l.bytesPerPixel;
            for (quint32 r = r0; r < r1; ++r)
                std::copy_n(tile.data() + qsizetype(r - y0) * tileRowBytes
                        + qsizetype(c0 - x0) * l.bytesPerPixel,
                    copy,
                    dst + qsizetype(r - p.y) * partRowBytes
                        + qsizetype(c0 - p.x) * l.bytesPerPixel);
        }
    }
    return true;
}

// Pixels read past libtiff (ImageJ's later images) come in the file's byte order.
void swapPixels(int bytesPerPixel, QByteArray &pixels)
{
    const qsizetype n = pixels.size() / bytesPerPixel;
    if (bytesPerPixel == 2)
        TIFFSwabArrayOfShort(reinterpret_cast<uint16_t *>(pixels.data()), tmsize_t(n));
    else if (bytesPerPixel == 4)
        TIFFSwabArrayOfLong(reinterpret_cast<uint32_t *>(pixels.data()), tmsize_t(n));
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

// ImageJ writes stacks beyond 4 GB (and may write any stack) with one directory only: the
// description says how many images there are ("images=N"), and their pixels follow those of
// the first one without gaps, uncompressed. The count of such images, or 0.
int imageJImages(TIFF *t, const Layout &l, qint64 fileLength, quint64 *firstOffset)
{
    const char *text = nullptr;
    if (!TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &text) || !text
        || std::strncmp(text, "ImageJ=", 7) != 0 || l.compressed || TIFFIsTiled(t))
        return 0;
    const QByteArray description(text);
    const qsizetype at = description.indexOf("\nimages=");
    if (at < 0)
        return 0;
    const qsizetype from = at + 8;
    qsizetype end = from;
    while (end < description.size() && description.at(end) >= '0' && description.at(end) <= '9')
        ++end;
    bool ok = false;
    const qint64 images = description.mid(from, end - from).toLongLong(&ok);
    if (!ok || images < 2 || images > std::numeric_limits<int>::max())
        return 0;
    // The strips of the first image must lie back to back, so that the next image's
    // pixels start right after them.
    const quint32 n = TIFFNumberOfStrips(t);
    const qint64 pageBytes = qint64(l.width) * l.height * l.bytesPerPixel;
    quint64 next = TIFFGetStrileOffset(t, 0);
    *firstOffset = next;
    for (quint32 i = 0; i < n; ++i) {
        if (TIFFGetStrileOffset(t, i) != next)
            return 0;
        next += TIFFGetStrileByteCount(t, i);
    }
    if (qint64(next - *firstOffset) != pageBytes)
        return 0;
    // Only as many images as the file really holds.
    const qint64 held = (fileLength - qint64(*firstOffset)) / pageBytes;
    return int(std::min(images, held));
}

// Splits "FILE#p" (page p of a TIFF stack) into its file and page; a plain name is page 0.
void splitPageAddress(const QString &address, QString &file, int &page)
{
    file = address;
    page = 0;
    if (QFileInfo::exists(address))
        return;
    const qsizetype hash = address.lastIndexOf(u'#');
    if (hash < 1)
        return;
    bool ok = false;
    const int p = address.mid(hash + 1).toInt(&ok);
    if (ok && p >= 0 && address.at(hash + 1).isDigit()) {
        file = address.left(hash);
        page = p;
    }
}

// Opens `file` at page `page`: a directory of its own, or an image that ImageJ stored after
// the first one (then *rawOffset is where its pixels begin). Returns the text to report on
// failure.
const char *openPage(const QString &file, int page, TiffPtr &t, Layout &l, qint64 *rawOffset)
{
    *rawOffset = -1;
    t = openTiff(file);
    if (!t)
        return "Can not open TIFF file";
    if (page > 0 && !TIFFSetDirectory(t.get(), tdir_t(page))) {
        // Not a directory of its own: maybe an ImageJ image after the first.
        if (!TIFFSetDirectory(t.get(), 0))
            return "TIFF file has no such page.";
        if (const char *text = readLayout(t.get(), l))
            return text;
        quint64 first = 0;
        const int images = imageJImages(t.get(), l, QFileInfo(file).size(), &first);
        if (page >= images)
            return "TIFF file has no such page.";
        *rawOffset = qint64(first) + qint64(page) * l.width * l.height * l.bytesPerPixel;
        return nullptr;
    }
    return readLayout(t.get(), l);
}

} // namespace

int ImgDataTiff::pageCount(const QString &path)
{
    TiffPtr t = openTiff(path);
    Layout first;
    if (!t || readLayout(t.get(), first))
        return 0;
    quint64 offset = 0;
    const int imageJ = imageJImages(t.get(), first, QFileInfo(path).size(), &offset);
    // The pages of the first one's size and kind; thumbnails and reduced images are no
    // projections.
    int pages = 1;
    while (TIFFReadDirectory(t.get())) {
        Layout l;
        if (readLayout(t.get(), l) || l.width != first.width || l.height != first.height
            || l.kind != first.kind)
            break;
        ++pages;
    }
    return std::max(pages, imageJ);
}

QStringList ImgDataTiff::pageAddresses(const QString &path)
{
    const int n = pageCount(path);
    if (n < 2)
        return { path };
    QStringList list;
    list.reserve(n);
    for (int p = 0; p < n; ++p)
        list << path + u'#' + QString::number(p);
    return list;
}

bool ImgDataTiff::isPageAddress(const QString &address)
{
    QString file;
    int page = 0;
    splitPageAddress(address, file, page);
    return file != address && isTIFF(file);
}

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

    QString file;
    splitPageAddress(f, file, page);
    TiffPtr t;
    Layout l;
    qint64 rawOffset = -1;
    if (const char *text = openPage(file, page, t, l, &rawOffset)) {
        if (!t)
            return refuse(f, QStringLiteral("Can not open TIFF file to read props."),
                QStringLiteral("not a readable TIFF file"));
        QString reason = QString::fromLatin1(text);
        reason.chop(1); // the full stop
        return refuse(f, QString::fromLatin1(text),
            reason == QLatin1String("TIFF file has no such page") ? QStringLiteral("no such page")
                                                                  : reason);
    }
    if (rawOffset < 0 && !fitsLimit(l, sizeLimit(t.get(), file, l.compressed)))
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
    QString file;
    splitPageAddress(f, file, page);
    TiffPtr t;
    qint64 rawOffset = -1;
    const char *text = openPage(file, page, t, l, &rawOffset);
    if (!text && (l.width != quint32(width) || l.height != quint32(height) || l.kind != kind))
        text = "TIFF file changed while it was read.";
    qint64 limit = 0;
    // Only the kept rows and columns (the whole image unless a window is asked for).
    const qint64 keptBytes = qint64(keptWidth) * keptHeight * bytesPerPixel;
    if (!text && rawOffset >= 0) {
        pixels = QByteArray(qsizetype(keptBytes), Qt::Uninitialized);
        if (pixels.size() != keptBytes)
            throw std::bad_alloc();
        QFile raw(file);
        if (!raw.open(QIODevice::ReadOnly)
            || raw.size() - rawOffset < qint64(width) * height * bytesPerPixel
            || !readKept(raw, rawOffset, bytesPerPixel, pixels.data())) {
            pixels = QByteArray();
            return refuse(f, QStringLiteral("TIFF pixel data is shorter than the image size."),
                QStringLiteral("pixel data shorter than the image size"));
        }
        if (TIFFIsByteSwapped(t.get()))
            swapPixels(bytesPerPixel, pixels);
        if (l.minIsWhite)
            invertPixels(kind, pixels);
        return true;
    }
    if (!text) {
        limit = sizeLimit(t.get(), file, l.compressed);
        if (!fitsLimit(l, limit))
            text = "TIFF pixel data is shorter than the image size.";
    }
    if (text) {
        QString reason = QString::fromLatin1(text);
        reason.chop(1); // the full stop
        return refuse(f, QString::fromLatin1(text), reason);
    }

    pixels = QByteArray(qsizetype(keptBytes), Qt::Uninitialized);
    if (pixels.size() != keptBytes)
        throw std::bad_alloc();
    const Part part { quint32(keptX), quint32(keptY), quint32(keptWidth), quint32(keptHeight) };
    const bool ok = TIFFIsTiled(t.get()) ? readTiles(t.get(), l, limit, part, pixels.data())
                                         : readStrips(t.get(), l, part, pixels.data());
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
    const qsizetype i = keptRowStart(y, out);
    if (i < 0)
        return out;
    // constData(): a shared, never-detached block, safe to read from several threads.
    const char *src = pixels.constData() + i * bytesPerPixel;
    double *const line = out + keptX;
    const int width = keptWidth;
    switch (kind) {
    case Kind::UInt8:
        PixelLines::row<quint8, false>(src, width, line);
        break;
    case Kind::UInt16:
        PixelLines::row<quint16, false>(src, width, line);
        break;
    case Kind::Int16:
        PixelLines::row<qint16, false>(src, width, line);
        break;
    case Kind::UInt32:
        PixelLines::row<quint32, false>(src, width, line);
        break;
    case Kind::Float32:
        PixelLines::row<float, false>(src, width, line);
        break;
    case Kind::None:
        std::fill_n(line, width, 0.0);
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
    const qsizetype i = keptColumnStart(x, out);
    if (i < 0)
        return out;
    const qsizetype stride = qsizetype(keptWidth) * bytesPerPixel;
    const char *src = pixels.constData() + i * bytesPerPixel;
    double *const line = out + keptY;
    const int height = keptHeight;
    switch (kind) {
    case Kind::UInt8:
        PixelLines::column<quint8, false>(src, stride, height, line);
        break;
    case Kind::UInt16:
        PixelLines::column<quint16, false>(src, stride, height, line);
        break;
    case Kind::Int16:
        PixelLines::column<qint16, false>(src, stride, height, line);
        break;
    case Kind::UInt32:
        PixelLines::column<quint32, false>(src, stride, height, line);
        break;
    case Kind::Float32:
        PixelLines::column<float, false>(src, stride, height, line);
        break;
    case Kind::None:
        std::fill_n(line, height, 0.0);
        break;
    }
    return out;
}
