#include "Failures.h"
#include "SliceDatas.h"
#include "View3dTestUtil.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <limits>

using v3test::writeCtSlice;
using v3test::writeCtVolume;

// Receives the set's signals on the test's thread, as the slice set panel does.
class Recorder : public QObject
{
    Q_OBJECT
public:
    QStringList events;
    QStringList files;
    int finished = 0;
public slots:
    void cleared() { events << "cleared"; }
    void loadedNewFile(QString f)
    {
        events << "file";
        files << f;
    }
    void loadFilesFinished()
    {
        events << "finished";
        ++finished;
    }
};

class TestSliceDatas : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadsOnItsThread();
    void setMembership_data();
    void setMembership();
    void nothingAccepted();
    void histogramCounts_data();
    void histogramCounts();
    void histogramPicture();
    void secondSelectionIsQueued();
    void heldSetSurvivesReload();

private:
    void load(const QStringList &files, int expectFinished = 1);

    QTemporaryDir tmp;
    QThread *thread = nullptr;
    SliceDatas *datas = nullptr;
    Recorder *rec = nullptr;
};

void TestSliceDatas::init()
{
    thread = new QThread;
    datas = new SliceDatas;
    datas->moveToThread(thread);
    rec = new Recorder;
    connect(datas, &SliceDatas::cleared, rec, &Recorder::cleared);
    connect(datas, &SliceDatas::loadedNewFile, rec, &Recorder::loadedNewFile);
    connect(datas, &SliceDatas::loadFilesFinished, rec, &Recorder::loadFilesFinished);
    thread->start();
}

void TestSliceDatas::cleanup()
{
    thread->quit();
    thread->wait();
    delete datas;
    delete thread;
    delete rec;
}

void TestSliceDatas::load(const QStringList &files, int expectFinished)
{
    QVERIFY(QMetaObject::invokeMethod(
        datas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files)));
    QTRY_COMPARE(rec->finished, expectFinished);
}

void TestSliceDatas::loadsOnItsThread()
{
    const QStringList files
        = writeCtVolume(tmp.path(), 6, 5, 4, [](int x, int y, int j) { return x + y + j * 10.0; });
    load(files);
    QCOMPARE(rec->events, QStringList({ "cleared", "file", "file", "file", "file", "finished" }));
    QCOMPARE(rec->files, files);
    const auto set = datas->current();
    QVERIFY(set->loaded);
    QCOMPARE(set->ss(), 4);
    QCOMPARE(set->sw, 6);
    QCOMPARE(set->sh, 5);
    QCOMPARE(set->vMin, 0.0);
    QCOMPARE(set->vMax, 5 + 4 + 30.0);
    QCOMPARE(set->slices[2].value(3, 1), 3 + 1 + 20.0);
    QCOMPARE(datas->thLow.load(), 0.0);
    QCOMPARE(datas->thHigh.load(), 39.0);
    QVERIFY(set->histReady);
}

void TestSliceDatas::setMembership_data()
{
    // Each file: width, height, and whether its values vary (a constant slice is dropped).
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<QList<bool>>("varying");
    QTest::addColumn<QList<int>>("accepted"); // the stack's files; -1: a refused file's gap
    QTest::addColumn<QString>("message");
    // A file refused counts as a failure of the load; a constant slice is no fault.
    QTest::addColumn<int>("failures");
    QTest::newRow("second of another size")
        << QList<int> { 4, 7, 4 } << QList<bool> { true, true, true } << QList<int> { 0, -1, 2 }
        << "Slice size differs" << 1;
    QTest::newRow("constant slice dropped")
        << QList<int> { 4, 4, 4 } << QList<bool> { true, false, true } << QList<int> { 0, 2 }
        << "one value only" << 0;
    // The first slice read fixes the size even though it is itself dropped.
    QTest::newRow("dropped first slice fixes size")
        << QList<int> { 3, 4, 3 } << QList<bool> { false, true, true } << QList<int> { -1, 2 }
        << "one value only" << 1;
}

void TestSliceDatas::setMembership()
{
    QFETCH(QList<int>, widths);
    QFETCH(QList<bool>, varying);
    QFETCH(QList<int>, accepted);
    QFETCH(QString, message);
    QFETCH(int, failures);
    QStringList files;
    for (int i = 0; i < widths.size(); ++i) {
        const bool v = varying.at(i);
        files << writeCtSlice(tmp.path(), QString("m%1.dat").arg(i), widths.at(i), 3,
            [v, i](int x, int) { return v ? x + i : 5.0; });
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
    if (failures > 0 && message != "Slice size differs")
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Slice size differs"));
    Failures::instance().reset();
    load(files);
    QCOMPARE(Failures::instance().count(), failures);
    QStringList expected;
    for (int i : accepted)
        if (i >= 0)
            expected << files.at(i);
    QCOMPARE(rec->files, expected);
    const auto set = datas->current();
    // A refused file keeps its place as a slice of the set's lowest value.
    QCOMPARE(set->ss(), int(accepted.size()));
    QCOMPARE(set->sw, widths.first());
    for (size_t k = 0; k < set->slices.size(); ++k) {
        const int i = accepted.at(qsizetype(k));
        QCOMPARE(set->slices[k].value(1, 0), i >= 0 ? double(1 + i) : set->vMin);
    }
}

void TestSliceDatas::nothingAccepted()
{
    const QString missing = tmp.filePath("missing.dat");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Not a slice file.*missing.dat"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("No slice accepted"));
    Failures::instance().reset();
    load({ missing });
    QCOMPARE(Failures::instance().count(), 1);
    QCOMPARE(rec->events, QStringList({ "cleared", "finished" }));
    const auto set = datas->current();
    QVERIFY(!set->loaded);
    QVERIFY(!set->histReady);
    QCOMPARE(set->vMin, std::numeric_limits<double>::max());
    QCOMPARE(set->vMax, -std::numeric_limits<double>::max());

    // An empty selection (an empty folder) ends the same way, with nothing to report.
    load({}, 2);
    QVERIFY(!datas->current()->loaded);
}

void TestSliceDatas::histogramCounts_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QList<int>>("bins");
    QTest::addColumn<QList<int>>("counts");
    // 4 x 3 slices, two of them. 0: values 0 and 1 only; 1: 0 ... 49 in steps of one bin
    // width; 2: one outlier pulls everything else into the first bin.
    QTest::newRow("zeros and ones") << 0 << QList<int> { 0, 49, 1 } << QList<int> { 12, 12, 0 };
    QTest::newRow("one per bin") << 1 << QList<int> { 0, 1, 23, 48, 49 }
                                 << QList<int> { 1, 1, 1, 1, 1 };
    QTest::newRow("outlier") << 2 << QList<int> { 0, 48, 49 } << QList<int> { 23, 0, 1 };
}

void TestSliceDatas::histogramCounts()
{
    QFETCH(int, kind);
    QFETCH(QList<int>, bins);
    QFETCH(QList<int>, counts);
    QStringList files;
    if (kind == 1) {
        // 50 distinct values: 25 per slice of 5 x 5.
        files = writeCtVolume(
            tmp.path(), 5, 5, 2, [](int x, int y, int j) { return double(j * 25 + y * 5 + x); });
    } else {
        files = writeCtVolume(tmp.path(), 4, 3, 2, [kind](int x, int y, int j) {
            if (kind == 0)
                return double((x + y + j) % 2);
            return (x == 3 && y == 2 && j == 1) ? 1000.0 : 0.001 * (x + y + j);
        });
    }
    load(files);
    const auto set = datas->current();
    QCOMPARE(set->hist.size(), SliceDatas::histBins);
    for (int i = 0; i < bins.size(); ++i)
        QCOMPARE(set->hist.at(bins.at(i)), counts.at(i));
    int total = 0;
    for (int c : set->hist)
        total += c;
    QCOMPARE(total, set->ss() * set->sw * set->sh);
    QCOMPARE(set->histMax, double(*std::max_element(set->hist.cbegin(), set->hist.cend())));
}

void TestSliceDatas::histogramPicture()
{
    // Four values in bin 0, two in bin 24 (24/49 of the range) and two in bin 49.
    const QStringList files = writeCtVolume(tmp.path(), 4, 2, 1, [](int x, int y, int) {
        const int i = y * 4 + x;
        return i < 4 ? 0.0 : (i < 6 ? 24.0 / 49.0 : 1.0);
    });
    load(files);
    const auto set = datas->current();
    QCOMPARE(set->hist.at(0), 4);
    QCOMPARE(set->hist.at(24), 2);
    QCOMPARE(set->hist.at(49), 2);
    const QImage &img = set->histImg;
    QCOMPARE(img.size(), QSize(SliceDatas::histBins, SliceDatas::histH));
    const QRgb bar = qRgb(0, 220, 160);
    const QRgb white = qRgb(255, 255, 255);
    // The fullest bin reaches the top row, a half-full one row 99 - 49.5, truncated.
    QCOMPARE(img.pixel(0, 0), bar);
    QCOMPARE(img.pixel(24, 48), white);
    QCOMPARE(img.pixel(24, 49), bar);
    QCOMPARE(img.pixel(49, 48), white);
    QCOMPARE(img.pixel(49, 99), bar);
    QCOMPARE(img.pixel(10, 50), white);
    QCOMPARE(img.pixel(10, 98), white);
}

void TestSliceDatas::secondSelectionIsQueued()
{
    QTemporaryDir a, b;
    const QStringList first
        = writeCtVolume(a.path(), 8, 8, 30, [](int x, int y, int j) { return double(x * y + j); });
    const QStringList second
        = writeCtVolume(b.path(), 3, 3, 2, [](int x, int, int j) { return double(x - j); });
    QVERIFY(QMetaObject::invokeMethod(
        datas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, first)));
    QVERIFY(QMetaObject::invokeMethod(
        datas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, second)));
    QTRY_COMPARE(rec->finished, 2);
    QCOMPARE(rec->events.count("cleared"), 2);
    QCOMPARE(rec->events.indexOf("finished"), 31); // the first load ended before the second began
    QCOMPARE(rec->files.mid(30), second);
    QCOMPARE(datas->current()->sw, 3);
}

void TestSliceDatas::heldSetSurvivesReload()
{
    const QStringList first
        = writeCtVolume(tmp.path(), 4, 4, 3, [](int x, int, int) { return double(x); });
    load(first);
    const auto held = datas->current();
    QTemporaryDir other;
    load(writeCtVolume(other.path(), 2, 2, 2, [](int x, int, int) { return double(x); }), 2);
    // A reader that took the set before the reload still reads the old slices whole.
    QCOMPARE(held->ss(), 3);
    QCOMPARE(held->slices[2].value(3, 3), 3.0);
    QCOMPARE(datas->current()->ss(), 2);
}

QTEST_MAIN(TestSliceDatas)
#include "tst_SliceDatas.moc"
