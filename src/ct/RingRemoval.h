#pragma once

#include <vector>

// Removes the stripes that detector pixels of slightly different gain draw into a sinogram
// (rings in the slice). A pixel with another gain adds the same offset to the attenuation of
// its column at every angle, so each column's offset is estimated as the median, over all
// angles, of the column's difference from a running median across the detector line, and
// subtracted from the whole column:
//   o(c) = median_theta [ s(theta, c) - median_{|k| <= L} s(theta, c + k) ],
//   s(theta, c) -= o(c).
// This is the column-offset correction of Rivers (1998) and Raven (Rev. Sci. Instrum. 69,
// 2978, 1998), made robust as in the sorting-based stripe removal of Vo, Atwood and
// Drakopoulos (Opt. Express 26, 28396, 2018): medians instead of means in both directions,
// so that the sample's own features, which cross a column only at some angles, do not move
// its offset. Only a feature that stays on the same column at more than half of the angles
// (a detail narrower than the window sitting on the axis) is taken for a stripe.
//
// `level` L is the half width of the window across the line: stripes up to L samples wide
// are removed (a one-pixel stripe spreads over two samples when the centre of rotation is
// not a whole pixel, so 2 is the smallest useful level there). 0 leaves the sinogram alone.
// One object per worker: the buffers are kept between slices.
class RingRemoval
{
public:
    static constexpr int maxLevel = 20;

    // Corrects the h rows of w samples at `rows` (row-major, row i at rows + i * w) in place.
    // False, and the rows unchanged, when the buffers cannot be had; levels above maxLevel
    // count as maxLevel.
    bool apply(double *rows, int w, int h, int level);

private:
    std::vector<double> residual_; // w x h, column-major: one column's h values together
    std::vector<double> window_; // the sorted window across the line
    std::vector<double> median_; // the running median of one row, then the offsets
    std::vector<double> offset_; // each column's departure from its neighbours
    std::vector<double> spread_; // scratch for the noise level of the departures
};
