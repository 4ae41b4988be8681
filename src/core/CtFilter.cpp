#include "CtFilter.h"

#include "FftwPlanner.h"

#include <cmath>
#include <fftw3.h>
#include <numbers>

namespace {

const char *const Names[] = { "ramp", "ramp_padded", "shepp_logan", "cosine", "hamming", "hann" };

bool smooth7(int v)
{
    for (const int p : { 2, 3, 5, 7 })
        while (v % p == 0)
            v /= p;
    return v == 1;
}

// Window at w = 2 pi m / length, 0 ... pi.
double window(CtFilterKind kind, double w)
{
    switch (kind) {
    case CtFilterKind::SheppLogan:
        return w > 0.0 ? std::sin(w / 2.0) / (w / 2.0) : 1.0;
    case CtFilterKind::Cosine:
        return std::cos(w / 2.0);
    case CtFilterKind::Hamming:
        return 0.54 + 0.46 * std::cos(w);
    case CtFilterKind::Hann:
        return 0.5 + 0.5 * std::cos(w);
    default:
        return 1.0;
    }
}

} // namespace

QStringList CtFilter::names()
{
    QStringList list;
    for (const char *n : Names)
        list << QString::fromLatin1(n);
    return list;
}

QString CtFilter::name(CtFilterKind kind)
{
    const int i = static_cast<int>(kind);
    return i >= 0 && i < int(std::size(Names)) ? QString::fromLatin1(Names[i]) : QString();
}

bool CtFilter::fromName(const QString &name, CtFilterKind *kind)
{
    const QString wanted = name.trimmed();
    for (int i = 0; i < int(std::size(Names)); ++i)
        if (wanted.compare(QLatin1String(Names[i]), Qt::CaseInsensitive) == 0) {
            if (kind)
                *kind = static_cast<CtFilterKind>(i);
            return true;
        }
    return false;
}

int CtFilter::paddedLength(int n)
{
    if (n < 1 || n > (1 << 29))
        return 0;
    // Even, since the real-to-complex transforms and the response table need an even length:
    // twice the smallest 7-smooth number >= n is the smallest even one >= 2n.
    int half = n;
    while (!smooth7(half))
        ++half;
    return 2 * half;
}

std::vector<double> CtFilter::response(CtFilterKind kind, int length)
{
    if (length < 2 || length % 2 != 0)
        return {};
    const int bins = length / 2 + 1;
    std::vector<double> table(bins);
    const double a = 2.0 * std::numbers::pi / length;
    if (kind == CtFilterKind::Ramp) {
        for (int m = 0; m < bins; ++m)
            table[m] = a * m;
        return table;
    }

    // The Ram-Lak kernel, wrapped onto the transform: lags -length/2 + 1 ... length/2. The
    // row occupies at most half the transform, so every lag a row can meet is exact.
    double *kernel = fftw_alloc_real(length);
    fftw_complex *spectrum = fftw_alloc_complex(bins);
    if (kernel == nullptr || spectrum == nullptr) {
        fftw_free(kernel);
        fftw_free(spectrum);
        return {};
    }
    fftw_plan plan = nullptr;
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        plan = fftw_plan_dft_r2c_1d(length, kernel, spectrum, FFTW_ESTIMATE);
    }
    if (plan != nullptr) {
        const double pi2 = std::numbers::pi * std::numbers::pi;
        for (int k = 0; k < length; ++k) {
            const int lag = k <= length / 2 ? k : k - length;
            kernel[k] = lag == 0 ? 0.25 : (lag % 2 != 0 ? -1.0 / (pi2 * double(lag) * lag) : 0.0);
        }
        fftw_execute(plan);
        // The kernel is even on the circle, so its transform is real. Its response is |nu| in
        // cycles per sample; the ramp's 2 pi |m| / length is 2 pi |nu|.
        for (int m = 0; m < bins; ++m)
            table[m] = 2.0 * std::numbers::pi * spectrum[m][0] * window(kind, a * m);
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        fftw_destroy_plan(plan);
    } else {
        table.clear();
    }
    fftw_free(kernel);
    fftw_free(spectrum);
    return table;
}
