#include "ParallelBackProj.h"

#include "CtBackProj.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Result rows per band: the engine reuses each block of projection tables over this many
// rows, and a band this size keeps the bands of a large slice plentiful enough to even out
// the circle's short rows at the top and bottom.
constexpr int BandRows = 32;

} // namespace

bool backProjectParallel(CtBackProj &engine, int rows, double x0, double x1, double z0, double z1,
    double angle0, double dAngle, int threads)
{
    const int n = engine.resultSize();
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int bands = (std::max(n, 0) + BandRows - 1) / BandRows;
    threads = std::min(threads, std::max(bands, 1));
    if (threads <= 1)
        return engine.backProjectAll(rows, x0, x1, z0, z1, angle0, dAngle);

    std::atomic<int> nextBand = 0;
    std::atomic<bool> ok = true;
    // Safe on several threads: each band writes only its own result rows, and the filtered
    // tables are only read while the pass runs.
    const auto work = [&] {
        for (int b = nextBand.fetch_add(1); b < bands; b = nextBand.fetch_add(1)) {
            const int zBegin = b * BandRows;
            const int zEnd = std::min(n, zBegin + BandRows);
            if (!engine.backProjectRows(rows, x0, x1, z0, z1, angle0, dAngle, zBegin, zEnd))
                ok = false;
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error &) {
            // Without another thread the bands left are simply done by those running.
            break;
        }
    }
    work();
    for (std::thread &h : helpers)
        h.join();
    return ok;
}
