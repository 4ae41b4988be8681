#include "ImgDataITEX.h"

#include "PixelLines.h"
#include "TextUtil.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <new>

namespace {

const int HeaderSize = 64;
const int PropsBytes = 10;

// What the header comment states; sizes below 1 mean "not given".
struct Comment
{
    int width = 0, height = 0;
    int areWidth = 0, areHeight = 0;
    int bytesPerPixel = 0;
    double expTime = 1.0;
};

int intValue(const QString &item, const QString &key)
{
    const QStringList v = itemsAfterKey(item, key);
    bool ok = false;
    const int n = v.isEmpty() ? 0 : v.first().toInt(&ok);
    return ok ? n : 0;
}

double numberValue(const QString &item, const QString &key)
{
    const QStringList v = itemsAfterKey(item, key);
    bool ok = false;
    const double n = v.isEmpty() ? 0.0 : v.first().toDouble(&ok);
    return ok ? n : 0.0;
}

// Difference of two coordinates as a size, 0 when it does not fit an int.
int span(int from, int to)
{
    const qint64 d = qint64(to) - qint64(from);
    return d >= 0 && d <= std::numeric_limits<int>::max() ? int(d) : 0;
}

void matchItem(const QString &item, Comment &c)
{
    static const QString widthKey = QStringLiteral("Prop_ImageWidth=");
    static const QString heightKey = QStringLiteral("Prop_ImageHeight=");
    static const QString bppKey = QStringLiteral("BytesPerPixel=");
    static const QString exp1Key = QStringLiteral("Prop_ExposureTime1=");
    static const QString exp2Key = QStringLiteral("Prop_ExposureTime2=");
    static const QString areKey = QStringLiteral("areSource=");

    if (startsWithKey(item, widthKey)) {
        c.width = intValue(item, widthKey);
    } else if (startsWithKey(item, heightKey)) {
        c.height = intValue(item, heightKey);
    } else if (startsWithKey(item, bppKey)) {
        c.bytesPerPixel = intValue(item, bppKey);
    } else if (startsWithKey(item, exp1Key)) {
        c.expTime = numberValue(item, exp1Key);
    } else if (startsWithKey(item, exp2Key)) {
        c.expTime = numberValue(item, exp2Key);
    } else if (startsWithKey(item, areKey)) {
        QString rest = item.mid(areKey.size());
        rest.replace(u',', u' ');
        rest.remove(u'"');
        int v[4] = { 0, 0, 0, 0 };
        QString one;
        for (int &n : v) {
            takeFirstItem(rest, one);
            bool ok = false;
            n = one.toInt(&ok);
            if (!ok)
                n = 0;
        }
        c.areWidth = span(v[0], v[2]);
        c.areHeight = span(v[1], v[3]);
    }
}

// The comment is plain bytes; each byte is one character. An item counts only once the
// comma closing it has been seen, so a trailing unterminated item is ignored.
Comment parseComment(const QByteArray &text)
{
    Comment c;
    QString item;
    bool inQuotes = false;
    for (const char ch : text) {
        const QChar qc = QChar::fromLatin1(ch);
        if (qc == u'"') {
            inQuotes = !inQuotes;
            item += qc;
        } else if (qc == u',' && !inQuotes) {
            matchItem(item, c);
            item.clear();
        } else {
            item += qc;
        }
    }
    return c;
}

} // namespace

void ImgDataITEX::reset()
{
    ImgData::reset();
    pixelOffset = 0;
    bytesPerPixel = 0;
    pixels = QByteArray();
}

bool ImgDataITEX::readProps(const QString &f, int &w, int &h)
{
    w = h = 0;
    pixelOffset = 0;
    bytesPerPixel = 0;
    expTime = 1.0;

    QFile file(f);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(f, QStringLiteral("Can not open ITEX file to read props."),
            QStringLiteral("cannot be opened"));
    const QByteArray head = file.read(PropsBytes);
    if (head.size() < PropsBytes)
        return refuse(f, QStringLiteral("Error on reading ITEX file props."),
            QStringLiteral("header cut short"));
    // A header whose comment is missing, cut short or gives no size fails without a message
    // of its own: the owner of the reader reports the file it could not use.
    const int commentLength = qFromLittleEndian<quint16>(head.constData() + 2);
    if (commentLength == 0) {
        failure = QStringLiteral("header without comment");
        return false;
    }
    QByteArray text;
    if (file.seek(HeaderSize))
        text = file.read(commentLength);
    if (text.size() < commentLength) {
        failure = QStringLiteral("header comment cut short");
        return false;
    }

    const Comment c = parseComment(text);
    const int cw = c.width >= 1 ? c.width : c.areWidth;
    const int ch = c.height >= 1 ? c.height : c.areHeight;
    if (cw < 1 || ch < 1) {
        failure = QStringLiteral("no image size in the header");
        return false;
    }

    // Every size is checked against the real file length here, before anything is
    // allocated for the pixels. cw * ch fits a qint64 because both fit an int.
    const int offset = HeaderSize + commentLength;
    const qint64 available = std::max<qint64>(0, file.size() - offset);
    const qint64 count = qint64(cw) * qint64(ch);
    int bpp = c.bytesPerPixel;
    if (bpp != 2 && bpp != 4) {
        const qint64 fit = available / count;
        if (fit != 2 && fit != 4)
            return refuse(f,
                QStringLiteral("ITEX header gives no usable BytesPerPixel and the file size "
                               "fits neither 2 nor 4 bytes per pixel."),
                QStringLiteral("no pixel width in the header"));
        bpp = int(fit);
        logLine(QStringLiteral("ITEX header gives no usable BytesPerPixel; %1 taken from the "
                               "file size.")
                    .arg(bpp),
            f);
    }
    if (count > available / bpp)
        return refuse(f, QStringLiteral("ITEX pixel block is shorter than the image size."),
            QStringLiteral("pixel block shorter than the image size"));
    // A block that holds the image at least twice over is not what the header describes
    // (a 32-bit image labelled 16-bit would otherwise be read as garbage of the right size).
    if (count <= available / (2 * bpp)) {
        const QString sizes = QStringLiteral("%1 bytes of pixels for %2 x %3 pixels of %4 bytes")
                                  .arg(available)
                                  .arg(cw)
                                  .arg(ch)
                                  .arg(bpp);
        return refuse(f,
            QStringLiteral("ITEX pixel block does not fit the header's pixel size (%1).")
                .arg(sizes),
            QStringLiteral("pixel block does not fit the header (%1)").arg(sizes));
    }

    pixelOffset = offset;
    bytesPerPixel = bpp;
    expTime = c.expTime;
    w = cw;
    h = ch;
    return true;
}

bool ImgDataITEX::openData(const QString &f)
{
    // The file is closed again once the block is in memory: a set of thousands of
    // projections must not hold thousands of open files.
    QFile file(f);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(
            f, QStringLiteral("Can not open ITEX file"), QStringLiteral("cannot be opened"));
    const qint64 bytes = qint64(width) * qint64(height) * bytesPerPixel;
    const QString shortText = QStringLiteral("ITEX pixel block is shorter than the image size.");
    const QString shortReason = QStringLiteral("pixel block shorter than the image size");
    if (width < 1 || height < 1 || bytesPerPixel < 1 || pixelOffset < HeaderSize
        || file.size() - pixelOffset < bytes)
        return refuse(f, shortText, shortReason);
    // Only the kept rows and columns are read (the whole image unless a window is asked for).
    const qint64 keptBytes = qint64(keptWidth) * keptHeight * bytesPerPixel;
    pixels = QByteArray(qsizetype(keptBytes), Qt::Uninitialized);
    if (pixels.size() != keptBytes)
        throw std::bad_alloc();
    if (!readKept(file, pixelOffset, bytesPerPixel, pixels.data())) {
        pixels = QByteArray();
        return refuse(f, shortText, shortReason);
    }
    return true;
}

double *ImgDataITEX::hLine(int y, double *out) const
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
    if (bytesPerPixel == 2)
        PixelLines::row<quint16, true>(src, keptWidth, out + keptX);
    else
        PixelLines::row<quint32, true>(src, keptWidth, out + keptX);
    return out;
}

double *ImgDataITEX::vLine(int x, double *out) const
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
    if (bytesPerPixel == 2)
        PixelLines::column<quint16, true>(src, stride, keptHeight, out + keptY);
    else
        PixelLines::column<quint32, true>(src, stride, keptHeight, out + keptY);
    return out;
}
