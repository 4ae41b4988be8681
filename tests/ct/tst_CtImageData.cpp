#include "CtImageData.h"
#include "CtParams.h"

#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

QByteArray streamText(double v)
{
    QByteArray b;
    QTextStream s(&b);
    s << v;
    s.flush();
    return b;
}

QByteArray fastText(double v)
{
    char buf[32];
    return QByteArray(buf, writeStreamDouble(buf, v) - buf);
}

// Straightforward rendering of the file with the text stream itself, as independent as
// possible from the fast writer.
QByteArray referenceFile(const std::vector<double> &values, int rows, int cols, double x0,
    double z0, double x1, double z1, double lo, double hi, double off)
{
    QByteArray b;
    QTextStream s(&b);
    s << "#VEXA-CTImg\n";
    s << "# Range_X0       : " << x0 << "\n";
    s << "# Range_Y0       : " << z0 << "\n";
    s << "# Range_X1       : " << x1 - 1 << "\n";
    s << "# Range_Y1       : " << z1 - 1 << "\n";
    s << "# sx,sy, ex,ey   : " << x0 << "\t" << z0 << "\t" << x1 - 1 << "\t" << z1 - 1 << "\n";
    for (int z = int(std::trunc(z0)); z < z1; ++z) {
        for (int x = int(std::trunc(x0)); x < x1; ++x) {
            double c = 0;
            if (z >= 0 && z < rows && x >= 0 && x < cols)
                c = values[size_t(z) * cols + x];
            if (c < lo || c > hi)
                c = 0;
            s << x << "\t" << z << "\t" << c + off << "\n";
        }
    }
    s.flush();
    return b;
}

std::vector<double> ramp(int rows, int cols)
{
    std::vector<double> v(size_t(rows) * cols);
    for (int z = 0; z < rows; ++z)
        for (int x = 0; x < cols; ++x)
            v[size_t(z) * cols + x] = (x - 2.5 * z) * 0.37 + 1e-3 * x * z;
    return v;
}

} // namespace

class TestCtImageData : public QObject
{
    Q_OBJECT
private slots:
    void formatterMatchesStream_data();
    void formatterMatchesStream();
    void formatterMatchesStreamOnRandomValues();
    void fileMatchesStreamRendering_data();
    void fileMatchesStreamRendering();
    void fullRegionHeaderAndLines();
    void fractionalRegion();
    void limitsAndOffset_data();
    void limitsAndOffset();
    void emptyRegionGivesHeaderOnly();
    void absurdRegionIsRefused();
};

void TestCtImageData::formatterMatchesStream_data()
{
    QTest::addColumn<double>("value");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double denormMin = std::numeric_limits<double>::denorm_min();
    const struct
    {
        const char *name;
        double v;
    } cases[] = { { "zero", 0.0 }, { "negative zero", -0.0 }, { "511", 511 }, { "1023.5", 1023.5 },
        { "small", 0.0000123457 }, { "million", 1e6 }, { "rounds to million", 999999.5 },
        { "rounds to ten", 9.999995 }, { "tie up", 100000.5 }, { "negative tie", -100000.5 },
        { "integer tie", 1000005 }, { "integer tie odd", 1000025 }, { "fixed limit", 999999 },
        { "small fixed limit", 0.0001 }, { "below small fixed", 0.0000999999 },
        { "rounds into fixed", 0.00009999995 }, { "minus half", -0.5 }, { "seven digits", 1234567 },
        { "one tenth", 0.1 }, { "huge", 1.79769e308 },
        { "max", std::numeric_limits<double>::max() }, { "min normal", 2.2250738585072014e-308 },
        { "subnormal", 1e-310 }, { "denorm min", denormMin }, { "negative subnormal", -3e-320 },
        { "1e22", 1e22 }, { "1e23", 1e23 }, { "1e28", 1e28 }, { "1e-17", 1e-17 },
        { "big exponent", 1.5e300 }, { "nan", nan }, { "negative nan", -nan }, { "inf", inf },
        { "minus inf", -inf }, { "offset value", 10.004321 }, { "1e100", 1e100 } };
    for (const auto &c : cases)
        QTest::newRow(c.name) << c.v;
}

void TestCtImageData::formatterMatchesStream()
{
    QFETCH(double, value);
    QCOMPARE(fastText(value), streamText(value));
}

void TestCtImageData::formatterMatchesStreamOnRandomValues()
{
    std::mt19937_64 gen(20240301);
    std::vector<double> values;
    values.reserve(700000);
    // Every bit pattern is possible: all magnitudes, signs, subnormals, NaN and infinities.
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = gen();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    // Typical reconstructed values plus offset, and short decimals that sit on ties.
    std::uniform_real_distribution<double> typical(-30.0, 30.0);
    std::uniform_int_distribution<int> digits(0, 9999999);
    std::uniform_int_distribution<int> power(-30, 30);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(typical(gen));
        values.push_back(digits(gen) * std::pow(10.0, power(gen)));
        values.push_back(-(digits(gen) / 10 * 10 + 5) * std::pow(10.0, power(gen)));
    }
    // Right around powers of ten, where the decade and the notation switch.
    for (int e = -320; e <= 308; ++e) {
        const double p = std::pow(10.0, e);
        for (double f : { 1.0, 0.9999995, 0.99999949999, 0.99999950001, 9.999995, 9.9999949 })
            values.push_back(p * f);
        values.push_back(std::nextafter(p, 0.0));
        values.push_back(std::nextafter(p, 2 * p));
    }
    int mismatches = 0;
    QString first;
    for (double v : values) {
        const QByteArray got = fastText(v);
        const QByteArray want = streamText(v);
        if (got != want && mismatches++ == 0)
            first = QString("%1: got %2, want %3")
                        .arg(QString::number(v, 'g', 17), QString(got), QString(want));
    }
    QVERIFY2(
        mismatches == 0, qPrintable(QString("%1 mismatches, first %2").arg(mismatches).arg(first)));
}

void TestCtImageData::fileMatchesStreamRendering_data()
{
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("z0");
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("z1");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<double>("off");
    // Result: 13 rows x 17 columns.
    QTest::newRow("whole result") << 0.0 << 0.0 << 17.0 << 13.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("inner part") << 3.0 << 2.0 << 9.0 << 11.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("beyond every edge") << -4.0 << -3.0 << 21.0 << 16.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("left of result") << -9.0 << 0.0 << -2.0 << 5.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("right of result") << 20.0 << 0.0 << 25.0 << 5.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("below result") << 0.0 << 14.0 << 5.0 << 18.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("negative fractional start")
        << -1.5 << -2.7 << 4.2 << 3.0 << -10.0 << 10.0 << 10.0;
    QTest::newRow("fractional ends") << 2.5 << 1.25 << 7.01 << 6.99 << -10.0 << 10.0 << 10.0;
    QTest::newRow("narrow limits") << 0.0 << 0.0 << 17.0 << 13.0 << -1.0 << 2.5 << 0.0;
    QTest::newRow("zero outside limits") << -2.0 << -2.0 << 5.0 << 5.0 << 1.0 << 3.0 << -0.25;
    QTest::newRow("fractional offset") << 0.0 << 0.0 << 17.0 << 13.0 << -50.0 << 50.0 << 0.123;
}

void TestCtImageData::fileMatchesStreamRendering()
{
    QFETCH(double, x0);
    QFETCH(double, z0);
    QFETCH(double, x1);
    QFETCH(double, z1);
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(double, off);
    const int rows = 13, cols = 17;
    const std::vector<double> v = ramp(rows, cols);
    const QByteArray got = makeCtImageData(v.data(), rows, cols, x0, z0, x1, z1, lo, hi, off);
    QCOMPARE(got, referenceFile(v, rows, cols, x0, z0, x1, z1, lo, hi, off));
}

void TestCtImageData::fullRegionHeaderAndLines()
{
    const int n = 512;
    std::vector<double> v(size_t(n) * n, 0.0);
    v.front() = 1.25;
    v.back() = -2.5;
    CtParams params; // limits -10 and 10, offset 10
    const QByteArray file = makeCtImageData(v.data(), n, n, 0, 0, n, n, params);
    const QList<QByteArray> lines = file.split('\n');
    QCOMPARE(lines.size(), 6 + n * n + 1); // the last '\n' leaves one empty piece
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines[0], QByteArray("#VEXA-CTImg"));
    QCOMPARE(lines[1], QByteArray("# Range_X0       : 0"));
    QCOMPARE(lines[2], QByteArray("# Range_Y0       : 0"));
    QCOMPARE(lines[3], QByteArray("# Range_X1       : 511"));
    QCOMPARE(lines[4], QByteArray("# Range_Y1       : 511"));
    QCOMPARE(lines[5], QByteArray("# sx,sy, ex,ey   : 0\t0\t511\t511"));
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(lines[i].indexOf(": ") + 2, 19);
    QCOMPARE(lines[6], QByteArray("0\t0\t11.25"));
    QCOMPARE(lines[7], QByteArray("1\t0\t10"));
    QCOMPARE(lines[6 + n], QByteArray("0\t1\t10"));
    QCOMPARE(lines[6 + n * n - 1], QByteArray("511\t511\t7.5"));
    QVERIFY(!file.contains('\r'));
}

void TestCtImageData::fractionalRegion()
{
    const int n = 64;
    const std::vector<double> v = ramp(n, n);
    const QByteArray file = makeCtImageData(v.data(), n, n, 10.5, 20.5, 30, 40, -100, 100, 0);
    const QList<QByteArray> lines = file.trimmed().split('\n');
    QCOMPARE(lines[1], QByteArray("# Range_X0       : 10.5"));
    QCOMPARE(lines[2], QByteArray("# Range_Y0       : 20.5"));
    QCOMPARE(lines[3], QByteArray("# Range_X1       : 29"));
    QCOMPARE(lines[4], QByteArray("# Range_Y1       : 39"));
    QCOMPARE(lines[5], QByteArray("# sx,sy, ex,ey   : 10.5\t20.5\t29\t39"));
    QCOMPARE(lines.size(), 6 + 20 * 20);
    QVERIFY(lines[6].startsWith("10\t20\t"));
    QVERIFY(lines.last().startsWith("29\t39\t"));
}

void TestCtImageData::limitsAndOffset_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("above upper") << 12.0 << QByteArray("10");
    QTest::newRow("inside") << -3.0 << QByteArray("7");
    QTest::newRow("on lower") << -10.0 << QByteArray("0");
    QTest::newRow("on upper") << 10.0 << QByteArray("20");
    QTest::newRow("just below lower") << -10.000001 << QByteArray("10");
    QTest::newRow("small") << 0.0001234 << QByteArray("10.0001");
    // A value that is not a number lies within no limits: the file never holds "nan".
    QTest::newRow("nan is cut") << std::numeric_limits<double>::quiet_NaN() << QByteArray("10");
    QTest::newRow("infinity is cut") << std::numeric_limits<double>::infinity() << QByteArray("10");
}

void TestCtImageData::limitsAndOffset()
{
    QFETCH(double, value);
    QFETCH(QByteArray, written);
    const QByteArray file = makeCtImageData(&value, 1, 1, 0, 0, 1, 1, -10, 10, 10);
    QVERIFY(file.endsWith("\n0\t0\t" + written + "\n"));
}

void TestCtImageData::emptyRegionGivesHeaderOnly()
{
    const std::vector<double> v = ramp(8, 8);
    const QByteArray header = "#VEXA-CTImg\n"
                              "# Range_X0       : 5\n"
                              "# Range_Y0       : 0\n"
                              "# Range_X1       : 4\n"
                              "# Range_Y1       : 7\n"
                              "# sx,sy, ex,ey   : 5\t0\t4\t7\n";
    QCOMPARE(makeCtImageData(v.data(), 8, 8, 5, 0, 5, 8, -10, 10, 10), header);
    // No result at all still gives the region, every pixel outside.
    const QByteArray none = makeCtImageData(nullptr, 0, 0, 0, 0, 2, 1, -10, 10, 10);
    QVERIFY(none.endsWith("# sx,sy, ex,ey   : 0\t0\t1\t0\n0\t0\t10\n1\t0\t10\n"));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QCOMPARE(makeCtImageData(v.data(), 8, 8, 0, 0, nan, 8, -10, 10, 10).count('\n'), 6);
}

void TestCtImageData::absurdRegionIsRefused()
{
    const std::vector<double> v = ramp(8, 8);
    QTest::ignoreMessage(
        QtDebugMsg, "CT image data region too large, only the header is written : 0 0 1e+06 1e+06");
    const QByteArray file = makeCtImageData(v.data(), 8, 8, 0, 0, 1e6, 1e6, -10, 10, 10);
    QCOMPARE(file.count('\n'), 6);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("region too large"));
    const double inf = std::numeric_limits<double>::infinity();
    QCOMPARE(makeCtImageData(v.data(), 8, 8, -inf, 0, 4, 4, -10, 10, 10).count('\n'), 6);
}

QTEST_GUILESS_MAIN(TestCtImageData)
#include "tst_CtImageData.moc"
