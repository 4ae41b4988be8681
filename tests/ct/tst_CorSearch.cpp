#include "CorSearch.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

// A smooth, lopsided profile: two bumps of different height and width.
double profile(double y)
{
    return 50.0 + 400.0 * std::exp(-std::pow((y - 90.0) / 9.0, 2))
        + 150.0 * std::exp(-std::pow((y - 140.0) / 20.0, 2));
}

} // namespace

class TestCorSearch : public QObject
{
    Q_OBJECT
private slots:
    void partnerImage_data();
    void partnerImage();
    void scoreByHand_data();
    void scoreByHand();
    void searchFindsMirrorCentre_data();
    void searchFindsMirrorCentre();
    void searchWithoutSignalStaysAtStart();
};

void TestCorSearch::partnerImage_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<int>("partner");
    QTest::newRow("360 deg set") << 0 << 720 << 360.0 << 360;
    QTest::newRow("180 deg set: last image") << 0 << 900 << 180.0 << 899;
    QTest::newRow("wraps") << 5 << 8 << 180.0 << 5;
    QTest::newRow("360 from the middle") << 500 << 720 << 360.0 << 140;
    QTest::newRow("empty set") << 0 << 0 << 180.0 << -1;
    QTest::newRow("zero range") << 0 << 10 << 0.0 << -1;
}

void TestCorSearch::partnerImage()
{
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(double, rangeDeg);
    QFETCH(int, partner);
    QCOMPARE(corPartnerImage(first, count, rangeDeg), partner);
    // However small the range, the partner is an image of the set.
    const int tiny = corPartnerImage(first, 10, 1e-300);
    QVERIFY(tiny >= 0 && tiny < 10);
}

void TestCorSearch::scoreByHand_data()
{
    QTest::addColumn<double>("c");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("score");
    // f = (1, 2), g = (3, 4); pairs f(c + x) g(c - 1 - x) for |x| < 2 fraction.
    QTest::newRow("c = 1") << 1.0 << 1.0 << 1.0 * 4 + 2.0 * 3;
    QTest::newRow("c = 1, only x = 0") << 1.0 << 0.5 << 2.0 * 3;
    QTest::newRow("c = 0.5") << 0.5 << 1.0 << 0.5 * 3.5 + 1.5 * 1.5;
    QTest::newRow("nothing overlaps") << 10.0 << 1.0 << 0.0;
    QTest::newRow("no reach") << 1.0 << 0.0 << 0.0;
}

void TestCorSearch::scoreByHand()
{
    QFETCH(double, c);
    QFETCH(double, fraction);
    QFETCH(double, score);
    const double f[2] = { 1, 2 };
    const double g[2] = { 3, 4 };
    QCOMPARE(corScore(f, g, 2, c, fraction), score);
    QCOMPARE(corScore(f, g, 0, c, fraction), 0.0);
}

void TestCorSearch::searchFindsMirrorCentre_data()
{
    QTest::addColumn<double>("m");
    QTest::addColumn<double>("start");
    // Discrete lines mirror about a sample or half-way between two.
    QTest::newRow("about a sample, start right") << 120.0 << 127.0;
    QTest::newRow("half-way, start left") << 113.5 << 104.0;
    QTest::newRow("several passes") << 118.5 << 133.0;
}

void TestCorSearch::searchFindsMirrorCentre()
{
    QFETCH(double, m);
    QFETCH(double, start);
    const int length = 256;
    std::vector<double> f(length), g(length);
    for (int j = 0; j < length; ++j) {
        f[j] = profile(j);
        g[j] = profile(2 * m - j); // f mirrored about m
    }
    // The score pairs f(c + x) with g(c - 1 - x): its peak is half a pixel past m.
    const double found = searchCor(f.data(), g.data(), length, start, 0.35);
    QVERIFY2(std::abs(found - (m + 0.5)) <= 0.1, qPrintable(QString::number(found)));
}

void TestCorSearch::searchWithoutSignalStaysAtStart()
{
    const std::vector<double> zeros(64, 0.0);
    QCOMPARE(searchCor(zeros.data(), zeros.data(), 64, 30.0, 0.35), 30.0);
    QCOMPARE(searchCor(zeros.data(), zeros.data(), 0, 12.5, 0.35), 12.5);
    QVERIFY(std::isnan(searchCor(zeros.data(), zeros.data(), 64, std::nan(""), 0.35)));
}

QTEST_GUILESS_MAIN(TestCorSearch)
#include "tst_CorSearch.moc"
