#pragma once

#include "HSgm.h"
#include "SlicePipeline.h"

#include <functional>
#include <vector>

struct CtParams;

// One slice reconstructed at a range of centres of rotation, so that the centre can be judged
// by eye (the joins of a wrong centre show as arcs and doubled edges) or by its total
// variation, least at the right centre. Each slice is made as the single-slice panel makes it "At
// Once": the sinogram around that centre, ring removal, row weights, then the method and filter of
// the parameters, over the whole n x n square. Runs on the thread that made it (FFTW plans are made
// here).
class CorSweep
{
public:
    // Fills `sgm` with the slice's sinogram around `cor`; false when there is none.
    using SinogramFn = std::function<bool(HSgm &sgm, double cor)>;

    struct Slice
    {
        double cor = 0;
        int n = 0; // the slice is n x n
        std::vector<double> values;
        double variation = 0; // totalVariation of the slice
    };

    // More would be a slip of the step, not a sweep anyone flips through.
    static constexpr int MaxSlices = 500;

    // from, from + step, ... up to `to` (included within a thousandth of a step); `step` may be
    // given without its sign. Empty when a number is not finite, the step is 0 or the range
    // would hold more than MaxSlices centres.
    static std::vector<double> cors(double from, double to, double step);

    // The slice at `cor` into `out`; false when the sinogram cannot be built or memory fails.
    bool reconstruct(const SinogramFn &sinogram, const CtParams &p, double cor, Slice &out);

    // Total variation of an n x n slice: the sum of the absolute differences between
    // neighbouring pixels (across and down) inside the disc inscribed in the square, where every
    // pixel is measured. A wrong centre draws each edge twice and adds arcs and streaks, all of
    // which add variation; the object itself is the same at every centre. So the right centre
    // gives the least (the sum of squared differences did not tell: the arcs blur edges too).
    static double totalVariation(const double *values, int n);
    // The index of the slice with the least total variation: the best centre; -1 for none.
    static int best(const std::vector<Slice> &slices);

private:
    HSgm sgm;
    SlicePipeline pipeline;
};
