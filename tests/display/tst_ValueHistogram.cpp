#include "ContrastPanel.h"
#include "DisplayTestUtil.h"
#include "ValueHistogram.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using namespace disptest;

class TestValueHistogram : public QObject
{
    Q_OBJECT
private slots:
    void counts_data();
    void counts();
    void quantiles_data();
    void quantiles();
    void panelDragsAndAutoLimits();
};

void TestValueHistogram::counts_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<int>("bins");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<std::vector<std::size_t>>("counts");
    // 0 ... 4 in four bins of width 1; the largest value falls into the last bin.
    QTest::newRow("ramp") << std::vector<double> { 0, 1, 2, 3, 4 } << 4 << 0.0 << 4.0
                          << std::vector<std::size_t> { 1, 1, 1, 2 };
    QTest::newRow("not finite left out") << std::vector<double> { nan, -1, inf, 1, 0.5, -inf } << 2
                                         << -1.0 << 1.0 << std::vector<std::size_t> { 1, 2 };
    QTest::newRow("one value") << std::vector<double> { 7, 7, 7 } << 3 << 7.0 << 7.0
                               << std::vector<std::size_t> { 3, 0, 0 };
    QTest::newRow("nothing finite")
        << std::vector<double> { nan } << 2 << 0.0 << 0.0 << std::vector<std::size_t> { 0, 0 };
}

void TestValueHistogram::counts()
{
    QFETCH(std::vector<double>, values);
    QFETCH(int, bins);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(std::vector<std::size_t>, counts);
    ValueHistogram h;
    h.compute(values.data(), values.size(), bins);
    QCOMPARE(h.min(), min);
    QCOMPARE(h.max(), max);
    QCOMPARE(h.counts(), counts);
    std::size_t total = 0;
    for (std::size_t c : counts)
        total += c;
    QCOMPARE(h.total(), total);
    QCOMPARE(h.isEmpty(), total == 0);
}

void TestValueHistogram::quantiles_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    // 0 ... 999 in reverse: places floor(0.005 * 999) = 4 and floor(0.995 * 999) = 994.
    std::vector<double> ramp;
    for (int i = 999; i >= 0; --i)
        ramp.push_back(i);
    QTest::newRow("1000 values") << ramp << 4.0 << 994.0;
    // A few hot pixels on a flat picture do not move the limits.
    std::vector<double> flat(1000, 2.0);
    flat[10] = 1e6;
    flat[500] = -1e6;
    flat[999] = 1e6;
    QTest::newRow("hot pixels") << flat << 2.0 << 2.0;
    QTest::newRow("one value") << std::vector<double> { 3.5 } << 3.5 << 3.5;
}

void TestValueHistogram::quantiles()
{
    QFETCH(std::vector<double>, values);
    QFETCH(double, lo);
    QFETCH(double, hi);
    double l = -1, h = -1;
    ValueHistogram::autoLimits(values.data(), values.size(), l, h);
    QCOMPARE(l, lo);
    QCOMPARE(h, hi);
}

void TestValueHistogram::panelDragsAndAutoLimits()
{
    ContrastPanel p;
    p.resize(301, 120);
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    std::vector<double> ramp;
    for (int i = 0; i <= 1000; ++i)
        ramp.push_back(i * 0.01); // 0 ... 10
    p.setValues(ramp.data(), ramp.size());
    p.setLimits(0, 10);
    QSignalSpy changed(&p, &ContrastPanel::limitsChanged);
    QWidget *c = p.canvas();
    const int w = c->width() - 1;
    // The lower limit (at the left edge) dragged to a quarter of the range: 2.5.
    const int quarter = int(std::lround(w * 0.25));
    drag(c, { QPoint(1, 10), QPoint(quarter / 2, 10), QPoint(quarter, 10) }, Qt::LeftButton);
    QCOMPARE(changed.count(), 1);
    QVERIFY2(std::abs(p.lo() - 10.0 * quarter / w) < 1e-9,
        qPrintable(QString("%1 %2 %3").arg(p.lo()).arg(quarter).arg(w)));
    QCOMPARE(p.hi(), 10.0);
    QVERIFY(std::abs(changed.last().at(0).toDouble() - p.lo()) < 1e-12);
    // "Auto": the 0.5 % and 99.5 % points of 1001 values, places 5 and 995.
    p.autoButton()->click();
    QCOMPARE(changed.count(), 2);
    QVERIFY(std::abs(p.lo() - 0.05) < 1e-12);
    QVERIFY(std::abs(p.hi() - 9.95) < 1e-12);
}

QTEST_MAIN(TestValueHistogram)
#include "tst_ValueHistogram.moc"
