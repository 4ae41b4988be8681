#include "ImgDataNxtomo.h"

#include "NxtomoFile.h"
#include "PixelLines.h"
#include "TextUtil.h"

#include <algorithm>

void ImgDataNxtomo::reset()
{
    ImgData::reset();
    single.clear();
    full.clear();
}

bool ImgDataNxtomo::readProps(const QString &f, int &w, int &h)
{
    w = h = 0;
    QString file, entry;
    DxchangeFile::Part part;
    int index = 0;
    if (!NxtomoFile::splitAddress(f, file, entry, part, index))
        return refuse(f, QStringLiteral("Not an image of an NXtomo file :"),
            QStringLiteral("not an NXtomo image"));
    NxtomoFile::Entry e;
    QString error;
    if (!NxtomoFile::inspect(file, entry, e, &error)) {
        logLine(error);
        failure = error;
        return false;
    }
    w = e.columns;
    h = e.rows;
    return true;
}

bool ImgDataNxtomo::openData(const QString &f)
{
    QString file, entry, error;
    DxchangeFile::Part part;
    int index = 0, rows = 0, columns = 0;
    bool exact = false;
    NxtomoFile::splitAddress(f, file, entry, part, index);
    if (!NxtomoFile::readImage(file, entry, part, index, full, rows, columns, exact, &error)) {
        full.clear();
        logLine(error);
        failure = error;
        return false;
    }
    if (rows != height || columns != width) {
        full.clear();
        return refuse(f, QStringLiteral("NXtomo file changed while it was read :"),
            QStringLiteral("file changed while it was read"));
    }
    if (exact) {
        single.assign(full.begin(), full.end());
        full = {};
    }
    return true;
}

double *ImgDataNxtomo::hLine(int y, double *out) const
{
    const size_t row = size_t(y) * size_t(width);
    if (y < 0 || y >= height || (single.empty() && full.empty()))
        std::fill_n(out, width, 0.0);
    else if (!single.empty())
        std::copy_n(single.data() + row, width, out);
    else
        std::copy_n(full.data() + row, width, out);
    return out;
}

double *ImgDataNxtomo::vLine(int x, double *out) const
{
    if (x < 0 || x >= width || (single.empty() && full.empty())) {
        std::fill_n(out, height, 0.0);
        return out;
    }
    for (int y = 0; y < height; ++y) {
        const size_t i = size_t(y) * size_t(width) + size_t(x);
        out[y] = single.empty() ? full[i] : double(single[i]);
    }
    return out;
}
