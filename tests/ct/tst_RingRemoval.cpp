#include "CtBackProj.h"
#include "HSgm.h"
#include "RingRemoval.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;
constexpr int W = 257, N = 256, G = N / 2, Rows = 400;

// An ellipse of the phantom: centre (x, z) from the axis, half axes a and b, turned by
// `tilt` (radians), attenuation mu per pixel.
struct Ellipse
{
    double x, z, a, b, tilt, mu;
};

constexpr int CentredDisc = 0, DiscOff5 = 1, DiscOff12 = 2, DiscOff20 = 3, Head = 4,
              DetailNearAxis = 5, Body = 6;

std::vector<Ellipse> sampleOf(int which)
{
    switch (which) {
    case CentredDisc:
        return { { 0, 0, 90, 90, 0, 0.01 } };
    case DiscOff5:
        return { { 5, 0, 80, 80, 0, 0.01 } };
    case DiscOff12:
        return { { -8.5, 8.5, 80, 80, 0, 0.01 } };
    case DiscOff20:
        return { { 0, -20, 70, 70, 0, 0.01 } };
    case Head: // after Shepp and Logan, with contrasts of tissue
        return { { 0, 0, 69, 92, 0, 0.02 }, { 0, -1.8, 66.2, 87.4, 0, -0.0098 },
            { 22, 0, 11, 31, -0.314, -0.002 }, { -22, 0, 16, 41, 0.314, -0.002 },
            { 0, 35, 21, 25, 0, 0.001 }, { 0, 10, 4.6, 4.6, 0, 0.001 },
            { 0, -10, 4.6, 4.6, 0, 0.001 }, { -8, -60.5, 4.6, 2.3, 0, 0.001 },
            { 0, -60.6, 2.3, 2.3, 0, 0.001 }, { 6, -60.5, 2.3, 4.6, 0, 0.001 } };
    case DetailNearAxis: // a body with fine details on and around the axis
        return { { 3, -2, 85, 85, 0, 0.01 }, { 0, 0, 1.5, 1.5, 0, 0.03 }, { 3, 1, 1, 1, 0, 0.04 },
            { -4, 4, 2, 1, 0.5, 0.02 }, { 7, -6, 1.5, 1.5, 0, -0.005 },
            { -10, -3, 3, 3, 0, 0.015 } };
    default: // a body with inner parts and small details, some near the axis
        return { { 0, 0, 100, 100, 0, 0.01 }, { 35, -20, 30, 30, 0, 0.01 },
            { 60, 0, 2, 2, 0, 0.03 }, { -20, 70, 2, 2, 0, 0.03 }, { 0, 90, 1.5, 1.5, 0, 0.04 },
            { 4, 3, 3, 3, 0, 0.02 }, { -50, -40, 8, 8, 0, -0.005 } };
    }
}

// The sinogram of `sample` over 180 degrees, each sample the mean chord over its pixel (five
// points across it), with Gaussian noise of the given deviation (fixed seed).
void sinogramOf(HSgm &sgm, const std::vector<Ellipse> &sample, double noise)
{
    sgm.setSize(W, Rows);
    std::mt19937 gen(11);
    std::normal_distribution<double> dist(0.0, 1.0);
    for (int i = 0; i < Rows; ++i) {
        const double theta = i * Pi / Rows;
        const double c = std::cos(theta), s = std::sin(theta);
        double *row = sgm.sgmRow(i);
        for (int k = 0; k < W; ++k) {
            double v = 0;
            for (const Ellipse &e : sample) {
                // The detector direction in the ellipse's own frame.
                const double u0 = e.x * c + e.z * s;
                const double phi = theta - e.tilt;
                const double a2 = e.a * e.a * std::cos(phi) * std::cos(phi)
                    + e.b * e.b * std::sin(phi) * std::sin(phi);
                for (int q = 0; q < 5; ++q) {
                    const double t = k - G + (q - 2) * 0.2 - u0;
                    if (t * t < a2)
                        v += 0.2 * e.mu * 2.0 * e.a * e.b * std::sqrt(a2 - t * t) / a2;
                }
            }
            row[k] = v + (noise > 0 ? noise * dist(gen) : 0.0);
        }
    }
}

void copyInto(HSgm &sgm, const HSgm &from)
{
    sgm.setSize(from.w, from.h);
    std::copy(from.sgm.get(), from.sgm.get() + size_t(from.w) * from.h, sgm.sgm.get());
}

// A band of `width` detector pixels whose gain is off by `gain` (0.01: 1 % more), its first
// pixel `from` samples from the axis: the attenuation of its columns drops by ln(1 + gain),
// shared between two samples where the band's edge falls between them.
void addBand(HSgm &sgm, double from, int width, double gain)
{
    const double offset = -std::log(1.0 + gain);
    for (int k = 0; k < sgm.w; ++k) {
        // The share of sample k (covering k - G - 0.5 ... k - G + 0.5) inside the band
        // [from - 0.5, from + width - 0.5).
        const double lo = std::max(k - G - 0.5, from - 0.5);
        const double hi = std::min(k - G + 0.5, from + width - 0.5);
        if (hi > lo)
            for (int i = 0; i < sgm.h; ++i)
                sgm.sgmRow(i)[k] += (hi - lo) * offset;
    }
}

// The slice of a copy of `from` after ring removal at `level`, with the padded ramp.
std::vector<double> sliceOf(const HSgm &from, int level)
{
    HSgm sgm;
    copyInto(sgm, from);
    RingRemoval rings;
    if (!rings.apply(sgm.sgm.get(), W, Rows, level))
        return {};
    CtBackProj engine;
    engine.setup(N, Rows);
    if (!engine.setFilter(CtFilterKind::RampPadded)
        || !engine.reconstruct(sgm, 0, N, 0, N, 0.0, Pi / Rows))
        return {};
    const int n = engine.resultSize();
    return std::vector<double>(engine.resultData(), engine.resultData() + size_t(n) * n);
}

// The largest difference inside 90 % of the inscribed circle.
double worst(const std::vector<double> &a, const std::vector<double> &b)
{
    double m = 0;
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x)
            if (std::hypot(x - G, z - G) < 0.9 * G)
                m = std::max(m, std::abs(a[size_t(z) * N + x] - b[size_t(z) * N + x]));
    return m;
}

double rangeOf(const std::vector<double> &slice)
{
    const auto [lo, hi] = std::minmax_element(slice.begin(), slice.end());
    return *hi - *lo;
}

} // namespace

class TestRingRemoval : public QObject
{
    Q_OBJECT
private slots:
    void sliceWithoutStripesIsLeftAlone_data();
    void sliceWithoutStripesIsLeftAlone();
    void stripesAreCut_data();
    void stripesAreCut();
    void sinogramWithoutStripesKeepsEveryBit();
};

void TestRingRemoval::sliceWithoutStripesIsLeftAlone_data()
{
    QTest::addColumn<int>("sample");
    QTest::addColumn<double>("noise"); // standard deviation of the attenuation noise
    const struct
    {
        int sample;
        const char *name;
    } samples[] = { { CentredDisc, "centred disc" }, { DiscOff5, "disc 5 px off" },
        { DiscOff12, "disc 12 px off" }, { DiscOff20, "disc 20 px off" }, { Head, "head" },
        { DetailNearAxis, "fine detail near the axis" }, { Body, "body with details" } };
    for (const auto &s : samples)
        for (const double noise : { 0.0, 0.003 })
            QTest::newRow(qPrintable(QString("%1, %2").arg(s.name, noise > 0 ? "noisy" : "clean")))
                << s.sample << noise;
}

void TestRingRemoval::sliceWithoutStripesIsLeftAlone()
{
    QFETCH(int, sample);
    QFETCH(double, noise);
    HSgm sgm;
    sinogramOf(sgm, sampleOf(sample), noise);
    const std::vector<double> off = sliceOf(sgm, 0);
    QVERIFY(!off.empty());
    const double range = rangeOf(off);
    double most = 0;
    for (const int level : { 1, 2, 3, 5, 8, 13, 20 }) {
        const std::vector<double> on = sliceOf(sgm, level);
        QVERIFY(!on.empty());
        const double changed = worst(on, off);
        most = std::max(most, changed);
        QVERIFY2(changed <= 1e-3 * range,
            qPrintable(QString("level %1: changed by %2 of the range %3")
                           .arg(level)
                           .arg(changed)
                           .arg(range)));
    }
    qInfo("range %.5f, changed by at most %.3g", range, most);
}

void TestRingRemoval::stripesAreCut_data()
{
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("level");
    QTest::addColumn<double>("from"); // the band's first pixel from the axis, in samples
    QTest::addColumn<int>("width"); // pixels
    QTest::addColumn<double>("gain");
    QTest::addColumn<double>("noise");
    QTest::addColumn<bool>("removed"); // false: a stripe that cannot be told from the sample
    QTest::newRow("0.5 %, one pixel at 40, level 1")
        << Body << 1 << 40.0 << 1 << 0.005 << 0.0 << true;
    QTest::newRow("1 %, one pixel at 40, level 2") << Body << 2 << 40.0 << 1 << 0.01 << 0.0 << true;
    QTest::newRow("5 %, one pixel at 40, level 1") << Body << 1 << 40.0 << 1 << 0.05 << 0.0 << true;
    QTest::newRow("3 %, in the air at 112.2, level 2")
        << Body << 2 << 112.2 << 1 << 0.03 << 0.0 << true;
    QTest::newRow("5 %, split at -75.5, level 3") << Body << 3 << -75.5 << 1 << 0.05 << 0.0 << true;
    QTest::newRow("1 %, band of 3 at 30, level 3") << Body << 3 << 30.0 << 3 << 0.01 << 0.0 << true;
    QTest::newRow("1 %, at 60.3 on a disc 12 px off, level 2")
        << DiscOff12 << 2 << 60.3 << 1 << 0.01 << 0.0 << true;
    QTest::newRow("5 %, one pixel at 40, noisy, level 2")
        << Body << 2 << 40.0 << 1 << 0.05 << 0.002 << true;
    QTest::newRow("1 %, band of 5 at 30, level 5") << Body << 5 << 30.0 << 5 << 0.01 << 0.0 << true;
    QTest::newRow("5 %, band of 8 at 50, level 8") << Body << 8 << 50.0 << 8 << 0.05 << 0.0 << true;
    QTest::newRow("3 %, split at 33.3, noisier, level 2")
        << Body << 2 << 33.3 << 1 << 0.03 << 0.005 << true;
    QTest::newRow("5 %, band of 12 at 40, level 12")
        << Body << 12 << 40.0 << 12 << 0.05 << 0.0 << true;
    // On the rim of a body centred on the axis, which looks like a ring itself.
    QTest::newRow("3 %, at -99.6 on the rim, noisy, level 2")
        << Body << 2 << -99.6 << 1 << 0.03 << 0.002 << false;
}

void TestRingRemoval::stripesAreCut()
{
    QFETCH(int, sample);
    QFETCH(int, level);
    QFETCH(double, from);
    QFETCH(int, width);
    QFETCH(double, gain);
    QFETCH(double, noise);
    QFETCH(bool, removed);
    HSgm clean, ringed;
    sinogramOf(clean, sampleOf(sample), noise);
    copyInto(ringed, clean);
    addBand(ringed, from, width, gain);
    const std::vector<double> cleanOff = sliceOf(clean, 0), cleanOn = sliceOf(clean, level);
    const std::vector<double> ringedOff = sliceOf(ringed, 0), ringedOn = sliceOf(ringed, level);
    QVERIFY(!cleanOff.empty() && !cleanOn.empty() && !ringedOff.empty() && !ringedOn.empty());
    const double range = rangeOf(cleanOff);
    const double ringBefore = worst(ringedOff, cleanOff);
    const double ringAfter = worst(ringedOn, cleanOn);
    const double changed = worst(cleanOn, cleanOff);
    qInfo("range %.5f: ring %.6f -> %.7f (%.1fx), clean slice changed by %.7f", range, ringBefore,
        ringAfter, ringBefore / ringAfter, changed);
    QVERIFY(ringBefore > 2e-3 * range); // a ring worth removing
    if (removed)
        QVERIFY(ringBefore >= 10 * ringAfter);
    else
        QVERIFY(ringAfter <= ringBefore); // left as it is, never made worse
    QVERIFY(changed <= 1e-3 * range);
}

void TestRingRemoval::sinogramWithoutStripesKeepsEveryBit()
{
    // Noise and a body with details: no column is touched at any level.
    HSgm sgm;
    sinogramOf(sgm, sampleOf(Body), 0.002);
    for (const int level : { 1, 3, 8, 20 }) {
        HSgm work;
        copyInto(work, sgm);
        RingRemoval rings;
        QVERIFY(rings.apply(work.sgm.get(), W, Rows, level));
        int differing = 0;
        for (size_t i = 0; i < size_t(W) * Rows; ++i)
            differing += work.sgm[i] == sgm.sgm[i] ? 0 : 1;
        QCOMPARE(differing, 0);
    }
}

QTEST_GUILESS_MAIN(TestRingRemoval)
#include "tst_RingRemoval.moc"
