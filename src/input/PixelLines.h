#pragma once

#include <QtEndian>

#include <cstring>
#include <type_traits>

// Row and column copies from a pixel block held in memory into a caller's buffer of doubles.
// Pixels are read with memcpy-sized loads, which the compiler turns into plain (and, for
// rows, vectorised) loads without alignment or aliasing assumptions about the block. Callers
// branch on the pixel kind once per line and land in one of these loops.

namespace PixelLines {

template <typename T, bool LittleEndianData> inline T load(const char *p)
{
    if constexpr (LittleEndianData && std::is_integral_v<T>) {
        return qFromLittleEndian<T>(p);
    } else {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
}

// `n` consecutive pixels starting at `src`.
template <typename T, bool LittleEndianData> inline void row(const char *src, int n, double *out)
{
    for (int x = 0; x < n; ++x)
        out[x] = double(load<T, LittleEndianData>(src + qsizetype(x) * qsizetype(sizeof(T))));
}

// `n` pixels starting at `src`, `stride` bytes apart.
template <typename T, bool LittleEndianData>
inline void column(const char *src, qsizetype stride, int n, double *out)
{
    for (int y = 0; y < n; ++y, src += stride)
        out[y] = double(load<T, LittleEndianData>(src));
}

} // namespace PixelLines
