#include "FourierSinogram.h"

#include "FftwPlanner.h"

#include <cmath>
#include <fftw3.h>

std::vector<double> fourierSinogram(const double *rawSgm, int w, int h)
{
    std::vector<double> mag;
    if (rawSgm == nullptr || w <= 0 || h <= 0)
        return mag;
    const long long rows = 2LL * h;
    const long long total = rows * w;
    if (rows > 0x7fffffffLL || total > 0x7fffffffLL)
        return mag;

    fftw_complex *in = nullptr;
    fftw_complex *out = nullptr;
    fftw_plan plan = nullptr;
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        in = fftw_alloc_complex(total);
        out = fftw_alloc_complex(total);
        if (in != nullptr && out != nullptr)
            plan
                = fftw_plan_dft_2d(static_cast<int>(rows), w, in, out, FFTW_FORWARD, FFTW_ESTIMATE);
    }
    if (plan != nullptr) {
        const double scale = 1.0 / (2.0 * h * w);
        for (int r = 0; r < h; ++r) {
            const double *src = rawSgm + static_cast<long long>(r) * w;
            fftw_complex *top = in + static_cast<long long>(r) * w;
            fftw_complex *bottom = in + (static_cast<long long>(h) + r) * w;
            for (int j = 0; j < w; ++j) {
                top[j][0] = src[j] * scale;
                top[j][1] = 0.0;
                bottom[w - 1 - j][0] = src[j] * scale;
                bottom[w - 1 - j][1] = 0.0;
            }
        }
        fftw_execute(plan);
        mag.resize(static_cast<std::size_t>(total));
        for (long long k = 0; k < total; ++k)
            mag[k] = std::sqrt(out[k][0] * out[k][0] + out[k][1] * out[k][1]);
    }
    std::lock_guard<std::mutex> lock(fftwPlannerMutex());
    if (plan != nullptr)
        fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
    return mag;
}
