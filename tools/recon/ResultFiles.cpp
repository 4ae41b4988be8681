#include "ResultFiles.h"

#include "CtTiffData.h"
#include "PngFile.h"
#include "SaveNaming.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <vector>

QStringList ResultFiles::of(const QString &tag, int slice) const
{
    const QString no = saveSliceNo(slice);
    QStringList exts;
    if (data)
        exts << QStringLiteral("dat");
    if (pictures)
        exts << QStringLiteral("png");
    if (tiff)
        exts << QStringLiteral("tif");
    QStringList files;
    for (const QString &folder :
        saveFolders(outDir, tag, no, perEnergyFolders, perEnergyFolders, false)) {
        for (const QString &ext : std::as_const(exts))
            files << joinSaveFolder(folder, saveFileName(name, tag, no, ext));
    }
    return files;
}

namespace {

// A CT image data file holds, after its six header lines, one line per pixel of the region the
// header names (x from trunc(sx) to ceil(ex), z likewise, row by row): every one must be
// there, the last one being that of the region's last pixel.
bool completeData(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = f.readAll();
    if (!text.startsWith("#VEXA-CTImg\n") || !text.endsWith('\n'))
        return false;
    const qsizetype at = text.indexOf("\n# sx,sy, ex,ey   : ");
    if (at < 0)
        return false;
    const qsizetype from = at + 20;
    const QList<QByteArray> corners = text.mid(from, text.indexOf('\n', from) - from).split('\t');
    if (corners.size() != 4)
        return false;
    double c[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        c[i] = corners.at(i).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(c[i]))
            return false;
    }
    const qint64 xFirst = qint64(std::trunc(c[0])), zFirst = qint64(std::trunc(c[1]));
    const qint64 xLast = qint64(std::ceil(c[2])), zLast = qint64(std::ceil(c[3]));
    const qint64 points
        = xLast < xFirst || zLast < zFirst ? 0 : (xLast - xFirst + 1) * (zLast - zFirst + 1);
    const qint64 lines = text.count('\n');
    if (lines != 6 + points)
        return false;
    if (points == 0)
        return true;
    const qsizetype lastStart = text.lastIndexOf('\n', text.size() - 2) + 1;
    const QList<QByteArray> last = text.mid(lastStart, text.size() - 1 - lastStart).split('\t');
    if (last.size() != 3)
        return false;
    bool xOk = false, zOk = false, vOk = false;
    const qint64 x = last.at(0).toLongLong(&xOk);
    const qint64 z = last.at(1).toLongLong(&zOk);
    last.at(2).toDouble(&vOk);
    return xOk && zOk && vOk && x == xLast && z == zLast;
}

} // namespace

bool ResultFiles::complete(const QString &path)
{
    const QFileInfo fi(path);
    if (!fi.isFile() || fi.size() == 0)
        return false;
    if (path.endsWith(QLatin1String(".dat")))
        return completeData(path);
    if (path.endsWith(QLatin1String(".tif"))) {
        // Decoded whole: a file cut short fails on its last strips.
        std::vector<float> pixels;
        int w = 0, h = 0;
        return CtTiffData::read(path, pixels, w, h);
    }
    return PngFile::decodes(path);
}
