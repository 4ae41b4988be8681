#pragma once

#include "CtFilter.h"
#include "CtMethod.h"

class ImgDatas;
struct CtParams;

// The settings of a run as the window's process control panel keeps them, and the parameter
// block filled from them as the panel fills it at the start of a run, so that the tool's
// numbers are the window's. The angular range and origin are kept as the panel's fields keep
// them: to six significant digits.
class RunParams
{
public:
    CtMethod method = CtMethod::Fbp;
    CtFilterKind filter = CtFilterKind::RampPadded;
    int ringRemoval = 0;
    bool rotAxIsV = false;
    int slice = 0; // the slice the centre of rotation is guessed on
    double cor = 0;
    int images = 0; // of the loaded set
    // The run's slices and workers, for the record in the parameter block.
    int sliceFrom = 0, sliceTo = 0, sliceStep = 1, threads = 1;

    void setRangeDeg(double deg) { range = asField(deg); }
    double rangeDeg() const { return range; }
    void setOriginDeg(double deg) { origin = asField(deg); }
    double originDeg() const { return origin; }

    // The block of a slice-range run on the workers; the value limits, offset, angles of
    // their own and float scale are the caller's to set.
    void fill(CtParams &p) const;

    // The centre of rotation guessed on `slice` of `images` from the present `cor` on, over
    // `fraction` of the detector line (as the sinogram panel's "Guess"); false, `cor` left
    // alone, when the set gives none.
    bool guessCor(const ImgDatas &images, double fraction);

private:
    // A number as a field of the panel holds it: six significant digits, 0 for text that
    // does not read back as a number.
    static double asField(double v);

    double range = 180.0;
    double origin = 0.0;
};
