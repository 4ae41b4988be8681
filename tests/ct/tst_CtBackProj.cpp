#include "CtBackProj.h"
#include "CtParams.h"
#include "FourierSinogram.h"
#include "HSgm.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(CtBackProj::Path)
Q_DECLARE_METATYPE(CtFilterKind)

namespace {

constexpr double Pi = std::numbers::pi;

std::vector<double> randomRow(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 2.0);
    std::vector<double> row(n);
    for (double &v : row)
        v = dist(gen);
    return row;
}

// Ramp filter by direct sums: X = DFT(row); Y[m] = X[m] 2 pi min(m, n - m) / n;
// value k = Re(sum_m Y[m] e^{+2 pi i m k / n}) / divisor.
std::vector<double> directRamp(const std::vector<double> &row, int n, double divisor)
{
    std::vector<std::complex<double>> spectrum(n);
    for (int m = 0; m < n; ++m) {
        std::complex<double> sum = 0.0;
        for (int j = 0; j < n; ++j)
            sum += row[j] * std::polar(1.0, -2.0 * Pi * double(m) * j / n);
        spectrum[m] = sum * (2.0 * Pi / n * std::min(m, n - m));
    }
    std::vector<double> out(n);
    for (int k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (int m = 0; m < n; ++m)
            sum += spectrum[m] * std::polar(1.0, 2.0 * Pi * double(m) * k / n);
        out[k] = sum.real() / divisor;
    }
    return out;
}

// Fills the engine with `rows` random filtered rows of length n.
void loadRandomRows(CtBackProj &engine, int n, int rows, unsigned seed)
{
    engine.setup(n, rows);
    for (int i = 0; i < rows; ++i) {
        const std::vector<double> row = randomRow(n, seed + i);
        QVERIFY(engine.fftRow(row.data(), i));
        QVERIFY(engine.filterRow(i));
    }
}

// The back-projection written straight from its definition, over projections
// 0 ... rows - 1 in order. `boundary` receives, per pixel, the sum of |f[n - 1]| over the
// projections whose detector position lands exactly on the last sample: the one case
// where another rounding of t may legitimately tip the sample in or out.
void referenceBackProject(const CtBackProj &engine, int rows, double x0, double x1, double z0,
    double z1, double angle0, double dAngle, std::vector<double> &result,
    std::vector<double> &boundary)
{
    const int n = engine.n();
    result.assign(size_t(n) * n, 0.0);
    boundary.assign(size_t(n) * n, 0.0);
    const double g = n / 2;
    for (int i = 0; i < rows; ++i) {
        const double theta = angle0 + i * dAngle;
        const double c = std::cos(theta);
        const double s = std::sin(theta);
        // Past n every pixel fails the circle test; stopping there keeps huge regions quick.
        for (int z = int(std::trunc(z0)); z < z1 && z <= n; ++z) {
            for (int x = int(std::trunc(x0)); x < x1 && x <= n; ++x) {
                if (!(std::sqrt((x - g) * (x - g) + (z - g) * (z - g)) < g))
                    continue;
                const double t = (x - g) * c - (z - g) * s + g;
                const double k = std::floor(t);
                if (t == n - 1)
                    boundary[size_t(z) * n + x] += std::abs(engine.filtered(i, n - 1));
                if (!(k >= 0 && k < n - 1))
                    continue;
                const int ki = int(k);
                result[size_t(z) * n + x] += engine.filtered(i, ki)
                    + (engine.filtered(i, ki + 1) - engine.filtered(i, ki)) * (t - k);
            }
        }
    }
}

double maxAbs(const double *v, size_t count)
{
    double m = 0.0;
    for (size_t i = 0; i < count; ++i)
        m = std::max(m, std::abs(v[i]));
    return m;
}

bool allZero(const CtBackProj &engine)
{
    const int n = engine.resultSize();
    return maxAbs(engine.resultData(), size_t(n) * n) == 0.0;
}

using Path = CtBackProj::Path;
const Path allPaths[] = { Path::Portable, Path::Avx2, Path::Avx512 };

// Selects the loop of a data row, or skips the row on a processor that lacks it.
#define USE_PATH(engine, path)                                                                     \
    do {                                                                                           \
        if (!CtBackProj::pathAvailable(path))                                                      \
            QSKIP("this processor cannot run the loop");                                           \
        QVERIFY((engine).setPath(path));                                                           \
    } while (false)

std::vector<double> resultCopy(const CtBackProj &engine)
{
    const size_t size = size_t(engine.resultSize()) * engine.resultSize();
    return std::vector<double>(engine.resultData(), engine.resultData() + size);
}

// Pixels whose values differ in any bit (+0 and -0 count as equal).
int differingPixels(const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(a[i] == b[i]))
            ++count;
    return count;
}

// The spatial Ram-Lak kernel.
double ramLak(int lag)
{
    return lag == 0 ? 0.25 : (lag % 2 != 0 ? -1.0 / (Pi * Pi * double(lag) * lag) : 0.0);
}

// The filter's kernel g(lag) for lags 0 ... n - 1 (it is even), such that a padded filter
// gives 2 pi sum_j row[j] g(k - j) / P. The ramp_padded kernel is Ram-Lak itself; Hamming and
// Hann (a + b cos w) are Ram-Lak convolved with a delta and its two neighbours; Shepp-Logan
// and cosine, whose windows are no trigonometric polynomials, are summed from the
// frequency response at the engine's padded length m, written out term by term.
std::vector<double> paddedKernel(CtFilterKind kind, int n, int m)
{
    std::vector<double> g(n);
    if (kind == CtFilterKind::RampPadded || kind == CtFilterKind::Hamming
        || kind == CtFilterKind::Hann) {
        const double a
            = kind == CtFilterKind::Hamming ? 0.54 : (kind == CtFilterKind::Hann ? 0.5 : 1.0);
        const double b = 1.0 - a;
        for (int d = 0; d < n; ++d)
            g[d] = a * ramLak(d) + b / 2 * (ramLak(d - 1) + ramLak(d + 1));
        return g;
    }
    // cos(2 pi j / m) for j = 0 ... m - 1: every product m * l is reduced modulo m, so the
    // sums below need no further cosines.
    std::vector<double> cosine(m);
    for (int j = 0; j < m; ++j)
        cosine[j] = std::cos(2.0 * Pi * j / m);
    std::vector<double> response(m / 2 + 1);
    for (int f = 0; f <= m / 2; ++f) {
        // Ram-Lak at lags -m/2 + 1 ... m/2 (all that fit on the circle).
        double r = ramLak(0);
        for (int l = 1; l < m / 2; ++l)
            r += 2.0 * ramLak(l) * cosine[(long long)f * l % m];
        r += ramLak(m / 2) * cosine[(long long)f * (m / 2) % m];
        const double w = 2.0 * Pi * f / m;
        const double window = kind == CtFilterKind::SheppLogan
            ? (f == 0 ? 1.0 : std::sin(w / 2) / (w / 2))
            : std::cos(w / 2);
        response[f] = r * window;
    }
    for (int d = 0; d < n; ++d) {
        double sum = response[0] + response[m / 2] * cosine[(long long)(m / 2) * d % m];
        for (int f = 1; f < m / 2; ++f)
            sum += 2.0 * response[f] * cosine[(long long)f * d % m];
        g[d] = sum / m;
    }
    return g;
}

// Smallest even number >= 2n whose prime factors are 2, 3, 5 and 7 only, by trial.
int smoothEvenLength(int n)
{
    for (int v = 2 * n;; ++v) {
        int r = v;
        for (const int p : { 2, 3, 5, 7 })
            while (r % p == 0)
                r /= p;
        if (r == 1 && v % 2 == 0)
            return v;
    }
}

} // namespace

class TestCtBackProj : public QObject
{
    Q_OBJECT
private slots:
    void setupRoundsToEvenAndKeepsBuffers_data();
    void setupRoundsToEvenAndKeepsBuffers();
    void filterMatchesDirectRamp_data();
    void filterMatchesDirectRamp();
    void paddedFiltersAtEveryWidth_data();
    void paddedFiltersAtEveryWidth();
    void backProjectMatchesFormula_data();
    void backProjectMatchesFormula();
    void pathsGiveTheSameNumbers_data();
    void pathsGiveTheSameNumbers();
    void switchingPathKeepsRows_data();
    void switchingPathKeepsRows();
    void pathChoice();
    void projectionByProjectionEqualsAllAtOnce_data();
    void projectionByProjectionEqualsAllAtOnce();
    void rowRangesOnThreadsEqualAllAtOnce_data();
    void rowRangesOnThreadsEqualAllAtOnce();
    void refusesBadAngles_data();
    void refusesBadAngles();
    void refusesMismatchedResultAndNarrowRows();
    void reconstructResizesForWiderSliceAndMoreRows();
    void reconstructOfTooNarrowSinogramDoesNothing();
    void planningOnSeveralThreadsAtOnce();
    void fourierSinogramMatchesDirectSum();
    void uniformCylinderReadsItsValue_data();
    void uniformCylinderReadsItsValue();
    void unevenAnglesAreWeighted_data();
    void unevenAnglesAreWeighted();
};

void TestCtBackProj::setupRoundsToEvenAndKeepsBuffers_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("expected");
    QTest::newRow("odd is rounded down") << 513 << 512;
    QTest::newRow("two") << 2 << 2;
    QTest::newRow("one gives nothing") << 1 << 0;
}

void TestCtBackProj::setupRoundsToEvenAndKeepsBuffers()
{
    QFETCH(int, requested);
    QFETCH(int, expected);
    CtBackProj engine;
    engine.setup(requested, 10);
    QCOMPARE(engine.n(), expected);
    QCOMPARE(engine.projections(), 10);
    if (expected == 0) {
        const double row[4] = { 1, 2, 3, 4 };
        QVERIFY(!engine.fftRow(row, 0));
        QVERIFY(!engine.filterRow(0));
        return;
    }
    // The same length with more projections must give room for every row.
    engine.setup(requested, 25);
    QCOMPARE(engine.projections(), 25);
    QVERIFY(engine.rowCapacity() >= 25);
    const std::vector<double> row = randomRow(expected, 3);
    QVERIFY(engine.fftRow(row.data(), 24));
    QVERIFY(engine.filterRow(24));
    QVERIFY(!engine.fftRow(row.data(), engine.rowCapacity()));
    QVERIFY(!engine.fftRow(row.data(), -1));
}

void TestCtBackProj::filterMatchesDirectRamp_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("projections");
    QTest::addColumn<double>("divisor");
    QTest::newRow("n=2") << 2 << 1 << 2.0;
    QTest::newRow("n=30 P=7") << 30 << 7 << 210.0;
    QTest::newRow("no projections: factor 1") << 12 << 0 << 1.0;
}

void TestCtBackProj::filterMatchesDirectRamp()
{
    QFETCH(int, n);
    QFETCH(int, projections);
    QFETCH(double, divisor);
    CtBackProj engine;
    engine.setup(n, projections);
    // A row longer than n: only the first n samples count.
    std::vector<double> row = randomRow(n + 1, 11);
    QVERIFY(engine.prepare(n, 1));
    QVERIFY(engine.fftRow(row.data(), 0));
    QVERIFY(engine.filterRow(0));
    row.resize(n);
    const std::vector<double> expected = directRamp(row, n, divisor);
    const double scale = maxAbs(expected.data(), expected.size()) + 1e-300;
    for (int k = 0; k < n; ++k)
        QVERIFY2(std::abs(engine.filtered(0, k) - expected[k]) < 1e-12 * scale,
            qPrintable(
                QString("k=%1: %2 vs %3").arg(k).arg(engine.filtered(0, k)).arg(expected[k])));
}

void TestCtBackProj::paddedFiltersAtEveryWidth_data()
{
    QTest::addColumn<CtFilterKind>("filter");
    QTest::addColumn<int>("from"); // even widths from ... to
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    for (const CtFilterKind f : { CtFilterKind::RampPadded, CtFilterKind::Hamming,
             CtFilterKind::Hann, CtFilterKind::SheppLogan, CtFilterKind::Cosine }) {
        const QByteArray nameBytes = CtFilter::name(f).toLatin1();
        const char *name = nameBytes.constData();
        // Every even width up to 600, the runs around 1970 and 2540 where twice the width
        // needs an odd factor to be 7-smooth, a stride through the rest and the top; the
        // padded length is checked at every width of each range.
        // The kernels of Shepp-Logan and cosine cost m^2 to write out: fewer large widths.
        const bool summed = f == CtFilterKind::SheppLogan || f == CtFilterKind::Cosine;
        QTest::addRow("%s 2-600", name) << f << 2 << 600 << 2;
        QTest::addRow("%s 1960-1986", name) << f << 1960 << 1986 << (summed ? 24 : 2);
        QTest::addRow("%s 2520-2572", name) << f << 2520 << 2572 << (summed ? 50 : 4);
        if (!summed)
            QTest::addRow("%s 602-8188", name) << f << 602 << 8188 << 62;
        QTest::addRow("%s 8190-8192", name) << f << 8190 << 8192 << 2;
    }
}

void TestCtBackProj::paddedFiltersAtEveryWidth()
{
    QFETCH(CtFilterKind, filter);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    // At every width the engine takes the filter, pads to the smallest even 7-smooth length
    // of at least twice the row, and its filtered row equals the linear convolution with the
    // filter's kernel, at the first and last samples and at a few others.
    const int projections = 3;
    // The padded length at every width of the range, odd ones too.
    for (int n = from; n <= to; ++n)
        QCOMPARE(CtFilter::paddedLength(n), smoothEvenLength(n));
    CtBackProj engine;
    for (int n = from; n <= to; n += step) {
        engine.setup(n, projections);
        QVERIFY2(engine.setFilter(filter), qPrintable(QString("width %1").arg(n)));
        QVERIFY2(engine.prepare(n, 1), qPrintable(QString("width %1").arg(n)));
        const int m = engine.paddedLength();
        QCOMPARE(m, smoothEvenLength(n));
        const std::vector<double> row = randomRow(n, unsigned(n));
        QVERIFY(engine.fftRow(row.data(), 0));
        QVERIFY(engine.filterRow(0));
        const std::vector<double> g = paddedKernel(filter, n, m);
        std::vector<int> samples { 0, 1, n / 2, n - 2, n - 1 };
        std::mt19937 gen { unsigned(n) };
        for (int j = 0; j < 6; ++j)
            samples.push_back(int(gen() % unsigned(n)));
        double scale = 0.0;
        for (const double v : row)
            scale += std::abs(v);
        for (const int k : samples) {
            if (k < 0 || k >= n)
                continue;
            double want = 0.0;
            for (int j = 0; j < n; ++j)
                want += row[j] * g[std::abs(k - j)];
            want *= 2.0 * Pi / projections;
            const double got = engine.filtered(0, k);
            QVERIFY2(std::abs(got - want) < 1e-11 * scale,
                qPrintable(QString("width %1 (padded %2), sample %3: %4, by direct sums %5")
                               .arg(n)
                               .arg(m)
                               .arg(k)
                               .arg(got, 0, 'g', 15)
                               .arg(want, 0, 'g', 15)));
        }
    }
}

void TestCtBackProj::backProjectMatchesFormula_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("rows");
    QTest::addColumn<double>("angle0");
    QTest::addColumn<double>("dAngle");
    QTest::addColumn<QList<double>>("region"); // x0, x1, z0, z1
    QTest::addColumn<Path>("path");

    const QList<double> full { 0, 1e9, 0, 1e9 };
    for (const Path path : allPaths) {
        const char *k = CtBackProj::pathName(path);
        QTest::addRow("%s 180 deg", k) << 96 << 45 << 0.0 << Pi / 45 << full << path;
        // 4 projections with steps of 90 degrees land exactly on the last sample.
        QTest::addRow("%s right angles", k) << 64 << 4 << 0.0 << Pi / 2 << full << path;
        QTest::addRow("%s 360 deg with origin", k)
            << 80 << 60 << 30.0 * Pi / 180 << 2 * Pi / 60 << full << path;
        QTest::addRow("%s fractional region", k)
            << 128 << 20 << 0.1 << Pi / 20 << QList<double> { 10.7, 99.2, 20.6, 100.0 } << path;
        QTest::addRow("%s negative start", k)
            << 70 << 9 << -1.0 << 0.37 << QList<double> { -5.5, 40, -3.2, 66 } << path;
        QTest::addRow("%s many blocks", k) << 40 << 70 << 0.3 << Pi / 70 << full << path;
        // Rows 1 ... 21 pixels wide: only the short-stretch parts of the vector loops.
        QTest::addRow("%s narrow region", k)
            << 90 << 13 << 0.2 << Pi / 13 << QList<double> { 40, 61, 0, 90 } << path;
    }
}

void TestCtBackProj::backProjectMatchesFormula()
{
    QFETCH(int, n);
    QFETCH(int, rows);
    QFETCH(double, angle0);
    QFETCH(double, dAngle);
    QFETCH(QList<double>, region);
    QFETCH(Path, path);

    CtBackProj engine;
    USE_PATH(engine, path);
    loadRandomRows(engine, n, rows, 100);
    engine.initResult(n);
    QVERIFY(
        engine.backProjectAll(rows, region[0], region[1], region[2], region[3], angle0, dAngle));
    QVERIFY(engine.resultValid());

    std::vector<double> expected, boundary;
    referenceBackProject(engine, rows, region[0], region[1], region[2], region[3], angle0, dAngle,
        expected, boundary);
    const double tolerance = 1e-9 * maxAbs(expected.data(), expected.size());
    QVERIFY(tolerance > 0);
    int differing = 0;
    for (int z = 0; z < n; ++z) {
        for (int x = 0; x < n; ++x) {
            const size_t at = size_t(z) * n + x;
            const double diff = std::abs(engine.resultRow(z)[x] - expected[at]);
            if (diff > tolerance + boundary[at] * (1 + 1e-9)) {
                ++differing;
                if (differing < 5)
                    qWarning("pixel (%d, %d): %.17g vs %.17g", x, z, engine.resultRow(z)[x],
                        expected[at]);
            }
        }
    }
    QCOMPARE(differing, 0);
}

void TestCtBackProj::pathsGiveTheSameNumbers_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("rows");
    QTest::addColumn<double>("angle0");
    QTest::addColumn<double>("dAngle");
    QTest::addColumn<QList<double>>("region"); // x0, x1, z0, z1
    const QList<double> full { 0, 1e9, 0, 1e9 };
    QTest::newRow("180 deg, 2 blocks and a part") << 256 << 21 << 0.0 << Pi / 21 << full;
    QTest::newRow("right angles: the last sample") << 64 << 8 << 0.0 << Pi / 4 << full;
    QTest::newRow("360 deg, falling and rising t") << 130 << 36 << 0.25 << Pi / 18 << full;
    QTest::newRow("fractional region")
        << 200 << 11 << -0.4 << 0.29 << QList<double> { 3.3, 187.9, 17.5, 160.2 };
    QTest::newRow("two samples") << 2 << 3 << 0.0 << 1.0 << full;
}

void TestCtBackProj::pathsGiveTheSameNumbers()
{
    QFETCH(int, n);
    QFETCH(int, rows);
    QFETCH(double, angle0);
    QFETCH(double, dAngle);
    QFETCH(QList<double>, region);

    std::vector<double> portable;
    for (const Path path : CtBackProj::availablePaths()) {
        CtBackProj engine;
        QVERIFY(engine.setPath(path));
        loadRandomRows(engine, n, rows, 300);
        engine.initResult(n);
        QVERIFY(engine.backProjectAll(
            rows, region[0], region[1], region[2], region[3], angle0, dAngle));
        const std::vector<double> result = resultCopy(engine);
        if (path == Path::Portable) {
            portable = result;
            QVERIFY(n == 2 || maxAbs(result.data(), result.size()) > 0);
            continue;
        }
        QVERIFY2(differingPixels(result, portable) == 0, CtBackProj::pathName(path));
    }
}

void TestCtBackProj::switchingPathKeepsRows_data()
{
    QTest::addColumn<Path>("from");
    QTest::addColumn<Path>("to");
    for (const Path from : allPaths)
        for (const Path to : allPaths)
            if (from != to)
                QTest::addRow("%s to %s", CtBackProj::pathName(from), CtBackProj::pathName(to))
                    << from << to;
}

void TestCtBackProj::switchingPathKeepsRows()
{
    QFETCH(Path, from);
    QFETCH(Path, to);
    if (!CtBackProj::pathAvailable(to))
        QSKIP("this processor cannot run the loop");
    const int n = 96;
    const int rows = 12;
    CtBackProj engine;
    USE_PATH(engine, from);
    loadRandomRows(engine, n, rows, 500);
    std::vector<double> values;
    for (int i = 0; i < rows; ++i)
        for (int k = 0; k < n; ++k)
            values.push_back(engine.filtered(i, k));
    engine.initResult(n);
    QVERIFY(engine.backProjectAll(rows, 0, n, 0, n, 0.1, Pi / rows));
    const std::vector<double> before = resultCopy(engine);

    // One more row only transformed: its spectrum must survive the switch untouched.
    engine.prepare(n, rows + 1);
    const std::vector<double> extra = randomRow(n, 77);
    QVERIFY(engine.fftRow(extra.data(), rows));
    const std::vector<double> spectrum(engine.spectrum(rows), engine.spectrum(rows) + 2 * n);

    QVERIFY(engine.setPath(to));
    QCOMPARE(engine.path(), to);
    for (int k = 0; k < 2 * n; ++k)
        QCOMPARE(engine.spectrum(rows)[k], spectrum[k]);
    // Growing the row buffers keeps the rearranged tables as they are.
    QVERIFY(engine.prepare(n, rows + 40));
    int at = 0;
    for (int i = 0; i < rows; ++i)
        for (int k = 0; k < n; ++k, ++at)
            QVERIFY(engine.filtered(i, k) == values[at]);
    engine.initResult(n);
    QVERIFY(engine.backProjectAll(rows, 0, n, 0, n, 0.1, Pi / rows));
    QCOMPARE(differingPixels(resultCopy(engine), before), 0);

    // The row filtered after the switch equals one filtered by an engine that never switched.
    QVERIFY(engine.filterRow(rows));
    CtBackProj fresh;
    QVERIFY(fresh.setPath(to));
    fresh.setup(n, rows);
    fresh.prepare(n, 1);
    QVERIFY(fresh.fftRow(extra.data(), 0));
    QVERIFY(fresh.filterRow(0));
    for (int k = 0; k < n; ++k)
        QVERIFY(engine.filtered(rows, k) == fresh.filtered(0, k));
}

void TestCtBackProj::pathChoice()
{
    const std::vector<Path> paths = CtBackProj::availablePaths();
    QVERIFY(!paths.empty());
    QCOMPARE(paths.front(), Path::Portable);
    QCOMPARE(paths.back(), CtBackProj::bestPath());
    for (const Path path : allPaths) {
        const bool listed = std::find(paths.begin(), paths.end(), path) != paths.end();
        QCOMPARE(CtBackProj::pathAvailable(path), listed);
    }
    qInfo("back-projection loops on this processor: %s ... %s", CtBackProj::pathName(paths.front()),
        CtBackProj::pathName(paths.back()));

    CtBackProj engine;
    QCOMPARE(engine.path(), CtBackProj::bestPath());
    engine.setVectorised(false);
    QCOMPARE(engine.path(), Path::Portable);
    engine.setVectorised(true);
    QCOMPARE(engine.path(), CtBackProj::bestPath());
    QCOMPARE(CtBackProj::vectorUnitAvailable(), CtBackProj::bestPath() != Path::Portable);
    for (const Path path : allPaths) {
        if (CtBackProj::pathAvailable(path))
            continue;
        // Refused, and the loop in use stays.
        QVERIFY(!engine.setPath(path));
        QCOMPARE(engine.path(), CtBackProj::bestPath());
    }
}

void TestCtBackProj::projectionByProjectionEqualsAllAtOnce_data()
{
    QTest::addColumn<Path>("path");
    for (const Path path : allPaths)
        QTest::newRow(CtBackProj::pathName(path)) << path;
}

void TestCtBackProj::projectionByProjectionEqualsAllAtOnce()
{
    QFETCH(Path, path);
    const int n = 100;
    const int rows = 37;
    CtBackProj engine;
    USE_PATH(engine, path);
    loadRandomRows(engine, n, rows, 7);
    engine.initResult(n);
    QVERIFY(engine.backProjectAll(rows, 0, n, 0, n, 0.2, Pi / rows));
    const std::vector<double> all(engine.resultData(), engine.resultData() + n * n);
    engine.initResult(n);
    QVERIFY(!engine.resultValid());
    for (int i = 0; i < rows; ++i)
        QVERIFY(engine.backProject(i, 0, n, 0, n, 0.2, Pi / rows));
    // Same order of summation per pixel: the same numbers, bit for bit.
    QCOMPARE(differingPixels(resultCopy(engine), all), 0);

    // Rows with angles of their own: the common step's angles as a table give the same
    // numbers; rows taken in another order, each with its angle, the same slice to rounding.
    std::vector<double> angles(rows);
    for (int i = 0; i < rows; ++i)
        angles[size_t(i)] = 0.2 + i * (Pi / rows);
    engine.setRowAngles(angles.data());
    engine.initResult(n);
    QVERIFY(engine.backProjectAll(rows, 0, n, 0, n, 99.0, 99.0));
    QCOMPARE(differingPixels(resultCopy(engine), all), 0);
    CtBackProj reversed;
    USE_PATH(reversed, path);
    reversed.setup(n, rows);
    for (int i = 0; i < rows; ++i) {
        const std::vector<double> row = randomRow(n, 7 + unsigned(i));
        QVERIFY(reversed.fftRow(row.data(), rows - 1 - i));
    }
    for (int i = 0; i < rows; ++i)
        QVERIFY(reversed.filterRow(i));
    std::reverse(angles.begin(), angles.end());
    reversed.setRowAngles(angles.data());
    reversed.initResult(n);
    QVERIFY(reversed.backProjectAll(rows, 0, n, 0, n, 0.0, 0.0));
    const std::vector<double> swapped = resultCopy(reversed);
    for (size_t i = 0; i < all.size(); ++i)
        QVERIFY(std::abs(swapped[i] - all[i]) <= 1e-12 * (1.0 + std::abs(all[i])));
    angles[3] = std::nan(""); // an angle that is no number refuses the slice
    reversed.initResult(n);
    QVERIFY(!reversed.backProjectAll(rows, 0, n, 0, n, 0.0, 0.0));
    QVERIFY(allZero(reversed));
}

void TestCtBackProj::rowRangesOnThreadsEqualAllAtOnce_data()
{
    projectionByProjectionEqualsAllAtOnce_data();
}

void TestCtBackProj::rowRangesOnThreadsEqualAllAtOnce()
{
    QFETCH(Path, path);
    const int n = 128;
    const int rows = 30;
    CtBackProj engine;
    USE_PATH(engine, path);
    loadRandomRows(engine, n, rows, 21);
    engine.initResult(n);
    QVERIFY(engine.backProjectAll(rows, 3, 120, 5, 125, 0.0, Pi / rows));
    const std::vector<double> all(engine.resultData(), engine.resultData() + n * n);

    engine.initResult(n);
    bool ok[3] = {};
    const int cuts[4] = { 0, 41, 77, n };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            ok[t] = engine.backProjectRows(
                rows, 3, 120, 5, 125, 0.0, Pi / rows, cuts[t], cuts[t + 1]);
        });
    for (std::thread &t : threads)
        t.join();
    QVERIFY(ok[0] && ok[1] && ok[2]);
    QCOMPARE(differingPixels(resultCopy(engine), all), 0);

    // A range outside the result or empty writes nothing.
    engine.initResult(n);
    QVERIFY(engine.backProjectRows(rows, 0, n, 0, n, 0.0, Pi / rows, 200, 300));
    QVERIFY(engine.backProjectRows(rows, 0, n, 0, n, 0.0, Pi / rows, 50, 50));
    QVERIFY(allZero(engine));
}

void TestCtBackProj::refusesBadAngles_data()
{
    QTest::addColumn<double>("angle0");
    QTest::addColumn<double>("dAngle");
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("infinite step (0 images)") << 0.0 << inf;
    QTest::newRow("NaN step") << 0.0 << std::nan("");
    QTest::newRow("infinite origin") << -inf << 0.1;
    QTest::newRow("last angle overflows") << 0.0 << 1e308;
}

void TestCtBackProj::refusesBadAngles()
{
    QFETCH(double, angle0);
    QFETCH(double, dAngle);
    CtBackProj engine;
    loadRandomRows(engine, 32, 4, 5);
    engine.initResult(32);
    QVERIFY(!engine.backProjectAll(4, 0, 32, 0, 32, angle0, dAngle));
    QVERIFY(!engine.backProject(3, 0, 32, 0, 32, angle0, dAngle));
    QVERIFY(!engine.resultValid());
    QVERIFY(allZero(engine));
}

void TestCtBackProj::refusesMismatchedResultAndNarrowRows()
{
    CtBackProj engine;
    loadRandomRows(engine, 32, 4, 9);
    // A result of another size than the transforms would be read past the tables.
    engine.initResult(48);
    QVERIFY(!engine.backProjectAll(4, 0, 48, 0, 48, 0.0, 0.5));
    QVERIFY(allZero(engine));
    engine.initResult(32);
    QVERIFY(!engine.backProjectAll(5, 0, 32, 0, 32, 0.0, 0.5)); // more rows than filtered
    QVERIFY(!engine.backProject(-1, 0, 32, 0, 32, 0.0, 0.5));
    QVERIFY(!engine.backProjectAll(0, 0, 32, 0, 32, 0.0, 0.5));
    // NaN regions reconstruct nothing but are no failure.
    QVERIFY(engine.backProjectAll(4, std::nan(""), 32, 0, 32, 0.0, 0.5));
    QVERIFY(allZero(engine));
}

void TestCtBackProj::reconstructResizesForWiderSliceAndMoreRows()
{
    // Sized for 100 samples and 5 projections; the slice is 129 wide with 12 rows.
    const int w = 129;
    const int rows = 12;
    HSgm sgm;
    sgm.setSize(w, rows);
    for (int i = 0; i < rows; ++i) {
        const std::vector<double> r = randomRow(w, 40 + i);
        std::copy(r.begin(), r.end(), sgm.sgmRow(i));
    }
    CtBackProj engine;
    engine.setup(100, 5);
    QVERIFY(engine.reconstruct(sgm, 0, 128, 0, 128, 0.0, Pi / rows));
    QCOMPARE(engine.n(), 128);
    QCOMPARE(engine.resultSize(), 128);
    QVERIFY(engine.rowCapacity() >= rows);
    QCOMPARE(engine.projections(), 5); // the divisor stays what the run set up

    CtBackProj fresh;
    fresh.setup(128, 5);
    fresh.prepare(128, rows);
    fresh.initResult(128);
    for (int i = 0; i < rows; ++i) {
        QVERIFY(fresh.fftRow(sgm.sgmRow(i), i));
        QVERIFY(fresh.filterRow(i));
    }
    QVERIFY(fresh.backProjectAll(rows, 0, 128, 0, 128, 0.0, Pi / rows));
    for (int at = 0; at < 128 * 128; ++at)
        QCOMPARE(engine.resultData()[at], fresh.resultData()[at]);
}

void TestCtBackProj::reconstructOfTooNarrowSinogramDoesNothing()
{
    CtBackProj engine;
    engine.setup(64, 4);
    HSgm sgm;
    sgm.setSize(1, 4);
    for (int i = 0; i < 4; ++i)
        sgm.sgmRow(i)[0] = 1.0;
    QVERIFY(!engine.reconstruct(sgm, 0, 64, 0, 64, 0.0, 0.1));
    QVERIFY(!engine.resultValid());
    HSgm empty;
    QVERIFY(!engine.reconstruct(empty, 0, 64, 0, 64, 0.0, 0.1));
    empty.setSize(-1, 4); // a window without room: recorded, never allocated
    QVERIFY(!empty.hasData());
    QVERIFY(!engine.reconstruct(empty, 0, 64, 0, 64, 0.0, 0.1));
}

void TestCtBackProj::planningOnSeveralThreadsAtOnce()
{
    // Workers re-size their engines while the GUI thread plans a Fourier picture.
    const int lengths[] = { 64, 96, 128, 80 };
    std::vector<double> sums(2, 0.0);
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t)
        workers.emplace_back([&, t] {
            CtBackProj engine;
            double sum = 0.0;
            for (int round = 0; round < 40; ++round) {
                const int n = lengths[(round + t) % 4];
                if (!engine.prepare(n, 3))
                    return;
                const std::vector<double> row(n, 1.0);
                engine.fftRow(row.data(), 0);
                sum += engine.spectrum(0)[0] / n; // the zero frequency of a row of ones
            }
            sums[t] = sum;
        });
    std::vector<double> raw(12 * 9, 1.0);
    for (int round = 0; round < 40; ++round)
        QCOMPARE(int(fourierSinogram(raw.data(), 12, 9).size()), 12 * 18);
    for (std::thread &w : workers)
        w.join();
    QCOMPARE(sums[0], 40.0);
    QCOMPARE(sums[1], 40.0);
}

void TestCtBackProj::fourierSinogramMatchesDirectSum()
{
    const int w = 5;
    const int h = 3;
    std::vector<double> raw(w * h);
    for (int i = 0; i < w * h; ++i)
        raw[i] = 1.0 + 0.5 * std::sin(1.7 * i);
    const std::vector<double> mag = fourierSinogram(raw.data(), w, h);
    QCOMPARE(int(mag.size()), w * 2 * h);
    // The sinogram stacked on its left-right mirror, scaled by 1 / (2hw).
    auto input = [&](int r, int j) {
        const double *row = raw.data() + (r % h) * w;
        return (r < h ? row[j] : row[w - 1 - j]) / (2.0 * h * w);
    };
    for (int u = 0; u < 2 * h; ++u)
        for (int v = 0; v < w; ++v) {
            std::complex<double> sum = 0.0;
            for (int r = 0; r < 2 * h; ++r)
                for (int j = 0; j < w; ++j)
                    sum += input(r, j)
                        * std::polar(1.0, -2 * Pi * (double(u) * r / (2 * h) + double(v) * j / w));
            QVERIFY(std::abs(mag[u * w + v] - std::abs(sum)) < 1e-12);
        }
    QVERIFY(fourierSinogram(raw.data(), 0, h).empty());
    QVERIFY(fourierSinogram(nullptr, w, h).empty());
}

void TestCtBackProj::uniformCylinderReadsItsValue_data()
{
    QTest::addColumn<CtFilterKind>("filter");
    QTest::addColumn<double>("fill");
    QTest::addColumn<int>("n");
    for (const CtFilterKind f : { CtFilterKind::RampPadded, CtFilterKind::SheppLogan,
             CtFilterKind::Cosine, CtFilterKind::Hamming, CtFilterKind::Hann })
        for (const double fill : { 0.3, 0.5, 0.7, 0.9 })
            QTest::addRow("%s %d %%", qPrintable(CtFilter::name(f)), int(fill * 100))
                << f << fill << 256;
    // Widths whose twice has no small factors, the next length with only factors 2, 3, 5 and
    // 7 being odd (105, 315): the padded transform must still be of even length.
    QTest::newRow("ramp_padded 52 px") << CtFilterKind::RampPadded << 0.5 << 52;
    QTest::newRow("hann 152 px") << CtFilterKind::Hann << 0.5 << 152;
}

void TestCtBackProj::uniformCylinderReadsItsValue()
{
    QFETCH(CtFilterKind, filter);
    QFETCH(double, fill);
    QFETCH(int, n);
    // A cylinder of attenuation mu per pixel on the axis, filling `fill` of the field (the
    // inscribed circle of radius g), over 180 degrees. Each sample is the exact mean chord
    // over its pixel: the integral of 2 sqrt(R^2 - u^2) is u sqrt(R^2 - u^2) + R^2 asin(u/R).
    const int w = n + 1;
    const int g = n / 2;
    const int rows = 400;
    const double mu = 0.01;
    const double radius = fill * g;
    HSgm sgm;
    sgm.setSize(w, rows);
    for (int i = 0; i < rows; ++i)
        for (int k = 0; k < w; ++k) {
            const auto area = [radius](double u) {
                u = std::clamp(u, -radius, radius);
                return u * std::sqrt(radius * radius - u * u)
                    + radius * radius * std::asin(u / radius);
            };
            sgm.sgmRow(i)[k] = mu * (area(k - g + 0.5) - area(k - g - 0.5));
        }

    CtBackProj engine;
    engine.setup(n, rows);
    QVERIFY(engine.setFilter(filter));
    QVERIFY(engine.paddedLength() >= 2 * n);
    QCOMPARE(engine.paddedLength() % 2, 0);
    QVERIFY(engine.reconstruct(sgm, 0, n, 0, n, 0.0, Pi / rows));

    // Twice the attenuation per pixel, as the plain ramp gives small objects; the worst
    // pixel inside (up to 3 pixels from the rim) and in the air around it.
    const double expected = 2.0 * mu;
    double worstInside = 0.0, worstAir = 0.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const double r = std::hypot(x - g, z - g);
            const double v = engine.resultRow(z)[x];
            if (r < radius - 3.0)
                worstInside = std::max(worstInside, std::abs(v - expected));
            else if (r > radius + 3.0 && r < g - 2.0)
                worstAir = std::max(worstAir, std::abs(v));
        }
    const double centre = engine.resultRow(g)[g];
    qInfo("centre %.5f, worst inside %.5f, worst in the air %.5f (of %.5f)", centre, worstInside,
        worstAir, expected);
    QVERIFY(std::abs(centre - expected) < 0.01 * expected);
    QVERIFY(worstInside < 0.01 * expected);
    QVERIFY(worstAir < 0.01 * expected);

    // Back on the plain ramp, the engine gives exactly the numbers of one that never left it.
    QVERIFY(engine.setFilter(CtFilterKind::Ramp));
    QCOMPARE(engine.paddedLength(), 0);
    QVERIFY(engine.reconstruct(sgm, 0, n, 0, n, 0.0, Pi / rows));
    CtBackProj plain;
    plain.setup(n, rows);
    QVERIFY(plain.reconstruct(sgm, 0, n, 0, n, 0.0, Pi / rows));
    QCOMPARE(differingPixels(resultCopy(engine), resultCopy(plain)), 0);
}

void TestCtBackProj::unevenAnglesAreWeighted_data()
{
    QTest::addColumn<QList<double>>("degrees"); // the angles of the set, over 180 degrees
    QTest::addColumn<double>("gain"); // the weighted error at most this share of the other
    QList<double> dense, gap, shuffled;
    for (int i = 0; i < 150; ++i)
        dense << i * 90.0 / 150;
    for (int i = 0; i < 50; ++i)
        dense << 90.0 + i * 90.0 / 50;
    for (int i = 0; i < 200; ++i)
        if (i * 0.9 < 60.0 || i * 0.9 >= 90.0)
            gap << i * 0.9;
    for (int i = 0; i < 200; ++i)
        shuffled << ((i * 37) % 200) * 0.9;
    QTest::newRow("dense, then sparse") << dense << 0.1;
    // What was not measured stays missing: every image, also at the gap's edges, stands for
    // the set's step of 0.9 degrees. Measured against the slice of 720 even angles without
    // the gap's, and compared with edge images that stand for four steps into the gap.
    QTest::newRow("a gap of 30 degrees") << gap << 0.5;
    QTest::newRow("even, out of order") << shuffled << 1.0;
}

void TestCtBackProj::unevenAnglesAreWeighted()
{
    QFETCH(QList<double>, degrees);
    QFETCH(double, gain);
    // Off-centre discs, each sample the exact mean chord over its pixel, at the set's angles
    // and at 720 even angles (the reference).
    const int w = 129, n = 128, g = n / 2;
    struct Disc
    {
        double x, z, radius, mu;
    };
    const Disc discs[] = { { 0, 0, 40, 0.01 }, { 20, -10, 12, 0.02 }, { -25, 15, 6, 0.03 } };
    const auto fill = [&](HSgm &sgm, const std::vector<double> &angles) {
        sgm.setSize(w, int(angles.size()));
        for (size_t i = 0; i < angles.size(); ++i)
            for (int k = 0; k < w; ++k) {
                double v = 0;
                for (const Disc &d : discs) {
                    const double u
                        = k - g - (d.x * std::cos(angles[i]) + d.z * std::sin(angles[i]));
                    const auto area = [r = d.radius](double t) {
                        t = std::clamp(t, -r, r);
                        return t * std::sqrt(r * r - t * t) + r * r * std::asin(t / r);
                    };
                    v += d.mu * (area(u + 0.5) - area(u - 0.5));
                }
                sgm.sgmRow(int(i))[k] = v;
            }
    };
    const auto slice = [&](HSgm &sgm, const std::vector<double> &angles) {
        CtBackProj engine;
        engine.setup(n, sgm.h);
        engine.setRowAngles(angles.data());
        if (!engine.setFilter(CtFilterKind::RampPadded)
            || !engine.reconstruct(sgm, 0, n, 0, n, 0.0, 0.0))
            return std::vector<double>();
        return resultCopy(engine);
    };
    const bool hasGap = QByteArray(QTest::currentDataTag()).contains("gap");
    std::vector<double> even;
    for (int i = 0; i < 720; ++i)
        if (!hasGap || i * 0.25 < 60.0 || i * 0.25 >= 90.0)
            even.push_back(i * Pi / 720);
    HSgm ref;
    fill(ref, even);
    // Each reference row stands for a quarter of a degree, also when some are left out.
    for (int i = 0; i < ref.h; ++i)
        for (int k = 0; k < w; ++k)
            ref.sgmRow(i)[k] *= double(even.size()) / 720.0;
    const std::vector<double> want = slice(ref, even);

    std::vector<double> angles;
    for (const double d : degrees)
        angles.push_back(d * Pi / 180);
    const std::vector<double> weights = rowWeightsOf(angles, Pi);
    QCOMPARE(weights.size(), angles.size());
    double sum = 0, heaviest = 0;
    for (const double wt : weights) {
        sum += wt;
        heaviest = std::max(heaviest, wt);
    }
    if (hasGap) {
        const double step = 180.0 / double(angles.size());
        for (const double wt : weights)
            QVERIFY2(std::abs(wt - 0.9 / step) < 1e-9, qPrintable(QString::number(wt)));
    } else {
        QVERIFY(std::abs(sum - double(angles.size())) < 1e-9 * angles.size());
    }
    HSgm plain, weighted;
    fill(plain, angles);
    fill(weighted, angles);
    CtParams p;
    p.dataSetImages = int(angles.size());
    p.dataSetRangeDeg = 180;
    weightRows(weighted, p, angles);
    const std::vector<double> a = slice(plain, angles), b = slice(weighted, angles);
    QVERIFY(!want.empty() && !a.empty() && !b.empty());
    const auto rms = [&](const std::vector<double> &got) {
        double s2 = 0;
        int count = 0;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x)
                if (std::hypot(x - g, z - g) < 0.9 * g) {
                    const double d = got[size_t(z) * n + x] - want[size_t(z) * n + x];
                    s2 += d * d;
                    ++count;
                }
        return std::sqrt(s2 / count);
    };
    double before = rms(a);
    const double after = rms(b);
    if (hasGap) {
        // The images at the gap's edges standing for up to four steps of 0.9 degrees on
        // either side, the angles being in order.
        HSgm wide;
        fill(wide, angles);
        const size_t m = angles.size();
        for (size_t i = 0; i < m; ++i) {
            const double up
                = (i + 1 < m ? degrees[int(i + 1)] : degrees[0] + 180.0) - degrees[int(i)];
            const double down = i > 0 ? degrees[int(i)] - degrees[int(i - 1)]
                                      : degrees[0] + 180.0 - degrees[int(m - 1)];
            const double wt = 0.5 * (std::min(up, 3.6) + std::min(down, 3.6)) / (180.0 / double(m));
            for (int k = 0; k < w; ++k)
                wide.sgmRow(int(i))[k] *= wt;
        }
        const std::vector<double> c = slice(wide, angles);
        QVERIFY(!c.empty());
        before = rms(c);
    }
    qInfo("RMS error against 720 even angles: %.3g %s, %.3g weighted", before,
        hasGap ? "with the gap's edges standing for it" : "unweighted", after);
    if (gain == 1.0) {
        for (const double wt : weights)
            QVERIFY(std::abs(wt - 1.0) < 1e-9);
        QCOMPARE(after, before);
    } else {
        QVERIFY(after < gain * before);
    }
}

QTEST_GUILESS_MAIN(TestCtBackProj)
#include "tst_CtBackProj.moc"
