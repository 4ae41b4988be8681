#pragma once

#include "CtImageData.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Real slice files for the 3D viewer's tests, written the way the program writes them.
namespace v3test {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A CT image data file of a w x h slice whose pixel (x, y) holds value(x, y), written as a
// run writes it (with the data offset of 10 added); the file's region starts at column x0,
// row y0 of a result large enough to hold it.
inline QString writeCtSlice(const QString &dir, const QString &name, int w, int h,
    const std::function<double(int, int)> &value, int x0 = 0, int y0 = 0)
{
    const int cols = x0 + w;
    const int rows = y0 + h;
    std::vector<double> result(size_t(cols) * size_t(rows), 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            result[size_t(y0 + y) * size_t(cols) + size_t(x0 + x)] = value(x, y);
    const QString path = QDir(dir).filePath(name);
    writeFile(path,
        makeCtImageData(result.data(), rows, cols, x0, y0, x0 + w, y0 + h, -1e300, 1e300, 10.0));
    return path;
}

// ss slices of w x h, slice j holding value(x, y, j), as numbered CT image data files.
inline QStringList writeCtVolume(
    const QString &dir, int w, int h, int ss, const std::function<double(int, int, int)> &value)
{
    QStringList files;
    for (int j = 0; j < ss; ++j)
        files << writeCtSlice(dir, QString("slice%1.dat").arg(j, 5, 10, QChar('0')), w, h,
            [&](int x, int y) { return value(x, y, j); });
    return files;
}

} // namespace v3test
