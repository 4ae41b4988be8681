#include "CorSweep.h"

#include "CtParams.h"

#include <cmath>

std::vector<double> CorSweep::cors(double from, double to, double step)
{
    std::vector<double> out;
    if (!std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step) || step == 0)
        return out;
    step = to >= from ? std::abs(step) : -std::abs(step);
    const double count = std::floor((to - from) / step + 1e-3) + 1;
    if (!(count <= MaxSlices))
        return out;
    for (int i = 0; i < int(count); ++i)
        out.push_back(from + i * step); // not summed, so no rounding creeps along
    return out;
}

bool CorSweep::reconstruct(const SinogramFn &sinogram, const CtParams &p, double cor, Slice &out)
{
    if (!sinogram || !sinogram(sgm, cor) || !sgm.hasData() || sgm.w / 2 * 2 < 2)
        return false;
    const int n = sgm.w / 2 * 2;
    // The angles of the single-slice panel: the common step from the data set's range and
    // image count, starting at the first image used.
    double angle0 = 0, delta = 0;
    SlicePipeline::commonStep(p, &angle0, &delta);
    if (pipeline.prepare(sgm, &p) != SlicePipeline::Step::Done
        || pipeline.engine()->resultSize() != n
        || pipeline.reconstruct(sgm, 0, n, 0, n, angle0, delta) != SlicePipeline::Step::Done)
        return false;
    const double *result = pipeline.engine()->resultData();
    out.cor = cor;
    out.n = n;
    out.values.assign(result, result + size_t(n) * size_t(n));
    out.variation = totalVariation(out.values.data(), n);
    return true;
}

double CorSweep::totalVariation(const double *values, int n)
{
    if (!values || n < 2)
        return 0;
    const double c = (n - 1) / 2.0;
    const double r2 = (n / 2.0 - 1) * (n / 2.0 - 1);
    double sum = 0;
    for (int z = 0; z + 1 < n; ++z) {
        const double *row = values + size_t(z) * size_t(n);
        const double *below = row + n;
        const double dz = z - c;
        for (int x = 0; x + 1 < n; ++x) {
            const double dx = x - c;
            if (dx * dx + dz * dz > r2)
                continue;
            const double a = row[x + 1] - row[x];
            const double b = below[x] - row[x];
            sum += std::abs(a) + std::abs(b);
        }
    }
    return sum;
}

int CorSweep::best(const std::vector<Slice> &slices)
{
    int best = -1;
    for (int i = 0; i < int(slices.size()); ++i)
        if (best < 0 || slices[size_t(i)].variation < slices[size_t(best)].variation)
            best = i;
    return best;
}
