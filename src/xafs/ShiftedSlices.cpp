#include "ShiftedSlices.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Keys' cubic convolution kernel with a = -0.5 (Catmull-Rom).
double keys(double t)
{
    t = std::abs(t);
    if (t < 1)
        return (1.5 * t - 2.5) * t * t + 1;
    if (t < 2)
        return ((-0.5 * t + 2.5) * t - 4) * t + 2;
    return 0;
}

} // namespace

ShiftedSlices::ShiftedSlices(
    int slices, int rows, int cols, const std::array<double, 3> &shift, Reader reader)
    : slices(slices)
    , rows(rows)
    , cols(cols)
    , tz(tapsFor(shift[0]))
    , ty(tapsFor(shift[1]))
    , tx(tapsFor(shift[2]))
    , read(std::move(reader))
{ }

qint64 ShiftedSlices::bytesNeeded(int rows, int cols)
{
    return 7 * qint64(rows) * cols * qint64(sizeof(float));
}

ShiftedSlices::Taps ShiftedSlices::tapsFor(double shift)
{
    // Output index i reads source position p = i - shift = i + first + 1 + t, taps at
    // floor(p) - 1 ... floor(p) + 2.
    Taps t;
    const double f = std::floor(-shift);
    const double frac = -shift - f;
    t.first = int(f) - 1;
    for (int j = 0; j < 4; ++j)
        t.w[size_t(j)] = float(keys(frac - (j - 1)));
    t.identity = frac == 0.0;
    return t;
}

const float *ShiftedSlices::source(int s, QString *error, bool *ok)
{
    *ok = true;
    if (s < 0 || s >= slices) {
        if (zero.empty())
            zero.assign(size_t(rows) * cols, 0.0f);
        return zero.data();
    }
    for (size_t i = 0; i < 4; ++i) {
        if (cachedIndex[i] == s)
            return cache[i].data();
    }
    // Slices are asked for in ascending order: the lowest cached one is needed no more.
    const size_t slot
        = size_t(std::min_element(cachedIndex.cbegin(), cachedIndex.cend()) - cachedIndex.cbegin());
    cache[slot].resize(size_t(rows) * cols);
    cachedIndex[slot] = -1;
    if (!read(s, cache[slot].data(), error)) {
        *ok = false;
        return nullptr;
    }
    cachedIndex[slot] = s;
    return cache[slot].data();
}

void ShiftedSlices::shiftLines(
    const float *in, float *out, int lines, int length, int stride, int step, const Taps &t) const
{
    // `lines` lines of `length` samples; sample i of line l at l * stride + i * step.
    for (int l = 0; l < lines; ++l) {
        const float *src = in + size_t(l) * stride;
        float *dst = out + size_t(l) * stride;
        for (int i = 0; i < length; ++i) {
            float v = 0;
            for (int j = 0; j < 4; ++j) {
                const int k = i + t.first + j;
                if (k >= 0 && k < length)
                    v += t.w[size_t(j)] * src[size_t(k) * step];
            }
            dst[size_t(i) * step] = v;
        }
    }
}

bool ShiftedSlices::slice(int s, float *out, QString *error)
{
    const size_t area = size_t(rows) * cols;
    tmp.resize(area);
    tmp2.resize(area);
    bool ok = true;
    if (tz.identity) {
        const float *src = source(s + tz.first + 1, error, &ok);
        if (!ok)
            return false;
        std::memcpy(tmp.data(), src, area * sizeof(float));
    } else {
        std::fill(tmp.begin(), tmp.end(), 0.0f);
        for (int j = 0; j < 4; ++j) {
            const float w = tz.w[size_t(j)];
            if (w == 0.0f)
                continue;
            const float *src = source(s + tz.first + j, error, &ok);
            if (!ok)
                return false;
            for (size_t i = 0; i < area; ++i)
                tmp[i] += w * src[i];
        }
    }
    // Rows (along y): each output row a weighted sum of four whole source rows.
    for (int y = 0; y < rows; ++y) {
        float *dst = tmp2.data() + size_t(y) * cols;
        std::fill(dst, dst + cols, 0.0f);
        for (int j = 0; j < 4; ++j) {
            const int k = y + ty.first + j;
            const float w = ty.w[size_t(j)];
            if (k < 0 || k >= rows || w == 0.0f)
                continue;
            const float *src = tmp.data() + size_t(k) * cols;
            for (int x = 0; x < cols; ++x)
                dst[x] += w * src[x];
        }
    }
    // Columns (along x): `rows` lines of `cols` contiguous samples.
    shiftLines(tmp2.data(), out, rows, cols, cols, 1, tx);
    return true;
}
