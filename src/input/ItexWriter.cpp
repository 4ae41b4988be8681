#include "ItexWriter.h"
#include "WholeFile.h"

#include <QLocale>
#include <QtEndian>

#include <cstring>
#include <limits>

namespace {

const int HeaderSize = 64;

QByteArray itexComment(
    int width, int height, int bytesPerPixel, double exposureTime, const QString &extra)
{
    QString c = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=%3,")
                    .arg(width)
                    .arg(height)
                    .arg(bytesPerPixel);
    if (exposureTime >= 0.0)
        c += QStringLiteral("Prop_ExposureTime1=%1,")
                 .arg(QString::number(exposureTime, 'g', QLocale::FloatingPointShortest));
    if (!extra.isEmpty()) {
        c += extra;
        // The reader only looks at items that a comma has closed.
        if (!extra.endsWith(u','))
            c += u',';
    }
    return c.toLatin1();
}

} // namespace

bool writeItexFile(const QString &path, int width, int height, int bytesPerPixel,
    const void *pixels, double exposureTime, const QString &extra)
{
    // The header holds the size in 16-bit fields; the reader takes it from the comment,
    // but a file whose two statements disagree is not one this program should produce.
    if (width < 1 || height < 1 || width > 0xffff || height > 0xffff)
        return false;
    if ((bytesPerPixel != 2 && bytesPerPixel != 4) || !pixels)
        return false;
    const QByteArray comment = itexComment(width, height, bytesPerPixel, exposureTime, extra);
    if (comment.size() > std::numeric_limits<quint16>::max())
        return false;

    char header[HeaderSize];
    std::memset(header, 0, sizeof header);
    header[0] = 'I';
    header[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), header + 2);
    qToLittleEndian<quint16>(quint16(width), header + 4);
    qToLittleEndian<quint16>(quint16(height), header + 6);
    qToLittleEndian<quint16>(bytesPerPixel == 2 ? 2 : 3, header + 12);

    // Built whole in memory and written in one checked step: the file appears complete or
    // not at all, even on a file system that fills up.
    const qsizetype rowBytes = qsizetype(width) * bytesPerPixel;
    QByteArray bytes;
    bytes.resize(HeaderSize + comment.size() + rowBytes * height);
    char *dst = bytes.data();
    std::memcpy(dst, header, HeaderSize);
    std::memcpy(dst + HeaderSize, comment.constData(), size_t(comment.size()));
    dst += HeaderSize + comment.size();
    const qsizetype count = qsizetype(width) * height;
    if (bytesPerPixel == 2)
        qToLittleEndian<quint16>(pixels, count, dst);
    else
        qToLittleEndian<quint32>(pixels, count, dst);
    return writeWholeFile(path, bytes);
}
