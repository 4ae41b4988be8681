#include "MipRenderer.h"

#include <algorithm>
#include <cmath>
#include <thread>

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

    const double samples = double(pw) * double(ph) * double(vol.ss());
    int t = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    t = std::min({ t, ph, int(std::max(1.0, samples / kSamplesPerThread)) });
    if (t <= 1) {
        renderRows(vol, view, style, pw, ph, 0, ph, out);
        return;
    }
    // Safe to share: volume, view and style are only read during the pass, and each band
    // writes its own rows of `out`; all bands have ended when this function returns.
    std::vector<std::thread> pool;
    pool.reserve(size_t(t - 1));
    for (int i = 1; i < t; ++i) {
        const int r0 = int(qint64(ph) * i / t);
        const int r1 = int(qint64(ph) * (i + 1) / t);
        pool.emplace_back(
            renderRows, std::cref(vol), std::cref(view), std::cref(style), pw, ph, r0, r1, out);
    }
    renderRows(vol, view, style, pw, ph, 0, int(qint64(ph) / t), out);
    for (std::thread &th : pool)
        th.join();
}

void MipRenderer::renderRows(const MipVolume &vol, const MipView &view, const MipStyle &style,
    int pw, int ph, int r0, int r1, QRgb *out)
{
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

    const size_t n = size_t(pw);
    std::vector<double> ax(n), ay(n), ad(n), mip(n), sec(n);
    std::vector<int> idx(n);

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
        }
        for (int j = 0; j < ss; ++j) {
            const double zj = j - hss;
            const double ox = zj * bx;
            const double oy = zj * by;
            // Pixel index of each ray's crossing, -1 outside the slice. Truncation toward
            // zero puts -1 < f < 0 on pixel 0, so that is where "inside" begins.
            for (int c = 0; c < pw; ++c) {
                const double fx = ax[c] + ox;
                const double fy = ay[c] + oy;
                const bool in = (fx > -1.0) & (fx < fw) & (fy > -1.0) & (fy < fh);
                const int ix = int(in ? fx : 0.0);
                const int iy = int(in ? fy : 0.0);
                idx[c] = in ? iy * sw + ix : -1;
            }
            const double *s = vol.slices[size_t(j)];
            if (cut) {
                const double dz = zj * bd;
                for (int c = 0; c < pw; ++c) {
                    const int i = idx[c];
                    if (i < 0)
                        continue;
                    const double d = ad[c] + dz;
                    if (d >= cutB)
                        continue;
                    const double v = windowedK(s[i], thLow, lo, hi, k);
                    mip[c] = std::max(mip[c], v);
                    if (d > cutB - 1.0)
                        sec[c] = v;
                }
            } else {
                for (int c = 0; c < pw; ++c) {
                    const int i = idx[c];
                    if (i >= 0)
                        mip[c] = std::max(mip[c], windowedK(s[i], thLow, lo, hi, k));
                }
            }
        }
        QRgb *o = out + size_t(r) * size_t(pw);
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
