#pragma once

#include "DetectorLines.h"

#include <QString>

#include <vector>

class HSgm;
class ImgDatas;

// The partial-data-set settings as the sinogram builder needs them.
struct PartialDataSet
{
    bool enabled = false;
    int startImageNo = 0;
    int usingImages = 180;
};

// Which images of the set make the rows of a sinogram: row i comes from image
// (first + i) mod count, so a partial data set may wrap around the end of the list.
struct ProjectionSelection
{
    int first = 0;
    int rows = 0;
};

// `count` images; with the partial data set enabled the first image is startImageNo
// (0 when outside the list) and the row count the magnitude of usingImages.
ProjectionSelection selectProjections(int count, bool partial, int startImageNo, int usingImages);

// Fills `hSgm` from the lines of `lines`, resampled around `cor`: the raw intensities
// and the attenuation ln((I0 - BG) / (I - BG)), a non-positive difference counting as
// 1. With hSgm.mendDeadPixels, mendDeadPixels first. A centre with floor(cor) <= 0 or
// ceil(cor) >= L, a centre that is not a number, or
// a slice outside the image leaves `hSgm` untouched and returns false. Safe to call from
// several threads at once on different records.
bool buildSinogram(HSgm &hSgm, const DetectorLines &lines, const ProjectionSelection &selection,
    bool rotAxIsV, double cor, int slice);

// Dead or saturated detector pixels of one detector line: `all` holds `rows` projection lines
// of `length` raw readings, row-major; `i0` and `bg` the I0 and BG lines (empty: none). A pixel
// that reads the dark level (within 2 % of the open beam above the background) or the largest
// reading of all (when that lies well above the open beam) in most projections is replaced in
// every line, I0 and BG included, by the straight line between its nearest good neighbours;
// `mended` lists those pixels. Nothing is replaced when most of the line would be.
void mendDeadPixels(double *all, int rows, int length, std::vector<double> &i0,
    std::vector<double> &bg, std::vector<int> &mended);

// The same from a projection image set with the partial-data-set settings: what the
// sinogram panel and every reconstruction worker call.
bool buildSinogram(HSgm &hSgm, const ImgDatas &set, const PartialDataSet &partial, bool rotAxIsV,
    double cor, int slice);

// Why `lines` give no sinogram of `slice` around `cor` (the reasons buildSinogram refuses, and
// an empty set or a window too narrow to reconstruct): a text naming the numbers, empty when
// the sinogram can be built.
QString sinogramRefusal(const DetectorLines &lines, bool rotAxIsV, double cor, int slice);

// Records that `slice` was not reconstructed, with the reason the set's lines give (`set` may
// be null: the reason is then the general one).
void recordSliceRefused(const ImgDatas *set, bool rotAxIsV, double cor, int slice);

// Logs the detector pixels the builder mended for `slice`: one line for a set of pixels, not
// one per slice, since the same pixels are dead on every line of a detector column.
void logMendedPixels(const std::vector<int> &pixels, int slice);
