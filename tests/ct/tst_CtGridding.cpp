// The gridding engine against the sum it stands for, computed by direct sums over every
// projection and frequency, and the parts of its surface the workers rely on.
#include "CtGridding.h"
#include "HSgm.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

// A few discs seen from every angle plus some noise: edges and fine detail.
void fillSinogram(HSgm &sgm, int w, int rows, double rangeDeg, unsigned seed)
{
    sgm.setSize(w, rows);
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0.0, 0.02);
    const double c = (w - 1) / 2.0;
    for (int i = 0; i < rows; ++i) {
        const double th = i * rangeDeg / 180.0 * Pi / rows;
        for (int j = 0; j < w; ++j) {
            double v = noise(gen);
            for (int d = 0; d < 3; ++d) {
                const double r = w * (0.08 + 0.06 * d);
                const double u = j - c - w * 0.12 * d * std::cos(th + d);
                if (std::abs(u) < r)
                    v += 2.0 * std::sqrt(r * r - u * u) * 0.01 * (d + 1);
            }
            sgm.sgmRow(i)[j] = v;
            sgm.rawRow(i)[j] = std::exp(-v);
        }
    }
}

// The slice the engine approximates, by direct sums: each row, centred on sample g = n / 2 and
// zero-padded to L, transformed; times the padded ramp (the Ram-Lak kernel transformed,
// times 2 pi) and sinc^2 of the frequency; every pixel inside the circle the real part of the
// sum of all those plane waves over the frequencies -L/2 < m <= L/2, divided by L P.
std::vector<double> directSlice(const HSgm &sgm, int L, int divisor, double angle0, double step)
{
    const int n = sgm.w / 2 * 2;
    const int g = n / 2;
    std::vector<double> h(L / 2 + 1);
    for (int m = 0; m <= L / 2; ++m) {
        double sum = 0.25;
        for (int k = 1; k <= L / 2; k += 2)
            sum += (k == L / 2 ? 1.0 : 2.0) * -1.0 / (Pi * Pi * k * k)
                * std::cos(2.0 * Pi * m * k / L);
        const double a = Pi * m / L;
        const double sinc = m == 0 ? 1.0 : std::sin(a) / a;
        h[m] = 2.0 * Pi * sum * sinc * sinc;
    }
    std::vector<double> slice(static_cast<std::size_t>(n) * n, 0.0);
    std::vector<std::complex<double>> q(L / 2 + 1);
    for (int i = 0; i < sgm.h; ++i) {
        for (int m = 0; m <= L / 2; ++m) {
            std::complex<double> s = 0.0;
            for (int j = 0; j < n; ++j)
                s += sgm.sgmRow(i)[j] * std::polar(1.0, -2.0 * Pi * m * (j - g) / L);
            q[m] = s * h[m];
        }
        const double c = std::cos(angle0 + i * step);
        const double sn = std::sin(angle0 + i * step);
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                if ((x - g) * (x - g) + (z - g) * (z - g) >= g * g)
                    continue;
                const double t = (x - g) * c - (z - g) * sn;
                const std::complex<double> rot = std::polar(1.0, 2.0 * Pi * t / L);
                std::complex<double> e = 1.0;
                double sum = q[0].real();
                for (int m = 1; m < L / 2; ++m) {
                    e *= rot;
                    sum += 2.0 * (q[m] * e).real();
                }
                sum += (q[L / 2] * std::polar(1.0, Pi * t)).real();
                slice[static_cast<std::size_t>(z) * n + x] += sum / (double(L) * divisor);
            }
    }
    return slice;
}

} // namespace

class TestCtGridding : public QObject
{
    Q_OBJECT
private slots:
    void matchesDirectSum_data();
    void matchesDirectSum();
    void regionAndCircleLimitTheResult_data();
    void regionAndCircleLimitTheResult();
    void nextSliceAndOtherSizesStartClean();
    void refusesWhatItCannotReconstruct();
};

void TestCtGridding::matchesDirectSum_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("projections");
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<double>("originDeg");
    QTest::newRow("64, 180 deg") << 65 << 60 << 180.0 << 0.0;
    // Padded length 196 = 2^2 7^2: no power of two anywhere.
    QTest::newRow("98, 360 deg") << 99 << 72 << 360.0 << 0.0;
    QTest::newRow("50, 180 deg, origin 33 deg") << 51 << 45 << 180.0 << 33.0;
    QTest::newRow("36, 360 deg, origin -100 deg") << 37 << 50 << 360.0 << -100.0;
}

void TestCtGridding::matchesDirectSum()
{
    QFETCH(int, width);
    QFETCH(int, projections);
    QFETCH(double, rangeDeg);
    QFETCH(double, originDeg);
    HSgm sgm;
    fillSinogram(sgm, width, projections, rangeDeg, 7);
    const int n = width / 2 * 2;
    const double step = rangeDeg / 180.0 * Pi / projections;
    const double origin = originDeg / 180.0 * Pi;

    CtGridding engine;
    engine.setup(n, projections);
    QVERIFY(engine.reconstruct(sgm, 0, n, 0, n, origin, step));
    QVERIFY(engine.resultValid());
    QCOMPARE(engine.resultSize(), n);
    const std::vector<double> ref
        = directSlice(sgm, engine.paddedLength(), projections, origin, step);

    const int g = n / 2;
    double lo = 1e300, hi = -1e300, sum2 = 0.0, worst = 0.0;
    int count = 0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const double r = ref[static_cast<std::size_t>(z) * n + x];
            const double d = engine.resultRow(z)[x] - r;
            if ((x - g) * (x - g) + (z - g) * (z - g) >= g * g) {
                QCOMPARE(engine.resultRow(z)[x], 0.0);
                continue;
            }
            lo = std::min(lo, r);
            hi = std::max(hi, r);
            sum2 += d * d;
            worst = std::max(worst, std::abs(d));
            ++count;
        }
    const double range = hi - lo;
    const double rms = std::sqrt(sum2 / count);
    qInfo("rms %.3g, largest %.3g of a range of %.3g", rms, worst, range);
    QVERIFY(range > 0.01);
    QVERIFY2(rms < 1e-3 * range, qPrintable(QString::number(rms / range)));
    QVERIFY2(worst < 5e-3 * range, qPrintable(QString::number(worst / range)));

    // Rows with angles of their own: the common angles as a table give the same slice; the
    // rows in reversed order, each with its angle, the same slice to single precision.
    const std::vector<double> common(engine.resultData(), engine.resultData() + n * n);
    std::vector<double> angles(projections);
    for (int i = 0; i < projections; ++i)
        angles[size_t(i)] = origin + i * step;
    engine.setRowAngles(angles.data());
    QVERIFY(engine.reconstruct(sgm, 0, n, 0, n, 99.0, 99.0));
    QVERIFY(std::equal(common.begin(), common.end(), engine.resultData()));
    HSgm reversed;
    reversed.setSize(width, projections);
    for (int i = 0; i < projections; ++i)
        std::copy(sgm.sgmRow(i), sgm.sgmRow(i) + width, reversed.sgmRow(projections - 1 - i));
    std::reverse(angles.begin(), angles.end());
    QVERIFY(engine.reconstruct(reversed, 0, n, 0, n, 0.0, 0.0));
    for (size_t i = 0; i < common.size(); ++i)
        QVERIFY(std::abs(engine.resultData()[i] - common[i]) <= 1e-5 * range);
    angles[2] = std::nan("");
    QVERIFY(!engine.reconstruct(reversed, 0, n, 0, n, 0.0, 0.0));
}

void TestCtGridding::regionAndCircleLimitTheResult_data()
{
    QTest::addColumn<QRectF>("region"); // x0, z0, x1 - x0, z1 - z0
    QTest::newRow("inside") << QRectF(10.5, 20.0, 30.0, 17.3);
    QTest::newRow("over the circle's edge") << QRectF(0.0, 0.0, 25.0, 64.0);
    QTest::newRow("larger than the slice") << QRectF(-5.0, -5.0, 2047.0, 2047.0);
    QTest::newRow("one row") << QRectF(0.0, 40.0, 64.0, 1.0);
    QTest::newRow("empty") << QRectF(30.0, 30.0, 0.0, 10.0);
}

void TestCtGridding::regionAndCircleLimitTheResult()
{
    QFETCH(QRectF, region);
    HSgm sgm;
    fillSinogram(sgm, 65, 40, 180.0, 3);
    const int n = 64;
    const int g = n / 2;
    const double step = Pi / 40;
    CtGridding whole;
    whole.setup(n, 40);
    QVERIFY(whole.reconstruct(sgm, 0, n, 0, n, 0.0, step));
    CtGridding part;
    part.setup(n, 40);
    QVERIFY(part.reconstruct(
        sgm, region.left(), region.right(), region.top(), region.bottom(), 0.0, step));
    QVERIFY(part.resultValid());
    int inside = 0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const bool wanted = x >= std::trunc(region.left()) && x < region.right()
                && z >= std::trunc(region.top()) && z < region.bottom()
                && (x - g) * (x - g) + (z - g) * (z - g) < g * g;
            const double expected = wanted ? whole.resultRow(z)[x] : 0.0;
            QCOMPARE(part.resultRow(z)[x], expected);
            inside += wanted && expected != 0.0;
        }
    if (region.width() > 0)
        QVERIFY(inside > 0);
}

void TestCtGridding::nextSliceAndOtherSizesStartClean()
{
    // Every slice must start from an empty grid, also after a slice of another size.
    HSgm a, b, c;
    fillSinogram(a, 65, 40, 180.0, 1);
    fillSinogram(b, 81, 50, 360.0, 2);
    fillSinogram(c, 65, 30, 180.0, 4);
    CtGridding engine;
    engine.setup(64, 40);
    for (const HSgm *sgm : { &a, &b, &c, &a }) {
        const int n = sgm->w / 2 * 2;
        const double step = (sgm == &b ? 2.0 : 1.0) * Pi / sgm->h;
        QVERIFY(engine.reconstruct(*sgm, 0, n, 0, n, 0.2, step));
        CtGridding fresh;
        fresh.setup(n, 40);
        QVERIFY(fresh.reconstruct(*sgm, 0, n, 0, n, 0.2, step));
        QCOMPARE(engine.resultSize(), n);
        for (int at = 0; at < n * n; ++at)
            QCOMPARE(engine.resultData()[at], fresh.resultData()[at]);
    }
    // The divisor is the one set up, whatever the number of rows.
    QCOMPARE(engine.projections(), 40);
}

void TestCtGridding::refusesWhatItCannotReconstruct()
{
    CtGridding engine;
    engine.setup(64, 4);
    HSgm narrow;
    narrow.setSize(1, 4);
    for (int i = 0; i < 4; ++i)
        narrow.sgmRow(i)[0] = 1.0;
    QVERIFY(!engine.reconstruct(narrow, 0, 64, 0, 64, 0.0, 0.1));
    QVERIFY(!engine.resultValid());
    HSgm empty;
    QVERIFY(!engine.reconstruct(empty, 0, 64, 0, 64, 0.0, 0.1));
    HSgm sgm;
    fillSinogram(sgm, 33, 8, 180.0, 5);
    // A data set of 0 images gives an infinite angle step.
    QVERIFY(!engine.reconstruct(sgm, 0, 32, 0, 32, 0.0, std::numeric_limits<double>::infinity()));
    QVERIFY(!engine.resultValid());
    QVERIFY(!engine.reconstruct(sgm, 0, 32, 0, 32, std::nan(""), 0.1));
    // A region that is not a number reconstructs nothing but is no failure.
    QVERIFY(engine.reconstruct(sgm, std::nan(""), 32, 0, 32, 0.0, 0.1));
    engine.findMinMax();
    QCOMPARE(engine.resMin(), 0.0);
    QCOMPARE(engine.resMax(), 0.0);
    // And the engine still works afterwards.
    QVERIFY(engine.reconstruct(sgm, 0, 32, 0, 32, 0.0, Pi / 8));
    engine.findMinMax();
    QVERIFY(engine.resMax() > engine.resMin());
}

QTEST_MAIN(TestCtGridding)
#include "tst_CtGridding.moc"
