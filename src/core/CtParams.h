#pragma once

#include "CtFilter.h"
#include "CtMethod.h"

#include <QString>

#include <vector>

class HSgm;

// The reconstruction parameter block. The main window fills it from the process control
// panel at every run start (and then replaces the three data-file numbers); the single-slice
// panel and every worker read it. Workers on other threads read it without copying, which is
// safe only because nobody writes it while a run uses it.
struct CtParams
{
    bool calcCt1 = true;
    bool calcCt2 = false;
    bool rotAxIsV = false;
    int slice = 1000;
    double cor = 1000.0;
    double recCor1 = 0.0;
    double recCor2 = 0.0;
    int recSlice1 = -1; // -1: the record is empty
    int recSlice2 = -1;
    double angleOriginDeg = 0.0;
    int dataSetImages = 0;
    double dataSetRangeDeg = 180.0;
    int usingImages = 0;
    int startImageNo = 0;
    bool sliceRange = false;
    int sliceFrom = 0;
    int sliceTo = 2047;
    int sliceStep = 1; // negative when sliceTo < sliceFrom
    int threads = 1;
    int nextSlice = 0;
    double upperLimit = 10.0;
    double lowerLimit = -10.0;
    double dataOffset = 10.0;
    // Whether usingImages and startImageNo select a partial data set: the workers build their
    // sinograms from this run's settings, the ones their angles come from, even when the
    // panel is edited while the run goes on.
    bool usePartialDataSet = false;
    // Filter of every projection.
    CtFilterKind filter = CtFilterKind::Ramp;
    // How the workers reconstruct each slice.
    CtMethod method = CtMethod::Fbp;
    // Stripe (ring) removal on every sinogram before filtering: the widest stripe removed, in
    // samples; 0 = off.
    int ringRemoval = 0;
    // The angle of each image of the set in degrees, for projections that were not taken at
    // one common step (an HDF5 file's theta); empty: the images are dataSetRangeDeg /
    // dataSetImages apart.
    std::vector<double> imageAnglesDeg;
    // Float results (TIFF slices) are written as value * floatScale, in floatUnit (empty: the
    // values as computed, 2 mu per pixel).
    double floatScale = 1.0;
    QString floatUnit;
};

// The angle (radians) of each of the `rows` rows of a slice's sinogram for a set with angles
// of its own, empty for one common step. Row i comes from image (startImageNo + i) mod
// dataSetImages and is turned by that image's angle from the first image's, plus the angle
// origin, plus the data-set range for each time the rows wrap past the end of the set: for
// evenly spread angles the common step's angles.
std::vector<double> rowAnglesOf(const CtParams &p, int rows);

// The weight of each row at its own angle (radians, as rowAnglesOf gives them) in a set that
// covers `rangeRad` (negative for a descending set): half the angle to its neighbours on
// either side (sorted round the range, whatever the order of the rows) over the mean step, so
// that a projection taken where the others are sparse counts for the angle it stands for.
// Each of the two angles counts at most the set's usual step there: the larger of the medians
// of the three steps before and of the three steps after it, so that the images at the edges of
// a gap do not stand for the gap, while a part of the set taken at a coarser step keeps its
// share. All 1 for evenly spread angles; empty (no weighting) for fewer than two rows or no
// range.
std::vector<double> rowWeightsOf(const std::vector<double> &angles, double rangeRad);

// Applies rowWeightsOf to the attenuation rows of `sgm` for a set with angles of its own,
// when the slice uses every image of the set (a partial set keeps equal weights, as with the
// common step). Does nothing for empty `angles`.
void weightRows(HSgm &sgm, const CtParams &p, const std::vector<double> &angles);
