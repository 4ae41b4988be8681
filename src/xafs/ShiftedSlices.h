#pragma once

#include <QString>

#include <array>
#include <functional>
#include <vector>

// The slices of one volume translated by a sub-pixel shift (slices, rows, columns), made one
// at a time by separable cubic convolution (Keys, a = -0.5) from the four source slices round
// each, so that a volume of any size is shifted with six slices in memory. Slices are asked
// for in ascending order; voxels brought in from outside the volume are 0. A whole-pixel shift
// moves the values unchanged.
class ShiftedSlices
{
public:
    // Reads source slice s (0 ... slices - 1), rows x cols floats, into `out`.
    using Reader = std::function<bool(int s, float *out, QString *error)>;

    ShiftedSlices(
        int slices, int rows, int cols, const std::array<double, 3> &shift, Reader reader);

    // out(s, y, x) = in(s - shift[0], y - shift[1], x - shift[2]).
    bool slice(int s, float *out, QString *error);

    // Memory the shifting of one volume holds, in bytes.
    static qint64 bytesNeeded(int rows, int cols);

private:
    struct Taps
    {
        int first = 0; // source index of the first of four taps for output index 0
        std::array<float, 4> w {};
        bool identity = false;
    };
    static Taps tapsFor(double shift);
    const float *source(int s, QString *error, bool *ok);
    void shiftLines(const float *in, float *out, int lines, int length, int stride, int step,
        const Taps &t) const;

    int slices, rows, cols;
    Taps tz, ty, tx;
    Reader read;
    std::array<int, 4> cachedIndex { -1, -1, -1, -1 };
    std::array<std::vector<float>, 4> cache;
    std::vector<float> zero, tmp, tmp2;
};
