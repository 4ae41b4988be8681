#pragma once

#include <vector>

// Removes the stripes that detector pixels of slightly different gain draw into a sinogram
// (rings in the slice). Such a pixel adds the same offset to the attenuation of its column at
// every angle; the sample's own structure changes from angle to angle, except where it is
// round and centred on the axis. The correction is the column-offset correction of Raven
// (Rev. Sci. Instrum. 69, 2978, 1998) and Rivers (1998), with medians over the angles in the
// manner of Vo, Atwood and Drakopoulos (Opt. Express 26, 28396, 2018):
// 1. candidates: the median over the angles of each column (a stripe keeps its offset there,
//    the sample's details, which cross a column at some angles only, drop out), less the
//    parabola through the neighbours' medians (2 level + 4 of them; its curvature, slope and
//    height are medians, so that a band among them does not move it), less the running median
//    of that over twice the width; columns where this stands out (beyond four robust standard
//    deviations and 2/10000 of the sinogram's range) are grown by one column on either side
//    into runs.
// 2. measure: each run no wider than level + 4 is bridged, angle by angle, by the cubic
//    through the two columns on either side of it; a column's offset is the median over the
//    angles of its departure from the bridge, its scatter the robust spread of that departure.
// 3. decide: a run is corrected where a column of it stands out (beyond five standard errors
//    of a median over the angles and 2/10000 of the range) and every such column is
//    - the same at every angle: its offset beyond three times the part of the scatter that
//      the noise does not explain (the noise of a departure is worked out from the second
//      differences of the rows and the bridge's weights);
//    - the same against a bridge two columns further out, within a quarter and the noise
//      (where the sample's profile bends, a bridge misses it, and a longer one misses it more);
//    - on one side of the axis: the mirror column across the axis, bridged the same way,
//      departs by less than half as much (the row is sampled symmetrically around the axis,
//      and a structure centred on it departs alike on both sides).
//    Then the run's columns whose offset is beyond two standard errors lose it (the edges of
//    a split stripe carry a share of it). A run with a column that stands out but fails is left
//    whole: never made worse.
// Columns not corrected are not touched, so a sinogram without stripes stays bit for bit.
//
// `level` is the widest stripe (band of neighbouring columns) removed, in samples (a
// one-pixel stripe spreads over two samples when the centre of rotation is not a whole
// pixel, so 2 is the smallest useful level there). 0 leaves the sinogram alone. One object
// per worker: buffers are kept between slices.
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
    std::vector<double> offset_; // each column's median departure, then the candidates
    std::vector<double> spread_; // each column's scatter, then scratch
    std::vector<double> scratch_; // h values of one column's departures
};
