#include "ItexWriter.h"

#include <QLocale>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>
#include <limits>
#include <vector>

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

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(header, HeaderSize) != HeaderSize || file.write(comment) != comment.size()) {
        file.cancelWriting();
        return false;
    }

    const qsizetype rowBytes = qsizetype(width) * bytesPerPixel;
    std::vector<char> row(static_cast<size_t>(rowBytes));
    const char *src = static_cast<const char *>(pixels);
    for (int y = 0; y < height; ++y, src += rowBytes) {
        if (bytesPerPixel == 2)
            qToLittleEndian<quint16>(src, width, row.data());
        else
            qToLittleEndian<quint32>(src, width, row.data());
        if (file.write(row.data(), rowBytes) != rowBytes) {
            file.cancelWriting();
            return false;
        }
    }
    return file.commit();
}
