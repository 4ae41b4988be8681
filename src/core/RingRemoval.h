#pragma once

#include <vector>

// Removes the stripes that detector pixels of slightly different gain draw into a sinogram
// (rings in the slice). Such a pixel adds the same offset to the attenuation of its column at
// every angle. The correction is the column-offset correction of Raven (Rev. Sci. Instrum. 69,
// 2978, 1998) and Rivers (1998): estimate each column's offset from its departure from its
// neighbours and subtract it from the whole column; made robust with medians in the manner of
// the sorting-based stripe removal of Vo, Atwood and Drakopoulos (Opt. Express 26, 28396,
// 2018), so that the sample's own details, which cross a column at some angles only, do not
// move the offset:
// 1. evidence: the median over the angles of each column's departure from the mean of its two
//    neighbours, less its running median across the line (the sample's broad curvature), less
//    the same at the mirror column across the axis (a structure centred on the axis departs
//    alike on both sides, a stripe on one side only);
// 2. columns whose evidence stands out (beyond four robust standard deviations and 1/1000 of
//    the sinogram's range) are flagged, with one column more on either side;
// 3. each run of flagged columns no wider than a stripe of this level with its neighbours is
//    measured, angle by angle, against the cubic through the two untouched columns on either
//    side; the median over the angles is the column's offset, taken off only where the angles
//    agree with it (a spread like the mirror column's, or below twice the offset) and the
//    mirror column departs by less than half as much. A run where the mirror departs as much
//    is a stripe on a centred structure and is left whole: never made worse.
// Columns that are not flagged are not touched, so a sinogram without stripes stays as it is.
//
// `level` is the widest stripe removed, in samples (a one-pixel stripe spreads over two
// samples when the centre of rotation is not a whole pixel, so 2 is the smallest useful level
// there). 0 leaves the sinogram alone. One object per worker: buffers are kept between slices.
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
