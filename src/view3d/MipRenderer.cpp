#include "MipRenderer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXA_X86 1
#endif

namespace {

// Below this many samples a picture is rendered on the calling thread alone: starting
// threads would cost more than it saves.
constexpr double kSamplesPerThread = double(1 << 20);
// Views this close to edge-on are edge-on: a quarter turn computed in floating point leaves
// nz.z at about 1e-16, and the rays that happen to lie exactly in a slice plane would then
// each pick one sample at random.
constexpr double kEdgeOn = 1e-9;

inline double windowK(double thLow, double thHigh)
{
    return 256.0 / (thHigh - thLow);
}

// Values outside the window vanish rather than saturate. The window includes its upper
// bound: scaled by 256, its top 1/256 would exceed 255, and the brightest voxels of a set
// must not vanish from a maximum-intensity projection, so that part is drawn at 255. A lower
// threshold above the upper one inverts the ramp over the values between them; lo and hi
// are the window's ends in either order.
inline double windowedK(double value, double thLow, double lo, double hi, double k)
{
    if (!(value >= lo && value <= hi))
        return 0.0;
    const double v = (value - thLow) * k;
    return v > 0.0 ? std::min(v, 255.0) : 0.0; // also 0 for an empty window (0 * inf)
}

inline int rampChannel(int c, double v)
{
    // 255 + v (c / 255 - 1), written so that v = 255 gives c exactly.
    return int(255.0 + v * double(c - 255) / 255.0);
}

inline QRgb ramp(int r, int g, int b, int alpha, double v)
{
    return qRgba(rampChannel(r, v), rampChannel(g, v), rampChannel(b, v), alpha);
}

// Everything one band of picture rows needs, worked out once per picture.
struct RowJob
{
    const MipVolume *vol;
    const MipView *view;
    const MipStyle *style;
    int pw;
    int ph;
    QRgb *out;
    // Per slice: whether any of its values lies in the window, and the largest grey value
    // any later slice (this one included) can give.
    const unsigned char *useful;
    const double *topFrom;
    // For a volume of bytes: the grey value of each byte value (0 outside the window).
    const double *greyOfByte;
    // The volume's grey levels are for this window.
    bool levels;
};

// Largest grey value a slice with values in [mn, mx] can give, and whether it can give any.
inline double sliceTop(double mn, double mx, double thLow, double lo, double hi, double k)
{
    if (!(mx >= lo && mn <= hi))
        return -1.0; // nothing of it inside the window
    // The ramp rises from thLow; the window end farther along it is the brightest.
    const double far = k > 0 ? std::min(mx, hi) : std::max(mn, lo);
    return windowedK(far, thLow, lo, hi, k);
}

// Columns c in [0, pw) with lo < a + c d < hi, widened by one on each side; the caller
// trims the ends with the exact test.
inline void columnSpan(double a, double d, double lo, double hi, int pw, int &c0, int &c1)
{
    if (std::abs(d) < 1e-12) {
        if (!(a > lo - 1e-9 && a < hi + 1e-9))
            c1 = c0;
        return;
    }
    double t0 = (lo - a) / d;
    double t1 = (hi - a) / d;
    if (t0 > t1)
        std::swap(t0, t1);
    if (!(t1 >= -1.0) || !(t0 <= pw + 1.0)) {
        c1 = c0;
        return;
    }
    c0 = std::max(c0, int(std::max(std::floor(t0) - 1.0, -1.0)));
    c1 = std::min(c1, int(std::min(std::ceil(t1) + 2.0, double(pw))));
    c0 = std::max(c0, 0);
}

// The ray caster for rows r0 ... r1 - 1. Rays run row by row through the slices: per slice,
// the columns whose ray crosses the slice form one span, found from the straight line the
// crossing points follow; within it the loop is branch-free, so it is compiled into vector
// code (gathers) for the instruction set of the caller.
// How the loop reads the samples: the values themselves; bytes that are the values (a set of
// pictures), through the grey value of each byte; or grey levels of the values (see
// MipVolume), reading a value only where its level reaches the ray's brightest so far.
enum class Read { Values, ValueBytes, GreyLevels };

template <Read Mode>
__attribute__((always_inline)) inline void castRows(const RowJob &job, int r0, int r1)
{
    constexpr bool Bytes = Mode == Read::ValueBytes;
    const MipVolume &vol = *job.vol;
    const MipView &view = *job.view;
    const MipStyle &style = *job.style;
    const int pw = job.pw;
    const int ph = job.ph;
    const int sw = vol.sw;
    const int sh = vol.sh;
    const int ss = vol.ss();
    const Vec3 &nx = view.nx;
    const Vec3 &ny = view.ny;
    const Vec3 &nz = view.nz;
    const double hw = pw / 2.0;
    const double hh = ph / 2.0;
    const double hsw = sw / 2.0;
    const double hsh = sh / 2.0;
    const double hss = ss / 2.0;

    // Along a ray P = P0 + t nz the crossing with slice plane z = zj is at
    // P.x = P0.x + (zj - P0.z) nz.x / nz.z, and likewise for y: per pixel a constant part and
    // one slope shared by the whole picture.
    const double bx = nz.x / nz.z;
    const double by = nz.y / nz.z;
    const Vec3 &cn = style.csNormal;
    const double bd = bx * cn.x + by * cn.y + cn.z;
    const bool cut = style.cut;
    const double cutB = style.cutB;
    const double thLow = style.thLow;
    const double lo = std::min(style.thLow, style.thHigh);
    const double hi = std::max(style.thLow, style.thHigh);
    const double k = windowK(style.thLow, style.thHigh);
    const int alpha = std::clamp(style.alpha, 0, 255);
    const int vr = style.vColor.red(), vg = style.vColor.green(), vb = style.vColor.blue();
    const int sr = style.sColor.red(), sg = style.sColor.green(), sb = style.sColor.blue();
    const double fw = double(sw);
    const double fh = double(sh);
    const int swm = sw - 1;
    const int shm = sh - 1;

    const size_t n = size_t(pw);
    std::vector<double> ax(n), ay(n), ad(n), mip(n), sec(n), level(n);
    std::vector<int> spanLo(static_cast<size_t>(ss)), spanHi(static_cast<size_t>(ss));
    std::vector<int> restLo(size_t(ss) + 1, pw), restHi(size_t(ss) + 1, 0);

    for (int r = r0; r < r1; ++r) {
        const double rv = r - hh;
        for (int c = 0; c < pw; ++c) {
            const double cv = c - hw;
            const double p0x = view.off.x + view.scale * (cv * nx.x + rv * ny.x);
            const double p0y = view.off.y + view.scale * (cv * nx.y + rv * ny.y);
            const double p0z = view.off.z + view.scale * (cv * nx.z + rv * ny.z);
            const double px = p0x - p0z * bx;
            const double py = p0y - p0z * by;
            ax[c] = hsw + px;
            ay[c] = hsh + py;
            ad[c] = px * cn.x + py * cn.y;
            mip[c] = 0.0;
            sec[c] = 0.0;
            level[c] = 0.0;
        }
        // The crossing points of a row move along a line as the column grows.
        const double dax = pw > 1 ? (ax[n - 1] - ax[0]) / (pw - 1) : 0.0;
        const double day = pw > 1 ? (ay[n - 1] - ay[0]) / (pw - 1) : 0.0;
        const double dad = pw > 1 ? (ad[n - 1] - ad[0]) / (pw - 1) : 0.0;
        double *const mp = mip.data();
        double *const sp = sec.data();
        double *const lp = level.data();
        const double *const axp = ax.data();
        const double *const ayp = ay.data();
        const double *const adp = ad.data();
        // The span of columns whose ray crosses each slice, and from the back the hull of
        // the spans still to come: the only columns a later slice can change.
        for (int j = ss - 1; j >= 0; --j) {
            int c0 = 0, c1 = 0;
            if (job.useful[j]) {
                const double zj = j - hss;
                const double ox = zj * bx;
                const double oy = zj * by;
                c1 = pw;
                columnSpan(axp[0] + ox, dax, -1.0, fw, pw, c0, c1);
                columnSpan(ayp[0] + oy, day, -1.0, fh, pw, c0, c1);
                // Truncation toward zero puts -1 < f < 0 on pixel 0, so that is where
                // "inside" begins; the ends of the span are trimmed with exactly that test.
                auto inside = [&](int c) {
                    const double fx = axp[c] + ox;
                    const double fy = ayp[c] + oy;
                    return fx > -1.0 && fx < fw && fy > -1.0 && fy < fh;
                };
                while (c0 < c1 && !inside(c0))
                    ++c0;
                while (c1 > c0 && !inside(c1 - 1))
                    --c1;
            }
            spanLo[size_t(j)] = c0;
            spanHi[size_t(j)] = c1;
            const bool any = c0 < c1;
            restLo[size_t(j)] = any ? std::min(c0, restLo[size_t(j) + 1]) : restLo[size_t(j) + 1];
            restHi[size_t(j)] = any ? std::max(c1, restHi[size_t(j) + 1]) : restHi[size_t(j) + 1];
        }
        for (int j = 0; j < ss; ++j) {
            const int c0 = spanLo[size_t(j)];
            const int c1 = spanHi[size_t(j)];
            if (c0 >= c1)
                continue;
            // Without the cutting plane a row is done once no later slice can raise any
            // of its maxima: every ray still to be crossed is at the brightest value the
            // slices ahead can give.
            if (!cut && Mode != Read::GreyLevels && (j & 15) == 0) {
                const double top = job.topFrom[j];
                bool done = true;
                for (int c = restLo[size_t(j)]; c < restHi[size_t(j)] && done; ++c)
                    done = mp[c] >= top;
                if (done)
                    break;
            }
            const double zj = j - hss;
            const double ox = zj * bx;
            const double oy = zj * by;
            const double *const s = vol.slices[size_t(j)];
            const unsigned char *const vb = Bytes ? vol.bytes[size_t(j)] : nullptr;
            const unsigned char *const gl
                = Mode == Read::GreyLevels ? vol.greyLevels[size_t(j)] : nullptr;
            const double *const grey = job.greyOfByte;
            // Indices are clamped into the slice as well: a crossing a rounding error off
            // the line inside the span must still read inside the slice.
            if (cut) {
                const double dz = zj * bd;
                const double cutB1 = cutB - 1.0;
                // Only the columns in front of the plane are read: the plane distance also
                // follows a line along the row, so they form one span as well.
                int k0 = c0, k1 = c1;
                columnSpan(adp[0] + dz, dad, -HUGE_VAL, cutB, pw, k0, k1);
                while (k0 < k1 && !(adp[k0] + dz < cutB))
                    ++k0;
                while (k1 > k0 && !(adp[k1 - 1] + dz < cutB))
                    --k1;
                if constexpr (Mode == Read::GreyLevels) {
                    // As below; a value is read for a sample at the ray's brightest level so
                    // far or above it, and for one within the plane's band.
                    for (int c = k0; c < k1; ++c) {
                        const int ix = std::clamp(int(axp[c] + ox), 0, swm);
                        const int iy = std::clamp(int(ayp[c] + oy), 0, shm);
                        const int at = iy * sw + ix;
                        const double d = adp[c] + dz;
                        const bool keep = d < cutB;
                        const bool band = keep && d > cutB1;
                        const double lv = keep ? double(gl[at]) : 0.0;
                        const bool brighter = lv > 0.0 && lv >= lp[c];
                        if (brighter || band) {
                            const double val = s[at];
                            const double w0 = (val - thLow) * k;
                            const double w1 = w0 > 0.0 ? (w0 < 255.0 ? w0 : 255.0) : 0.0;
                            const double v = (val >= lo && val <= hi) ? w1 : 0.0;
                            if (brighter) {
                                mp[c] = lv > lp[c] ? v : (mp[c] > v ? mp[c] : v);
                                lp[c] = lv;
                            }
                            if (band)
                                sp[c] = v;
                        }
                    }
                    continue;
                }
                for (int c = k0; c < k1; ++c) {
                    const int ix = std::clamp(int(axp[c] + ox), 0, swm);
                    const int iy = std::clamp(int(ayp[c] + oy), 0, shm);
                    const double d = adp[c] + dz;
                    const bool keep = d < cutB;
                    double g;
                    if constexpr (Bytes) {
                        g = grey[vb[iy * sw + ix]];
                    } else {
                        const double val = s[iy * sw + ix];
                        const double w0 = (val - thLow) * k;
                        const double w1 = w0 > 0.0 ? (w0 < 255.0 ? w0 : 255.0) : 0.0;
                        g = (val >= lo && val <= hi) ? w1 : 0.0;
                    }
                    const double v = keep ? g : 0.0;
                    mp[c] = mp[c] > v ? mp[c] : v;
                    sp[c] = (keep && d > cutB1) ? v : sp[c];
                }
            } else {
                if constexpr (Bytes) {
                    for (int c = c0; c < c1; ++c) {
                        const int ix = std::clamp(int(axp[c] + ox), 0, swm);
                        const int iy = std::clamp(int(ayp[c] + oy), 0, shm);
                        const double v = grey[vb[iy * sw + ix]];
                        mp[c] = mp[c] > v ? mp[c] : v;
                    }
                } else if constexpr (Mode == Read::GreyLevels) {
                    // The value is read only for a sample at the ray's brightest level so far
                    // or above it: after the first few slices, rarely.
                    for (int c = c0; c < c1; ++c) {
                        const int ix = std::clamp(int(axp[c] + ox), 0, swm);
                        const int iy = std::clamp(int(ayp[c] + oy), 0, shm);
                        const int at = iy * sw + ix;
                        const double lv = gl[at];
                        if (lv > 0.0 && lv >= lp[c]) {
                            const double val = s[at];
                            const double w0 = (val - thLow) * k;
                            const double w1 = w0 > 0.0 ? (w0 < 255.0 ? w0 : 255.0) : 0.0;
                            const double v = (val >= lo && val <= hi) ? w1 : 0.0;
                            mp[c] = lv > lp[c] ? v : (mp[c] > v ? mp[c] : v);
                            lp[c] = lv;
                        }
                    }
                } else {
                    for (int c = c0; c < c1; ++c) {
                        const int ix = std::clamp(int(axp[c] + ox), 0, swm);
                        const int iy = std::clamp(int(ayp[c] + oy), 0, shm);
                        const double val = s[iy * sw + ix];
                        const double w0 = (val - thLow) * k;
                        const double w1 = w0 > 0.0 ? (w0 < 255.0 ? w0 : 255.0) : 0.0;
                        const double v = (val >= lo && val <= hi) ? w1 : 0.0;
                        mp[c] = mp[c] > v ? mp[c] : v;
                    }
                }
            }
        }
        QRgb *o = job.out + size_t(r) * size_t(pw);
        for (int c = 0; c < pw; ++c) {
            if (cut && sec[c] > 0.0)
                o[c] = ramp(sr, sg, sb, alpha, sec[c]);
            else if (mip[c] > 0.0)
                o[c] = ramp(vr, vg, vb, alpha, mip[c]);
            else
                o[c] = 0;
        }
    }
}

__attribute__((always_inline)) inline void castAny(const RowJob &job, int r0, int r1)
{
    if (job.greyOfByte)
        castRows<Read::ValueBytes>(job, r0, r1);
    else if (job.levels)
        castRows<Read::GreyLevels>(job, r0, r1);
    else
        castRows<Read::Values>(job, r0, r1);
}

void castRowsPortable(const RowJob &job, int r0, int r1)
{
    castAny(job, r0, r1);
}

#ifdef VEXA_X86
// The same loop compiled for wider vectors. Starting with vzeroupper also clears upper
// register halves left dirty by the caller (the toolkit's painting uses AVX): code without
// VEX encoding would otherwise pay for every instruction on the GUI thread.
__attribute__((target("avx2,fma"))) void castRowsAvx2(const RowJob &job, int r0, int r1)
{
    _mm256_zeroupper();
    castAny(job, r0, r1);
}

__attribute__((target("avx512f,avx512dq,avx512vl,avx2,fma"))) void castRowsAvx512(
    const RowJob &job, int r0, int r1)
{
    _mm256_zeroupper();
    castAny(job, r0, r1);
}
#endif

using CastFn = void (*)(const RowJob &, int, int);

struct CastPath
{
    CastFn fn;
    const char *name;
};

CastPath detectPath()
{
#ifdef VEXA_X86
    __builtin_cpu_init();
    if (qEnvironmentVariableIsEmpty("VEXA_PORTABLE_3D")) {
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")
            && __builtin_cpu_supports("avx512vl"))
            return { castRowsAvx512, "avx512" };
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
            return { castRowsAvx2, "avx2" };
    }
#endif
    return { castRowsPortable, "portable" };
}

const CastPath &castPath()
{
    static const CastPath path = detectPath();
    return path;
}

} // namespace

double MipRenderer::windowed(double value, double thLow, double thHigh)
{
    return windowedK(
        value, thLow, std::min(thLow, thHigh), std::max(thLow, thHigh), windowK(thLow, thHigh));
}

QRgb MipRenderer::rampColour(const QColor &colour, double v, int alpha)
{
    return ramp(colour.red(), colour.green(), colour.blue(), std::clamp(alpha, 0, 255), v);
}

QImage MipRenderer::renderImage(
    const MipVolume &vol, const MipView &view, const MipStyle &style, int pw, int ph)
{
    if (pw <= 0 || ph <= 0)
        return QImage();
    QImage img(pw, ph, QImage::Format_ARGB32);
    if (img.isNull())
        return img;
    // Format_ARGB32 rows of a freshly made picture are contiguous (4 * pw bytes each).
    render(vol, view, style, pw, ph, reinterpret_cast<QRgb *>(img.bits()));
    return img;
}

void MipRenderer::greyLevels(
    const double *values, size_t n, double thLow, double thHigh, unsigned char *out)
{
    const double lo = std::min(thLow, thHigh);
    const double hi = std::max(thLow, thHigh);
    const double k = windowK(thLow, thHigh);
    for (size_t i = 0; i < n; ++i) {
        const double g = windowedK(values[i], thLow, lo, hi, k);
        out[i] = g > 0.0 ? static_cast<unsigned char>(std::clamp(std::floor(g), 1.0, 255.0)) : 0;
    }
}

const char *MipRenderer::pathName()
{
    return castPath().name;
}

void MipRenderer::render(const MipVolume &vol, const MipView &view, const MipStyle &style, int pw,
    int ph, QRgb *out, int threads)
{
    if (!out || pw <= 0 || ph <= 0)
        return;
    const bool visible = vol.ss() > 0 && vol.sw > 0 && vol.sh > 0 && std::abs(view.nz.z) > kEdgeOn;
    if (!visible) {
        std::fill(out, out + size_t(pw) * size_t(ph), QRgb(0));
        return;
    }

    // Per slice: can it show anything, and how bright can the slices from it on get.
    const int ss = vol.ss();
    const bool ranges = vol.sliceMin.size() == size_t(ss) && vol.sliceMax.size() == size_t(ss);
    const double lo = std::min(style.thLow, style.thHigh);
    const double hi = std::max(style.thLow, style.thHigh);
    const double k = windowK(style.thLow, style.thHigh);
    std::vector<unsigned char> useful(size_t(ss), 1);
    std::vector<double> topFrom(size_t(ss) + 1, 0.0);
    for (int j = ss - 1; j >= 0; --j) {
        double top = 255.0;
        if (ranges) {
            top = sliceTop(
                vol.sliceMin[size_t(j)], vol.sliceMax[size_t(j)], style.thLow, lo, hi, k);
            // With the cutting plane every slice counts: a dark sample within the plane's
            // band still replaces the section value of the samples before it.
            useful[size_t(j)] = style.cut || top > 0.0;
        }
        topFrom[size_t(j)] = std::max(topFrom[size_t(j) + 1], top);
    }
    // A volume of bytes is read through the grey value of each byte value, worked out here
    // by the same formula the loop applies to other values.
    double greyOfByte[256];
    const bool bytes = vol.bytes.size() == size_t(ss);
    if (bytes)
        for (int b = 0; b < 256; ++b)
            greyOfByte[b] = windowedK(double(b), style.thLow, lo, hi, k);
    const bool levels = !bytes && vol.greyLevels.size() == size_t(ss)
        && vol.greyThLow == style.thLow && vol.greyThHigh == style.thHigh;
    const RowJob job { &vol, &view, &style, pw, ph, out, useful.data(), topFrom.data(),
        bytes ? greyOfByte : nullptr, levels };
    const CastFn cast = castPath().fn;

    const double samples = double(pw) * double(ph) * double(ss);
    int t = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    t = std::min({ t, ph, int(std::max(1.0, samples / kSamplesPerThread)) });
    if (t <= 1) {
        cast(job, 0, ph);
        return;
    }
    // Safe to share: the job and what it points to are only read during the pass, and each
    // band writes its own rows of `out`; all bands have ended when this function returns.
    // Bands are interleaved in small blocks of rows, so a part of the picture where the
    // volume is thick does not fall to one thread alone.
    constexpr int kBlock = 8;
    const int blocks = (ph + kBlock - 1) / kBlock;
    auto band = [&job, cast, t, blocks, ph](int i) {
        for (int b = i; b < blocks; b += t)
            cast(job, b * kBlock, std::min(ph, (b + 1) * kBlock));
    };
    std::vector<std::thread> pool;
    pool.reserve(size_t(t - 1));
    for (int i = 1; i < t; ++i)
        pool.emplace_back(band, i);
    band(0);
    for (std::thread &th : pool)
        th.join();
}

void MipRenderer::shade(QImage &layer, double relief, double ambient)
{
    if (layer.isNull() || layer.format() != QImage::Format_ARGB32)
        return;
    const int w = layer.width();
    const int h = layer.height();
    // Heights first: the shading reads the neighbours' heights, not their shaded colours.
    std::vector<float> height(size_t(w) * size_t(h), 0.0f);
    for (int r = 0; r < h; ++r) {
        const QRgb *row = reinterpret_cast<const QRgb *>(layer.constScanLine(r));
        float *hr = height.data() + size_t(r) * size_t(w);
        for (int c = 0; c < w; ++c)
            if (qAlpha(row[c]) != 0)
                hr[c] = float(255 - std::min({ qRed(row[c]), qGreen(row[c]), qBlue(row[c]) }))
                    / 255.0f;
    }
    auto at = [&](int c, int r) -> double {
        if (c < 0 || r < 0 || c >= w || r >= h)
            return 0.0;
        return height[size_t(r) * size_t(w) + size_t(c)];
    };
    const double l = 1.0 / std::sqrt(3.0);
    for (int r = 0; r < h; ++r) {
        QRgb *row = reinterpret_cast<QRgb *>(layer.scanLine(r));
        for (int c = 0; c < w; ++c) {
            if (qAlpha(row[c]) == 0)
                continue;
            const double gx = relief * (at(c + 1, r) - at(c - 1, r)) / 2;
            const double gy = relief * (at(c, r + 1) - at(c, r - 1)) / 2;
            // n = (-gx, -gy, 1) / |.|, l = (-1, -1, 1) / sqrt 3
            const double dot = (gx + gy + 1) * l / std::sqrt(gx * gx + gy * gy + 1);
            const double f = ambient + (1 - ambient) * std::max(0.0, dot);
            row[c] = qRgba(int(qRed(row[c]) * f), int(qGreen(row[c]) * f), int(qBlue(row[c]) * f),
                qAlpha(row[c]));
        }
    }
}
