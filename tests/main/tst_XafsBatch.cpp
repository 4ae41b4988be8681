// The sequential-execution controller on a thread of its own, driven from this thread as the
// main window drives it: every request and answer crosses the threads queued.
#include "XafsBatch.h"

#include <QtTest>

#include <atomic>
#include <thread>

class TestXafsBatch : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void reactsOnlyInItsStage_data();
    void reactsOnlyInItsStage();
    void splitTimesSharedAcrossThreads();

private:
    QThread thread;
    XafsBatch *xb = nullptr;
    QStringList events; // what the controller announced, as it reached this thread
    qint64 splitSum = 0;
};

void TestXafsBatch::init()
{
    events.clear();
    splitSum = 0;
    xb = new XafsBatch;
    connect(xb, &XafsBatch::stage, this, [this](const QString &m, qlonglong dEt) {
        events << "stage:" + m;
        splitSum += dEt;
    });
    connect(xb, &XafsBatch::starting, this, [this] { events << "starting"; });
    connect(xb, &XafsBatch::setFirstImageSet, this, [this] { events << "first"; });
    connect(xb, &XafsBatch::setNextImageSet, this, [this] { events << "next"; });
    connect(xb, &XafsBatch::execCalculation, this, [this] { events << "exec"; });
    connect(xb, &XafsBatch::finished, this, [this] { events << "finished"; });
    xb->moveToThread(&thread);
    thread.start();
}

void TestXafsBatch::cleanup()
{
    thread.quit();
    thread.wait();
    delete xb;
}

void TestXafsBatch::reactsOnlyInItsStage_data()
{
    QTest::addColumn<QStringList>("posted");
    QTest::addColumn<QStringList>("expected");
    const QStringList started { "starting", "stage:Data Loading", "first" };
    const QStringList calculating { "stage:Calculating", "exec" };
    const QStringList calcDone { "stage:Finished Calc.", "next" };
    const QStringList done { "stage:Finished", "finished" };
    QTest::newRow("idle ignores every completion")
        << QStringList { "loadedDataSet", "calcFinished", "noMoreSets" } << QStringList {};
    QTest::newRow("one set then no more") << QStringList { "start", "loadedDataSet", "calcFinished",
        "noMoreSets" } << started + calculating + calcDone + done;
    QTest::newRow("end of a run while loading is not this set's")
        << QStringList { "start", "calcFinished", "loadedDataSet" } << started + calculating;
    QTest::newRow("a load while calculating is not the next set") << QStringList { "start",
        "loadedDataSet", "loadedDataSet", "calcFinished" } << started + calculating + calcDone;
    QTest::newRow("no more sets only answers a request for a set") << QStringList { "start",
        "loadedDataSet", "noMoreSets", "calcFinished" } << started + calculating + calcDone;
    QTest::newRow("second click stops, late completions ignored") << QStringList { "start",
        "loadedDataSet", "start", "calcFinished", "noMoreSets" } << started + calculating + done;
    QTest::newRow("starts afresh after a stop") << QStringList { "start", "start", "start",
        "loadedDataSet" } << started + done + started + calculating;
}

void TestXafsBatch::reactsOnlyInItsStage()
{
    QFETCH(QStringList, posted);
    QFETCH(QStringList, expected);
    for (const QString &slot : posted)
        QVERIFY(QMetaObject::invokeMethod(xb, slot.toLatin1().constData(), Qt::QueuedConnection));
    // Everything posted has run; what it emitted is queued here.
    QMetaObject::invokeMethod(
        xb, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    QCOMPARE(events, expected);
    QCOMPARE(xb->running.load(), !expected.isEmpty() && !expected.endsWith("finished"));
}

void TestXafsBatch::splitTimesSharedAcrossThreads()
{
    QCOMPARE(xb->splitTime(), 0); // no clock before the first run
    QMetaObject::invokeMethod(xb, "start", Qt::BlockingQueuedConnection);
    QTRY_COMPARE(events.size(), 3);

    // The main window and the controller both take splits; each is the time since the other's,
    // so together they add up to the clock, never counting a stretch twice or going back.
    qint64 sums[2] = { 0, 0 };
    std::atomic<int> negatives { 0 };
    auto taker = [this, &sums, &negatives](int k) {
        for (int i = 0; i < 200000; ++i) {
            const qint64 d = xb->splitTime();
            sums[k] += d;
            if (d < 0)
                ++negatives;
        }
    };
    std::thread other(taker, 1);
    QMetaObject::invokeMethod(
        xb, [&] { taker(0); }, Qt::BlockingQueuedConnection);
    other.join();
    const qint64 low = xb->elapsed();
    const qint64 total = splitSum + sums[0] + sums[1] + xb->splitTime();
    const qint64 high = xb->elapsed();
    QCOMPARE(negatives.load(), 0);
    QVERIFY2(total >= low && total <= high, qPrintable(QString::number(total - low)));
}

QTEST_MAIN(TestXafsBatch)
#include "tst_XafsBatch.moc"
