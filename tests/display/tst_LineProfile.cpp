#include "LineProfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using Points = std::vector<LineProfile::Point>;
Q_DECLARE_METATYPE(Points)

class TestLineProfile : public QObject
{
    Q_OBJECT
private slots:
    void sample_data();
    void sample();
    void csv_data();
    void csv();
    void writeCsv();
};

namespace {

// 4 x 3 values 10 j + i: bilinear reads of it are 10 (y - 0.5) + (x - 0.5) between the centres.
std::vector<double> ramp()
{
    std::vector<double> v;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i)
            v.push_back(10 * j + i);
    return v;
}

// 3 x 3 zeros with a 1 in the middle: a read between centres weighs the four neighbours.
std::vector<double> spot()
{
    std::vector<double> v(9, 0.0);
    v[4] = 1;
    return v;
}

} // namespace

void TestLineProfile::sample_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<int>("width");
    QTest::addColumn<QPointF>("a");
    QTest::addColumn<QPointF>("b");
    QTest::addColumn<Points>("expected");
    const double d = std::sqrt(8.0) / 3;
    QTest::newRow("along the centres of row 1")
        << ramp() << 4 << QPointF(0.5, 1.5) << QPointF(3.5, 1.5)
        << Points { { 0, 10 }, { 1, 11 }, { 2, 12 }, { 3, 13 } };
    // Length 2.83: four points a third of the line apart.
    QTest::newRow("diagonal") << ramp() << 4 << QPointF(0.5, 0.5) << QPointF(2.5, 2.5)
                              << Points { { 0, 0 }, { d, 22.0 / 3 }, { 2 * d, 44.0 / 3 },
                                     { 3 * d, 22 } };
    QTest::newRow("upward, end to start") << ramp() << 4 << QPointF(1.5, 2.5) << QPointF(1.5, 0.5)
                                          << Points { { 0, 21 }, { 1, 11 }, { 2, 1 } };
    QTest::newRow("border half pixel holds the edge value")
        << ramp() << 4 << QPointF(0, 1.5) << QPointF(0.5, 1.5) << Points { { 0, 10 }, { 0.5, 10 } };
    // Starts a pixel left of the picture: the first two of four points are outside.
    QTest::newRow("partly outside") << ramp() << 4 << QPointF(-1, 0.5) << QPointF(1.5, 0.5)
                                    << Points { { 2.5 * 2 / 3, 1.0 / 6 }, { 2.5, 1 } };
    QTest::newRow("wholly outside")
        << ramp() << 4 << QPointF(-3, -1) << QPointF(-1, -2) << Points {};
    // (1.25, 1.25) is a quarter pixel before the spot's centre both ways: 0.75 x 0.75 of it.
    QTest::newRow("no length, between centres")
        << spot() << 3 << QPointF(1.25, 1.25) << QPointF(1.25, 1.25) << Points { { 0, 0.5625 } };
    QTest::newRow("across the spot") << spot() << 3 << QPointF(0.5, 1.5) << QPointF(2.5, 1.5)
                                     << Points { { 0, 0 }, { 1, 1 }, { 2, 0 } };
    QTest::newRow("between rows 0 and 1") << spot() << 3 << QPointF(1.0, 1.0) << QPointF(2.0, 1.0)
                                          << Points { { 0, 0.25 }, { 1, 0.25 } };
}

void TestLineProfile::sample()
{
    QFETCH(std::vector<double>, values);
    QFETCH(int, width);
    QFETCH(QPointF, a);
    QFETCH(QPointF, b);
    QFETCH(Points, expected);
    const int height = int(values.size()) / width;
    // Both ways of handing the values over: the whole picture, and rows copied into the buffer
    // one by one as a file reader serves them.
    int rowReads = 0;
    const LineProfile::RowFn rows = [&](int iy, double *buf) -> const double * {
        ++rowReads;
        std::copy_n(values.data() + iy * width, width, buf);
        return buf;
    };
    const Points got[2] = { LineProfile::sample(width, height, values.data(), a, b),
        LineProfile::sample(width, height, rows, a, b) };
    for (const Points &p : got) {
        QCOMPARE(p.size(), expected.size());
        for (size_t i = 0; i < p.size(); ++i) {
            QVERIFY2(std::abs(p[i].distance - expected[i].distance) < 1e-9,
                qPrintable(QString("distance %1: %2").arg(i).arg(p[i].distance)));
            QVERIFY2(std::abs(p[i].value - expected[i].value) < 1e-9,
                qPrintable(QString("value %1: %2").arg(i).arg(p[i].value)));
        }
    }
    // Rows are read again only when the line leaves them.
    QVERIFY(rowReads <= height);
}

void TestLineProfile::csv_data()
{
    QTest::addColumn<double>("pixelSize");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("text");
    const QString rows = QStringLiteral("0,10\n%1,-0.25\n");
    QTest::newRow("pixels") << 0.0 << QString() << "distance (px),value\n" + rows.arg(1.5);
    QTest::newRow("micrometres") << 0.65 << QString("um")
                                 << "distance (um),value\n" + rows.arg(0.975);
    QTest::newRow("size without a unit stays in pixels")
        << 0.65 << QString() << "distance (px),value\n" + rows.arg(1.5);
}

void TestLineProfile::csv()
{
    QFETCH(double, pixelSize);
    QFETCH(QString, unit);
    QFETCH(QString, text);
    const Points p { { 0, 10 }, { 1.5, -0.25 } };
    QCOMPARE(LineProfile::csv(p, pixelSize, unit), text);
}

void TestLineProfile::writeCsv()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("profile.csv");
    QVERIFY(LineProfile::writeCsv(path, Points { { 0, 1 }, { 1, 2 } }));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("distance (px),value\n0,1\n1,2\n"));
    QVERIFY(!LineProfile::writeCsv(dir.filePath("no/such/folder/p.csv"), Points {}));
}

QTEST_MAIN(TestLineProfile)
#include "tst_LineProfile.moc"
