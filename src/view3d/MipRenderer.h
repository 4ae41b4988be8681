#pragma once

#include "Vec3.h"

#include <QColor>
#include <QImage>

#include <vector>

// The voxels of one slice set as the renderer reads them: `slices[j]` points to the
// row-major sw x sh values of slice j.
struct MipVolume
{
    int sw = 0;
    int sh = 0;
    std::vector<const double *> slices;
    // Optional: the smallest and largest value of each slice. With them the renderer skips
    // slices that have nothing inside the threshold window and stops a row of rays once
    // the slices still ahead cannot raise its maxima.
    std::vector<double> sliceMin;
    std::vector<double> sliceMax;
    // Optional, for sets whose values are all whole numbers 0 ... 255 (pictures): the same
    // values as bytes, `bytes[j]` for slice j. The renderer then reads these (an eighth of
    // the memory traffic) and gives the same picture.
    std::vector<const unsigned char *> bytes;
    // Optional, for other sets: the grey level of every value for the threshold window
    // greyThLow ... greyThHigh (see MipRenderer::greyLevels), `greyLevels[j]` for slice j.
    // For that window the renderer finds each ray's brightest level from these bytes and
    // reads the values of the samples at that level alone: the same picture from far less
    // memory traffic.
    std::vector<const unsigned char *> greyLevels;
    double greyThLow = 0;
    double greyThHigh = 0;

    int ss() const { return int(slices.size()); }
};

// Orientation and placement of the picture: nx along picture columns, ny along picture rows,
// nz the ray direction; `off` is the volume point at the picture centre and `scale` the volume
// units per picture pixel.
struct MipView
{
    Vec3 nx { 1, 0, 0 };
    Vec3 ny { 0, 1, 0 };
    Vec3 nz { 0, 0, 1 };
    Vec3 off;
    double scale = 1;
};

// How one set is coloured: the threshold window, the cutting plane P.csNormal = cutB (the
// part with P.csNormal >= cutB removed when `cut` is on) and the colours.
struct MipStyle
{
    double thLow = 0;
    double thHigh = 1;
    bool cut = false;
    double cutB = 0;
    Vec3 csNormal;
    QColor vColor { 0, 127, 127 };
    QColor sColor { 127, 0, 0 };
    int alpha = 255;
};

// Maximum-intensity projection of a slice set: one ray per picture pixel, sampled where it
// crosses each slice (nearest pixel), values mapped through the threshold window onto
// 0 ... 255 (outside the window they vanish), the largest along the ray coloured on a
// white-to-colour ramp. With the cutting plane on, samples beyond the plane are dropped and
// a ray that meets the plane within one unit takes the section colour instead. A view along
// the slices (nz.z = 0, or within 1e-9 of it) meets no slice and shows nothing.
class MipRenderer
{
public:
    // Writes pw x ph pixels, row by row, into `out` (ARGB32, not premultiplied): the colour
    // with the style's alpha where something is drawn, 0 elsewhere. `threads` 0 lets the
    // renderer choose.
    static void render(const MipVolume &vol, const MipView &view, const MipStyle &style, int pw,
        int ph, QRgb *out, int threads = 0);
    static QImage renderImage(
        const MipVolume &vol, const MipView &view, const MipStyle &style, int pw, int ph);

    // Colour of value v (0 ... 255) on the ramp from white (0) to `colour` (255).
    static QRgb rampColour(const QColor &colour, double v, int alpha);
    // Grey value 0 ... 255 of a voxel value in the window between thLow and thHigh (0 at
    // thLow, in either order), 0 outside it.
    static double windowed(double value, double thLow, double thHigh);

    // The grey level of each of n values for a threshold window: 0 where the grey value is 0
    // (outside the window, or at its lower end), else its whole part, at least 1. Levels
    // never fall as grey values rise.
    static void greyLevels(
        const double *values, size_t n, double thLow, double thHigh, unsigned char *out);

    // Lambert shading of a rendered layer (ARGB32) seen as a relief: each drawn pixel's height
    // is its ramp value, how far its colour lies from white (0 ... 1, from its palest
    // channel's fall); its normal comes from the heights' central differences times `relief`
    // (a pixel outside the picture or not drawn counts as height 0); the light falls from the
    // viewer's upper left, l = (-1, -1, 1) / sqrt 3 with x right, y down and z toward the
    // viewer. A drawn pixel's colour is multiplied by ambient + (1 - ambient) max(0, n.l);
    // alpha and undrawn pixels stay. Edges and slopes of the maximum-intensity picture then
    // show their shape.
    static void shade(QImage &layer, double relief = 4.0, double ambient = 0.35);

    // The instruction set the ray loop runs with on this machine: "avx512", "avx2" or
    // "portable".
    static const char *pathName();
};
