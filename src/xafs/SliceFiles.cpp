#include "SliceFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <tiffio.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// libtiff's complaints go into the message of the file concerned, not to the terminal.
int keepTiffMessage(TIFF *, void *user, const char *, const char *fmt, va_list ap)
{
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    auto *text = static_cast<QString *>(user);
    if (text->isEmpty())
        *text = QString::fromLocal8Bit(buf);
    return 1;
}

int dropTiffWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

struct TiffCloser
{
    void operator()(TIFF *t) const { TIFFClose(t); }
};

double numberAfter(const QString &text, const QString &key)
{
    const QRegularExpression re(key + QStringLiteral(" ([-+0-9.eE]+|nan|inf)"));
    const auto m = re.match(text);
    bool ok = false;
    const double v = m.hasMatch() ? m.captured(1).toDouble(&ok) : 0.0;
    return ok ? v : std::numeric_limits<double>::quiet_NaN();
}

QString wordAfter(const QString &text, const QString &key)
{
    const QRegularExpression re(key + QStringLiteral(" ([^;]+)"));
    const auto m = re.match(text);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

} // namespace

namespace SliceFiles {

bool readFloatTiff(const QString &path, std::vector<float> &pixels, int &w, int &h, QString *error,
    Description *description)
{
    // Kept at its size: a buffer reused for slices of one size is not cleared each time.
    w = h = 0;
    QString message;
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, keepTiffMessage, &message);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, dropTiffWarning, nullptr);
    // No memory mapping: a file cut while it is read gives an error, not a bus error.
    std::unique_ptr<TIFF, TiffCloser> t(
        TIFFOpenExt(QFile::encodeName(path).constData(), "rm", opts));
    TIFFOpenOptionsFree(opts);
    if (!t) {
        setError(error, message.isEmpty() ? QStringLiteral("not a TIFF file") : message);
        return false;
    }
    TIFF *tif = t.get();
    uint32_t width = 0, height = 0;
    uint16_t spp = 1, bps = 1, format = SAMPLEFORMAT_UINT;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (spp != 1 || bps != 32 || format != SAMPLEFORMAT_IEEEFP) {
        setError(error, QStringLiteral("not a single-channel 32-bit float TIFF file"));
        return false;
    }
    const qint64 count = qint64(width) * height;
    // A slice larger than 64 Gi pixels is a damaged header, not a slice.
    if (width < 1 || height < 1 || count > (qint64(1) << 36)
        || TIFFScanlineSize64(tif) != uint64_t(width) * 4) {
        setError(error, QStringLiteral("unsupported image size or layout"));
        return false;
    }
    pixels.resize(size_t(count));
    bool ok = true;
    if (TIFFIsTiled(tif)) {
        ok = false;
        message = QStringLiteral("tiled float TIFF files are not read");
    } else {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip < 1 || rowsPerStrip > height)
            rowsPerStrip = height;
        for (uint32_t row = 0; ok && row < height; row += rowsPerStrip) {
            const tmsize_t want = tmsize_t(std::min(rowsPerStrip, height - row)) * width * 4;
            ok = TIFFReadEncodedStrip(
                     tif, TIFFComputeStrip(tif, row, 0), pixels.data() + size_t(row) * width, want)
                == want;
        }
    }
    if (!ok) {
        pixels.clear();
        setError(error,
            message.isEmpty() ? QStringLiteral("the pixel data is cut short or damaged") : message);
        return false;
    }
    if (description) {
        char *text = nullptr;
        *description = Description();
        if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) == 1 && text) {
            const QString d = QString::fromUtf8(text);
            description->cor = numberAfter(d, QStringLiteral("CoR"));
            description->method = wordAfter(d, QStringLiteral("method"));
            description->filter = wordAfter(d, QStringLiteral("filter"));
        }
    }
    w = int(width);
    h = int(height);
    return true;
}

bool readCtImageData(const QString &path, double dataOffset, std::vector<float> &pixels, int &w,
    int &h, QString *error)
{
    pixels.clear();
    w = h = 0;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        setError(error, f.errorString());
        return false;
    }
    const QByteArray bytes = f.readAll();
    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    if (!bytes.startsWith("#VEXA-CTImg")) {
        setError(error, QStringLiteral("not a CT image data file"));
        return false;
    }
    // The header's region: first column and row, last column and row (inclusive).
    double range[4] = { 0, 0, 0, 0 };
    int found = 0;
    while (p < end && *p == '#') {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!eol) {
            setError(error, QStringLiteral("the header is cut short"));
            return false;
        }
        const QByteArray line(p, int(eol - p));
        static const char *keys[4] = { "# Range_X0", "# Range_Y0", "# Range_X1", "# Range_Y1" };
        for (int i = 0; i < 4; ++i) {
            if (line.startsWith(keys[i])) {
                const int colon = line.indexOf(':');
                bool ok = false;
                range[i] = colon > 0 ? line.mid(colon + 1).trimmed().toDouble(&ok) : 0.0;
                if (ok)
                    found |= 1 << i;
            }
        }
        p = eol + 1;
    }
    if (found != 15) {
        setError(error, QStringLiteral("the header does not give the region"));
        return false;
    }
    const double x0 = std::trunc(range[0]), z0 = std::trunc(range[1]);
    // The body runs from trunc(x0) while x < x1, and the header holds x1 - 1.
    const double cols = std::ceil(range[2] + 1) - x0;
    const double rows = std::ceil(range[3] + 1) - z0;
    if (!(cols >= 1 && rows >= 1 && cols * rows <= double(bytes.size()) / 6)) {
        setError(error,
            QStringLiteral("its region of %1 x %2 pixels does not fit the file")
                .arg(cols)
                .arg(rows));
        return false;
    }
    w = int(cols);
    h = int(rows);
    pixels.assign(size_t(w) * h, 0.0f);
    qint64 lines = 0;
    const qint64 expected = qint64(w) * h;
    while (p < end && lines < expected) {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!eol)
            break; // a last line without its line feed: cut while written
        double v[3];
        const char *q = p;
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            while (q < eol && (*q == '\t' || *q == ' '))
                ++q;
            const auto r = std::from_chars(q, eol, v[i]);
            ok = r.ec == std::errc();
            q = r.ptr;
        }
        const qint64 x = qint64(v[0] - x0), z = qint64(v[1] - z0);
        if (!ok || x < 0 || x >= w || z < 0 || z >= h) {
            setError(error, QStringLiteral("line %1 is not a pixel of its region").arg(lines + 7));
            w = h = 0;
            pixels.clear();
            return false;
        }
        pixels[size_t(z) * w + size_t(x)] = float(v[2] - dataOffset);
        ++lines;
        p = eol + 1;
    }
    if (lines < expected) {
        setError(
            error, QStringLiteral("cut short: %1 of its %2 pixel lines").arg(lines).arg(expected));
        w = h = 0;
        pixels.clear();
        return false;
    }
    return true;
}

double energyOfName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("(\\d+(?:[_.]\\d+)?)\\s*(k?eV)?"),
        QRegularExpression::CaseInsensitiveOption);
    double value = std::numeric_limits<double>::quiet_NaN();
    auto it = re.globalMatch(name);
    while (it.hasNext()) {
        const auto m = it.next();
        QString number = m.captured(1);
        number.replace('_', '.');
        bool ok = false;
        const double v = number.toDouble(&ok);
        if (!ok)
            continue;
        value = m.captured(2).compare(QStringLiteral("keV"), Qt::CaseInsensitive) == 0 ? v * 1000.0
                                                                                       : v;
    }
    return value;
}

} // namespace SliceFiles
