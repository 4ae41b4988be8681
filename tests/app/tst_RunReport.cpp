#include "RunReport.h"

#include <QtTest>

class TestRunReport : public QObject
{
    Q_OBJECT
private slots:
    void timeLeft_data();
    void timeLeft();
};

void TestRunReport::timeLeft_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("clock");
    // 10 slices in 4 s: 0.4 s a slice, 54 to go.
    QTest::newRow("at the rate so far")
        << qint64(4000) << qint64(10) << qint64(64) << 21.6 << "00:00:22";
    QTest::newRow("hours") << qint64(3600000) << qint64(1) << qint64(3) << 7200.0 << "02:00:00";
    QTest::newRow("minutes and seconds")
        << qint64(61000) << qint64(1) << qint64(4) << 183.0 << "00:03:03";
    QTest::newRow("nothing done yet")
        << qint64(5000) << qint64(0) << qint64(8) << -1.0 << "--:--:--";
    QTest::newRow("all done") << qint64(5000) << qint64(8) << qint64(8) << 0.0 << "00:00:00";
}

void TestRunReport::timeLeft()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(double, seconds);
    QFETCH(QString, clock);
    const double left = RunReport::secondsLeft(elapsedMs, done, total);
    QVERIFY2(std::abs(left - seconds) < 1e-9, qPrintable(QString::number(left)));
    QCOMPARE(RunReport::clockText(left), clock);
}

QTEST_MAIN(TestRunReport)
#include "tst_RunReport.moc"
