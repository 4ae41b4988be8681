#include "CtTiffData.h"

#include <QFile>
#include <QFileInfo>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// A growing in-memory file for libtiff's client interface.
struct MemoryFile
{
    QByteArray bytes;
    qint64 pos = 0;
};

tsize_t memRead(thandle_t h, tdata_t buf, tsize_t size)
{
    auto *m = static_cast<MemoryFile *>(h);
    const qint64 n = std::clamp<qint64>(m->bytes.size() - m->pos, 0, size);
    if (n > 0)
        std::memcpy(buf, m->bytes.constData() + m->pos, size_t(n));
    m->pos += n;
    return tsize_t(n);
}

tsize_t memWrite(thandle_t h, tdata_t buf, tsize_t size)
{
    auto *m = static_cast<MemoryFile *>(h);
    if (size < 0)
        return -1;
    const qint64 end = m->pos + size;
    if (end > m->bytes.size()) {
        if (end > m->bytes.capacity())
            m->bytes.reserve(std::max<qint64>(end, m->bytes.capacity() * 2));
        m->bytes.resize(end);
    }
    std::memcpy(m->bytes.data() + m->pos, buf, size_t(size));
    m->pos = end;
    return size;
}

toff_t memSeek(thandle_t h, toff_t off, int whence)
{
    auto *m = static_cast<MemoryFile *>(h);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = m->pos;
    else if (whence == SEEK_END)
        base = m->bytes.size();
    const qint64 p = base + qint64(off);
    if (p < 0)
        return toff_t(-1);
    // Seeking past the end and writing there leaves zeros in between, as a file would.
    if (p > m->bytes.size())
        m->bytes.resize(p, '\0');
    m->pos = p;
    return toff_t(p);
}

int memClose(thandle_t)
{
    return 0;
}

toff_t memSize(thandle_t h)
{
    return toff_t(static_cast<MemoryFile *>(h)->bytes.size());
}

int noMap(thandle_t, tdata_t *, toff_t *)
{
    return 0;
}

void noUnmap(thandle_t, tdata_t, toff_t) { }

// libtiff's complaints are collected and reported once by the caller, naming the file.
int collectMessage(TIFF *, void *user, const char *module, const char *fmt, va_list ap)
{
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    auto *msg = static_cast<QString *>(user);
    if (msg->isEmpty())
        *msg = QString::fromLocal8Bit(module ? module : "") + ": " + QString::fromLocal8Bit(text);
    return 1;
}

int ignoreMessage(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

TIFFOpenOptions *makeOptions(QString *message, tmsize_t maxAlloc)
{
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, collectMessage, message);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, ignoreMessage, nullptr);
    if (maxAlloc > 0)
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts, maxAlloc);
    return opts;
}

struct TiffCloser
{
    void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Largest decoded-to-file size ratio believed of a compressed file.
constexpr qint64 kMaxCompressionRatio = 1024;
// The largest slice accepted when reading: the 3D view's own limit on grid cells.
constexpr qint64 kMaxPixels = qint64(1) << 28;

} // namespace

QString CtTiffData::description(const Info &info)
{
    const auto g = [](double v) { return QString::number(v, 'g', 10); };
    QString text = QString("Vexa2 reconstructed slice; slice %1; CoR %2; region %3 %4 %5 %6; "
                           "method %7; filter %8")
                       .arg(info.slice)
                       .arg(g(info.cor), g(info.x0), g(info.z0), g(info.x1), g(info.z1),
                           info.method, info.filter);
    if (info.ringRemoval > 0)
        text += QString("; ring removal %1").arg(info.ringRemoval);
    if (!info.unit.isEmpty())
        text += QString("; values in %1").arg(info.unit);
    return text;
}

QByteArray CtTiffData::make(
    const double *values, int rows, int cols, const Info &info, bool zlib, QString *error)
{
    const double fx = std::trunc(info.x0);
    const double fz = std::trunc(info.z0);
    const double maxSide = std::numeric_limits<int>::max() / 4;
    if (!(fx < info.x1) || !(fz < info.z1) || fx < -maxSide || fz < -maxSide || info.x1 > maxSide
        || info.z1 > maxSide) {
        setError(error, "the calculation region holds no pixel");
        return QByteArray();
    }
    const qint64 xFirst = qint64(fx);
    const qint64 zFirst = qint64(fz);
    const qint64 w = qint64(std::ceil(info.x1)) - xFirst;
    const qint64 h = qint64(std::ceil(info.z1)) - zFirst;
    if (w < 1 || h < 1 || w * h > (qint64(1) << 32) / 4) {
        setError(error, "the calculation region is too large for one TIFF file");
        return QByteArray();
    }
    if (!values)
        rows = cols = 0;

    std::vector<float> pixels(size_t(w * h), 0.0f);
    // Columns [inFirst, inEnd) of the region lie inside the result.
    const qint64 inFirst = std::max<qint64>(xFirst, 0);
    const qint64 inEnd = std::min<qint64>(xFirst + w, cols);
    for (qint64 z = zFirst; z < zFirst + h; ++z) {
        if (z < 0 || z >= rows || inEnd <= inFirst)
            continue;
        const double *src = values + z * qint64(cols);
        float *dst = pixels.data() + (z - zFirst) * w - xFirst;
        const double scale = info.scale;
        for (qint64 x = inFirst; x < inEnd; ++x)
            dst[x] = float(src[x] * scale);
    }
    return encode(pixels.data(), int(w), int(h), description(info), zlib, error);
}

QByteArray CtTiffData::encode(
    const float *pixels, int w, int h, const QString &description, bool zlib, QString *error)
{
    if (w < 1 || h < 1) {
        setError(error, "an empty image has no TIFF file");
        return QByteArray();
    }
    MemoryFile mem;
    const qint64 raw = qint64(w) * h * qint64(sizeof(float));
    mem.bytes.reserve(raw + 4096);
    QString message;
    TIFFOpenOptions *opts = makeOptions(&message, 0);
    // Classic TIFF holds up to 4 GiB; larger slices need the 64-bit offsets of BigTIFF.
    const char *mode = raw > (qint64(1) << 32) - (qint64(1) << 24) ? "w8" : "w";
    TiffPtr t(TIFFClientOpenExt(
        "memory", mode, &mem, memRead, memWrite, memSeek, memClose, memSize, noMap, noUnmap, opts));
    TIFFOpenOptionsFree(opts);
    if (!t) {
        setError(error, "libtiff cannot start the file: " + message);
        return QByteArray();
    }
    TIFF *tif = t.get();
    // Strips of about 256 KiB: few enough to write fast, small enough for readers that
    // decode strip by strip.
    const quint32 rowsPerStrip
        = quint32(std::clamp<qint64>((qint64(256) << 10) / (qint64(w) * 4), 1, h));
    const QByteArray text = description.toUtf8();
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, quint32(w))
        && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, quint32(h))
        && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, quint16(1))
        && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, quint16(32))
        && TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, quint16(SAMPLEFORMAT_IEEEFP))
        && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_MINISBLACK))
        && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, quint16(PLANARCONFIG_CONTIG))
        && TIFFSetField(tif, TIFFTAG_ORIENTATION, quint16(ORIENTATION_TOPLEFT))
        && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip)
        && TIFFSetField(
            tif, TIFFTAG_COMPRESSION, quint16(zlib ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE))
        // The fastest deflate level: a single saver thread writes every worker's slices, and
        // the higher levels gain little on noisy floats.
        && (!zlib || TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1))
        && TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, quint16(RESUNIT_NONE))
        && TIFFSetField(tif, TIFFTAG_XRESOLUTION, 1.0f)
        && TIFFSetField(tif, TIFFTAG_YRESOLUTION, 1.0f)
        && TIFFSetField(tif, TIFFTAG_SOFTWARE, "Vexa2")
        && TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.constData());
    const tmsize_t rowBytes = tmsize_t(w) * tmsize_t(sizeof(float));
    for (quint32 row = 0; ok && row < quint32(h); row += rowsPerStrip) {
        const quint32 n = std::min(rowsPerStrip, quint32(h) - row);
        // libtiff does not change the data of an uncompressed or deflated strip.
        void *src = const_cast<float *>(pixels + qint64(row) * w);
        ok = TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, row, 0), src, tmsize_t(n) * rowBytes)
            >= 0;
    }
    ok = ok && TIFFWriteDirectory(tif);
    t.reset(); // flushes; the memory file stays
    if (!ok || !message.isEmpty()) {
        setError(error, "libtiff cannot write the image: " + message);
        return QByteArray();
    }
    mem.bytes.squeeze();
    return mem.bytes;
}

bool CtTiffData::read(
    const QString &path, std::vector<float> &pixels, int &w, int &h, QString *error)
{
    pixels.clear();
    w = h = 0;
    const qint64 length = QFileInfo(path).size();
    QString message;
    TIFFOpenOptions *opts
        = makeOptions(&message, tmsize_t(std::max<qint64>(length * kMaxCompressionRatio, 1 << 20)));
    // "m": no memory mapping, so a file truncated while it is read gives an error, not a
    // bus error.
    TiffPtr t(TIFFOpenExt(QFile::encodeName(path).constData(), "rm", opts));
    TIFFOpenOptionsFree(opts);
    if (!t) {
        setError(error, message.isEmpty() ? QString("not a TIFF file") : message);
        return false;
    }
    TIFF *tif = t.get();
    quint32 width = 0, height = 0;
    quint16 spp = 1, bps = 1, format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (spp != 1 || bps != 32 || format != SAMPLEFORMAT_IEEEFP) {
        setError(error, "not a single-channel 32-bit float TIFF file");
        return false;
    }
    const qint64 count = qint64(width) * qint64(height);
    const qint64 decodable
        = compression == COMPRESSION_NONE ? length : length * kMaxCompressionRatio;
    if (width < 1 || height < 1 || count > kMaxPixels || count * 4 > decodable) {
        setError(error, QString("image size %1 x %2 does not fit the file").arg(width).arg(height));
        return false;
    }
    if (TIFFScanlineSize64(tif) != quint64(width) * 4) {
        setError(error, "unsupported TIFF layout");
        return false;
    }
    pixels.resize(size_t(count));
    bool ok = true;
    if (TIFFIsTiled(tif)) {
        quint32 tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        const qint64 tileBytes = TIFFTileSize64(tif);
        ok = tw > 0 && th > 0 && tileBytes == qint64(tw) * th * 4 && tileBytes <= decodable;
        std::vector<float> tile(ok ? size_t(tw) * th : 0);
        for (quint32 y0 = 0; ok && y0 < height; y0 += th) {
            for (quint32 x0 = 0; ok && x0 < width; x0 += tw) {
                ok = TIFFReadTile(tif, tile.data(), x0, y0, 0, 0) >= 0;
                const quint32 cw = std::min(tw, width - x0);
                for (quint32 r = 0; ok && r < th && y0 + r < height; ++r)
                    std::copy_n(tile.data() + size_t(r) * tw, cw,
                        pixels.data() + size_t(y0 + r) * width + x0);
            }
        }
    } else {
        quint32 rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip < 1 || rowsPerStrip > height)
            rowsPerStrip = height;
        for (quint32 row = 0; ok && row < height; row += rowsPerStrip) {
            const tmsize_t want = tmsize_t(std::min(rowsPerStrip, height - row)) * width * 4;
            ok = TIFFReadEncodedStrip(
                     tif, TIFFComputeStrip(tif, row, 0), pixels.data() + size_t(row) * width, want)
                == want;
        }
    }
    if (!ok) {
        pixels.clear();
        setError(error, message.isEmpty() ? QString("pixel data cannot be decoded") : message);
        return false;
    }
    w = int(width);
    h = int(height);
    return true;
}
