#pragma once

#include "CtEngine.h"
#include "CtMethod.h"
#include "RingRemoval.h"

#include <memory>
#include <vector>

class CtBackProj;
class HSgm;
struct CtParams;

// The steps from a built sinogram to a reconstructed slice, the same for the single-slice
// panel, every worker and the tools: ring removal, the rows' own angles and weights, the
// engine of the run's method (made from the method table), its filter and size, then the
// slice. Callers word the failures: `prepare` says which step refused.
//
// One pipeline per thread, like its engine.
class SlicePipeline
{
public:
    enum class Step { Done, RingRemoval, Filter, Size, Angles };

    // The engine of `method`, made when the pipeline has none or one of another method (the
    // previous engine and its result are then freed).
    CtEngine &engineFor(CtMethod method);
    // The present engine, nullptr before the first engineFor.
    CtEngine *engine() const { return engine_.get(); }
    // The engine as a back-projection that adds the projections one at a time, when its
    // method does (CtMethodInfo::byRow); nullptr otherwise.
    CtBackProj *rowEngine() const;

    // Readies the slice in `sgm` (its raw rows filled by the sinogram builder) for the run's
    // parameter block `p` (nullptr: one common step, ramp filter, no ring removal, the
    // method `fallback`): removes the stripes, weights rows of their own angles, gives the
    // engine the filter, the size of the slice and the rows' angles, and divides by the
    // slice's rows. Anything but Done leaves the engine without a valid result.
    Step prepare(HSgm &sgm, const CtParams *p, CtMethod fallback = CtMethod::Fbp);
    // The angle of row 0 and the step between rows (radians) of the run's common step.
    static void commonStep(const CtParams &p, double *angle0, double *dAngle);
    // The whole slice into the region x0 <= x < x1, z0 <= z < z1 after prepare; Angles when
    // the engine refuses it (angles that are not numbers).
    Step reconstruct(const HSgm &sgm, double x0, double x1, double z0, double z1, double angle0,
        double dAngle);

    // The rows' own angles of the prepared slice, empty for a common step. The engine reads
    // them while the slice is made: they stay until the next prepare.
    const std::vector<double> &angles() const { return angles_; }

private:
    std::unique_ptr<CtEngine> engine_;
    RingRemoval rings_;
    std::vector<double> angles_;
};
