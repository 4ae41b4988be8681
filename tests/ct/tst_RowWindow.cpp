#include "HSgm.h"
#include "RowWindow.h"

#include <QtTest>

#include <cmath>
#include <vector>

class TestRowWindow : public QObject
{
    Q_OBJECT
private slots:
    void makeRowWindow_data();
    void makeRowWindow();
    void resampleFollowsALinearLine_data();
    void resampleFollowsALinearLine();
    void resampleRefusesWindowsOutsideTheLine();
    void sampleLineCountsOutsideAsZero_data();
    void sampleLineCountsOutsideAsZero();
    void hSgmSetSize_data();
    void hSgmSetSize();
};

void TestRowWindow::makeRowWindow_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<double>("cor");
    QTest::addColumn<int>("half");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("corInt");
    QTest::addColumn<double>("corFrac");
    QTest::newRow("middle of an even line") << 2048 << 1023.5 << 1023 << 2045 << 1023 << 0.5;
    QTest::newRow("exact centre of an odd line") << 11 << 5.0 << 5 << 9 << 5 << 0.0;
    QTest::newRow("near the left end") << 100 << 1.5 << 1 << 1 << 1 << 0.5;
    QTest::newRow("near the right end") << 100 << 97.25 << 1 << 1 << 97 << 0.25;
    QTest::newRow("no room on the right") << 100 << 98.5 << 0 << -1 << 98 << 0.5;
    QTest::newRow("left of the line") << 100 << -3.5 << -4 << -9 << -4 << 0.5;
    QTest::newRow("not a number") << 100 << std::nan("") << 0 << 0 << 0 << std::nan("");
}

void TestRowWindow::makeRowWindow()
{
    QFETCH(int, length);
    QFETCH(double, cor);
    QFETCH(int, half);
    QFETCH(int, n);
    QFETCH(int, corInt);
    QFETCH(double, corFrac);
    const RowWindow w = ::makeRowWindow(false, length, cor);
    QCOMPARE(w.rotAxIsV, false);
    QCOMPARE(w.half, half);
    QCOMPARE(w.n, n);
    if (std::isfinite(cor)) {
        QCOMPARE(w.corInt, corInt);
        QCOMPARE(w.corFrac, corFrac);
    }
    QVERIFY(::makeRowWindow(true, length, cor).rotAxIsV);
}

void TestRowWindow::resampleFollowsALinearLine_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<double>("cor");
    QTest::newRow("half pixel") << 40 << 17.5;
    QTest::newRow("whole pixel") << 40 << 20.0;
    QTest::newRow("odd fraction") << 33 << 9.3;
    QTest::newRow("single sample") << 10 << 1.75;
}

void TestRowWindow::resampleFollowsALinearLine()
{
    QFETCH(int, length);
    QFETCH(double, cor);
    std::vector<double> line(length);
    for (int i = 0; i < length; ++i)
        line[i] = 3.0 * i + 1.0;
    const RowWindow w = ::makeRowWindow(true, length, cor);
    std::vector<double> out(w.n, -99.0);
    QVERIFY(resampleRow(line.data(), length, w, out.data()));
    // Sample j is the line at cor + j - (half - 1): the centre falls on sample half - 1.
    for (int j = 0; j < w.n; ++j)
        QVERIFY(std::abs(out[j] - (3.0 * (cor + j - (w.half - 1)) + 1.0)) < 1e-9);
    QVERIFY(std::abs(out[w.half - 1] - (3.0 * cor + 1.0)) < 1e-9);
}

void TestRowWindow::resampleRefusesWindowsOutsideTheLine()
{
    std::vector<double> line(50, 1.0);
    std::vector<double> out(200, -1.0);
    // A window made for a longer line would read past this one.
    QVERIFY(!resampleRow(line.data(), 30, ::makeRowWindow(true, 50, 25.0), out.data()));
    QVERIFY(!resampleRow(line.data(), 50, ::makeRowWindow(true, 50, 48.5), out.data()));
    QVERIFY(!resampleRow(line.data(), 50, ::makeRowWindow(true, 50, 0.5), out.data()));
    // Centres far outside any line must not overflow the window's integers.
    for (double cor : { 1e300, -1e300, 3e9 }) {
        const RowWindow w = ::makeRowWindow(true, 50, cor);
        QVERIFY(w.n <= 0);
        QVERIFY(!resampleRow(line.data(), 50, w, out.data()));
    }
    QVERIFY(!resampleRow(nullptr, 50, ::makeRowWindow(true, 50, 25.0), out.data()));
    QCOMPARE(out[0], -1.0);
}

void TestRowWindow::sampleLineCountsOutsideAsZero_data()
{
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("value");
    // Line 10, 20, 30, 40.
    QTest::newRow("inside") << 1.5 << 25.0;
    QTest::newRow("on a sample") << 2.0 << 30.0;
    QTest::newRow("left of the first") << -0.25 << 7.5;
    QTest::newRow("right of the last") << 3.25 << 30.0;
    QTest::newRow("far left") << -5.0 << 0.0;
    QTest::newRow("far right") << 1e12 << 0.0;
    QTest::newRow("not a number") << std::nan("") << 0.0;
}

void TestRowWindow::sampleLineCountsOutsideAsZero()
{
    QFETCH(double, p);
    QFETCH(double, value);
    const double line[4] = { 10, 20, 30, 40 };
    QCOMPARE(sampleLine(line, 4, p), value);
}

void TestRowWindow::hSgmSetSize_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<bool>("allocated");
    QTest::newRow("normal") << 7 << 3 << true;
    QTest::newRow("no rows") << 7 << 0 << false;
    QTest::newRow("window without room") << -1 << 4 << false;
    QTest::newRow("two negatives") << -2 << -3 << false;
}

void TestRowWindow::hSgmSetSize()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(bool, allocated);
    HSgm s;
    QVERIFY(!s.hasData());
    QCOMPARE(s.w, 0);
    s.setSize(5, 5);
    s.setSize(w, h);
    QCOMPARE(s.w, w);
    QCOMPARE(s.h, h);
    QCOMPARE(s.hasData(), allocated);
    QCOMPARE(s.sgm != nullptr, allocated);
    QCOMPARE(s.rawSgm != nullptr, allocated);
    if (allocated) {
        // Rows are w apart; writing the last sample of the last row stays inside.
        s.sgmRow(h - 1)[w - 1] = 1.5;
        s.rawRow(h - 1)[w - 1] = 2.5;
        QCOMPARE(s.sgm[size_t(w) * h - 1], 1.5);
        QCOMPARE(s.rawSgm[size_t(w) * h - 1], 2.5);
    }
    s.setSize(0, 0);
    QVERIFY(!s.hasData());
    QVERIFY(s.sgm == nullptr);
}

QTEST_GUILESS_MAIN(TestRowWindow)
#include "tst_RowWindow.moc"
