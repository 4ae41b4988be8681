#include "ImgData.h"

#include "DxchangeFile.h"
#include "ImgDataHdf5.h"
#include "ImgDataITEX.h"
#include "ImgDataTiff.h"
#include "TextUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <limits>
#include <new>

ImgData::~ImgData() = default;

void ImgData::reset()
{
    ready = false;
    expTime = 1.0;
    width = height = 0;
    minMaxValid = false;
    min = max = 0;
}

namespace {

// First two bytes of the file, or an empty array when it cannot be opened (reported with
// `failText`) or is shorter than two bytes.
QByteArray fileMark(const QString &path, const char *failText)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        logLine(QString::fromLatin1(failText), path);
        return QByteArray();
    }
    return f.read(2);
}

} // namespace

int ImgData::fileType(const QString &path)
{
    // "FILE#i", "FILE#white", "FILE#dark": an image of a DXchange HDF5 file, checked by its
    // reader (which names the file and the dataset when something is wrong).
    if (ImgDataTiff::isPageAddress(path))
        return 1;
    QString file;
    DxchangeFile::Part part;
    int index = 0;
    if (DxchangeFile::splitAddress(path, file, part, index) && QFileInfo(file).isFile())
        return 3;
    if (isITEX(path))
        return 0;
    if (isTIFF(path))
        return 1;
    logLine(QStringLiteral("Unknown file type : "), path);
    return 2;
}

bool ImgData::isITEX(const QString &path)
{
    return fileMark(path, "Check File Type (ITEX):: Can not open") == "IM";
}

bool ImgData::isTIFF(const QString &path)
{
    const QByteArray mark = fileMark(path, "Check File Type (TIFF):: Can not open");
    return mark == "II" || mark == "MM";
}

ImgData *ImgData::create(int type)
{
    ImgData *d = nullptr;
    if (type == 0)
        d = new ImgDataITEX;
    else if (type == 1)
        d = new ImgDataTiff;
    else if (type == 3)
        d = new ImgDataHdf5;
    if (d)
        d->reset();
    return d;
}

thread_local QString *ImgData::lastRefusal = nullptr;

bool ImgData::refuse(const QString &f, const QString &text, const QString &reason)
{
    // While a set is listed, a run of files refused for one reason gives one line; the set
    // counts the others.
    if (!lastRefusal || *lastRefusal != text)
        logLine(text, f);
    if (lastRefusal)
        *lastRefusal = text;
    failure = reason;
    return false;
}

bool ImgData::load()
{
    ready = false;
    failure.clear();
    try {
        if (!readProps(fileName, width, height)) {
            if (failure.isEmpty())
                failure = QStringLiteral("no image size in the header");
            return false;
        }
        minMaxValid = false;
        keptX = keptY = 0;
        keptWidth = width;
        keptHeight = height;
        if (!window.whole() && keepsWindow()) {
            keptX = std::clamp(window.x, 0, width);
            keptY = std::clamp(window.y, 0, height);
            keptWidth = std::clamp(window.width, 0, width - keptX);
            keptHeight = std::clamp(window.height, 0, height - keptY);
        }
        if (!openData(fileName)) {
            logLine(QStringLiteral("Can not open ImgData"), fileName);
            if (failure.isEmpty())
                failure = QStringLiteral("pixels could not be read");
            return false;
        }
        hBuf.assign(size_t(width), 0.0);
        vBuf.assign(size_t(height), 0.0);
    } catch (const std::bad_alloc &) {
        reset();
        hBuf = {};
        vBuf = {};
        return refuse(fileName, QStringLiteral("Not enough memory for the image"),
            QStringLiteral("not enough memory"));
    }
    ready = true;
    return true;
}

qsizetype ImgData::keptRowStart(int y, double *out) const
{
    if (y < keptY || y >= keptY + keptHeight) {
        std::fill_n(out, width, 0.0);
        return -1;
    }
    std::fill_n(out, keptX, 0.0);
    std::fill(out + keptX + keptWidth, out + width, 0.0);
    return qsizetype(y - keptY) * keptWidth;
}

qsizetype ImgData::keptColumnStart(int x, double *out) const
{
    if (x < keptX || x >= keptX + keptWidth) {
        std::fill_n(out, height, 0.0);
        return -1;
    }
    std::fill_n(out, keptY, 0.0);
    std::fill(out + keptY + keptHeight, out + height, 0.0);
    return qsizetype(x - keptX);
}

bool ImgData::readKept(QIODevice &file, qint64 offset, int bytesPerPixel, char *dst) const
{
    const qint64 rowBytes = qint64(width) * bytesPerPixel;
    const qint64 keptRowBytes = qint64(keptWidth) * bytesPerPixel;
    const qint64 start = offset + qint64(keptY) * rowBytes + qint64(keptX) * bytesPerPixel;
    if (keptWidth == width) {
        const qint64 bytes = keptRowBytes * keptHeight;
        return file.seek(start) && file.read(dst, bytes) == bytes;
    }
    for (int r = 0; r < keptHeight; ++r) {
        if (!file.seek(start + r * rowBytes)
            || file.read(dst + r * keptRowBytes, keptRowBytes) != keptRowBytes)
            return false;
    }
    return true;
}

void ImgData::minMax(double &mn, double &mx)
{
    if (!minMaxValid) {
        if (!ready) {
            mn = mx = 0;
            return;
        }
        double lo = std::numeric_limits<double>::max();
        double hi = -lo;
        double *row = hBuf.data();
        for (int y = 0; y < height; ++y) {
            hLine(y, row);
            for (int x = 0; x < width; ++x) {
                lo = row[x] < lo ? row[x] : lo;
                hi = row[x] > hi ? row[x] : hi;
            }
        }
        min = lo;
        max = hi;
        minMaxValid = true;
    }
    mn = min;
    mx = max;
}
