#include "ImgDatasLines.h"

#include "ImgData.h"
#include "ImgDatas.h"

#include <algorithm>
#include <vector>

ImgDatasLines::ImgDatasLines(const ImgDatas &set, bool rotAxIsV)
    : set_(set)
    , rotAxIsV_(rotAxIsV)
{ }

int ImgDatasLines::lineLength() const
{
    return rotAxIsV_ ? set_.width : set_.height;
}

int ImgDatasLines::lineCount() const
{
    return rotAxIsV_ ? set_.height : set_.width;
}

int ImgDatasLines::imageCount() const
{
    return set_.count();
}

bool ImgDatasLines::usable(const ImgData *reader) const
{
    // An I0 or BG image of another size than the set would not fit the line buffers.
    return reader != nullptr && reader->ready && reader->width == set_.width
        && reader->height == set_.height;
}

void ImgDatasLines::readLine(const ImgData *reader, int slice, double *out) const
{
    if (rotAxIsV_)
        reader->hLine(slice, out);
    else
        reader->vLine(slice, out);
}

void ImgDatasLines::readProjection(int image, int slice, double *out) const
{
    const ImgData *reader = set_.at(image);
    if (usable(reader))
        readLine(reader, slice, out);
    else
        std::fill(out, out + std::max(lineLength(), 0), 0.0);
}

bool ImgDatasLines::readI0(int slice, double *out) const
{
    const ImgData *reader = set_.i0 != nullptr ? *set_.i0 : nullptr;
    if (!usable(reader))
        return false;
    readLine(reader, slice, out);
    const double s = set_.i0Scale;
    if (s == 1.0)
        return true; // the line as measured, to the last bit
    // The beam follows the ring current, the detector's dark background does not: only the
    // counts above the background scale.
    const int n = std::max(lineLength(), 0);
    std::vector<double> bg(size_t(n), 0.0);
    readBg(slice, bg.data());
    for (int j = 0; j < n; ++j)
        out[j] = bg[size_t(j)] + s * (out[j] - bg[size_t(j)]);
    return true;
}

bool ImgDatasLines::readBg(int slice, double *out) const
{
    const ImgData *reader = set_.bg != nullptr ? *set_.bg : nullptr;
    if (!usable(reader))
        return false;
    readLine(reader, slice, out);
    return true;
}
