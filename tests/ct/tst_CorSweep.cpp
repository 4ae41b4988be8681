// A slice reconstructed at a range of centres of rotation: each slice is the single-slice
// reconstruction at its centre, also when the slices are made on several threads at once, and
// the one of least total variation lies at the phantom's axis. The sweep's threads leave the
// caller's event loop free.
#include "CorSweep.h"
#include "CorSweepJob.h"
#include "CtBackProj.h"
#include "CtGridding.h"
#include "CtParams.h"
#include "CtTestData.h"
#include "ProcCtrl.h"
#include "SinogramBuild.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

class TestCorSweep : public QObject
{
    Q_OBJECT
private slots:
    void cors_data();
    void cors();
    void sweepMatchesSingleSlices_data();
    void sweepMatchesSingleSlices();
    void eventLoopRunsWhileSweeping();
    void cancelKeepsSlicesMade();
};

namespace {

// Waits on a sweep thread until `flag` is set by the test's thread, at most 10 s; false when it
// never came.
bool waitFor(const std::atomic<bool> &flag)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flag.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag.load();
}

struct SmallSweep
{
    CtTestData::PhantomImages d;
    CtParams p;
    bool make()
    {
        CtTestData::PhantomSetup setup;
        setup.width = 64;
        setup.height = 4;
        setup.projections = 90;
        setup.objectWidth = 32;
        p.dataSetImages = setup.projections;
        p.dataSetRangeDeg = 180;
        return d.make(setup);
    }
    bool sinogram(HSgm &sgm, double cor)
    {
        return buildSinogram(sgm, d.set, PartialDataSet {}, true, cor, 2);
    }
};

} // namespace

void TestCorSweep::cors_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("step");
    QTest::addColumn<std::vector<double>>("expected");
    QTest::newRow("ends included")
        << 10.0 << 12.0 << 0.5 << std::vector<double> { 10, 10.5, 11, 11.5, 12 };
    QTest::newRow("downward, step without its sign")
        << 12.0 << 11.0 << 0.5 << std::vector<double> { 12, 11.5, 11 };
    QTest::newRow("end between steps")
        << 10.0 << 10.25 << 0.1 << std::vector<double> { 10, 10.1, 10.2 };
    QTest::newRow("one centre") << 64.5 << 64.5 << 1.0 << std::vector<double> { 64.5 };
    QTest::newRow("step 0") << 10.0 << 12.0 << 0.0 << std::vector<double> {};
    QTest::newRow("too many") << 0.0 << 1000.0 << 1.0 << std::vector<double> {};
    QTest::newRow("not a number") << nan << 12.0 << 1.0 << std::vector<double> {};
}

void TestCorSweep::cors()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, step);
    QFETCH(std::vector<double>, expected);
    const std::vector<double> got = CorSweep::cors(from, to, step);
    QCOMPARE(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        QVERIFY(std::abs(got[i] - expected[i]) < 1e-9);
}

void TestCorSweep::sweepMatchesSingleSlices_data()
{
    QTest::addColumn<double>("axisOffset");
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<bool>("gridding");
    QTest::addColumn<int>("threads");
    QTest::newRow("180 deg, fbp") << 0.3 << 180.0 << false << 1;
    QTest::newRow("360 deg, fbp, 3 threads") << -2.5 << 360.0 << false << 3;
    QTest::newRow("180 deg, gridding, 4 threads") << 1.6 << 180.0 << true << 4;
}

void TestCorSweep::sweepMatchesSingleSlices()
{
    QFETCH(double, axisOffset);
    QFETCH(double, rangeDeg);
    QFETCH(bool, gridding);
    CtTestData::PhantomImages d;
    CtTestData::PhantomSetup setup;
    setup.width = 128;
    setup.height = 8;
    setup.axisOffset = axisOffset;
    setup.projections = rangeDeg > 180 ? 360 : 180;
    setup.rangeDeg = rangeDeg;
    setup.objectWidth = 64;
    QVERIFY(d.make(setup));
    const int slice = 4;
    const double axis = d.detector.axis();

    CtParams p;
    p.dataSetImages = setup.projections;
    p.dataSetRangeDeg = rangeDeg;
    p.filter = CtFilterKind::RampPadded;
    p.method = gridding ? CtMethod::Gridding : CtMethod::Fbp;
    const CorSweep::SinogramFn sinogram = [&](HSgm &sgm, double cor) {
        return buildSinogram(sgm, d.set, PartialDataSet {}, true, cor, slice);
    };
    QFETCH(int, threads);
    const double from = std::round(axis) - 4;
    const std::vector<double> cors = CorSweep::cors(from, from + 8, 1);
    std::vector<CorSweep::Slice> slices;
    if (threads == 1) {
        CorSweep sweep;
        for (double cor : cors) {
            CorSweep::Slice s;
            QVERIFY(sweep.reconstruct(sinogram, p, cor, s));
            slices.push_back(s);
        }
    } else {
        CorSweepJob job;
        QSignalSpy finished(&job, &CorSweepJob::finished);
        QVERIFY(job.start(sinogram, p, cors, threads));
        QCOMPARE(job.threadCount(), threads);
        QVERIFY(finished.wait(60000));
        QVERIFY(!job.wasCancelled());
        QVERIFY(job.failedCors().empty());
        slices = job.slices();
    }
    QCOMPARE(slices.size(), size_t(9));
    for (size_t i = 0; i < slices.size(); ++i)
        QCOMPARE(slices[i].cor, cors[i]); // in the order of the centres, whichever thread made it

    const double step = rangeDeg / 180.0 * std::numbers::pi / setup.projections;
    for (const CorSweep::Slice &s : slices) {
        // The same slice made on its own with the engines directly.
        HSgm sgm;
        QVERIFY(buildSinogram(sgm, d.set, PartialDataSet {}, true, s.cor, slice));
        const int n = sgm.w / 2 * 2;
        QCOMPARE(s.n, n);
        const double *single = nullptr;
        CtBackProj bp;
        CtGridding grid;
        if (gridding) {
            grid.setFilter(p.filter);
            grid.setup(n, setup.projections);
            QVERIFY(grid.reconstruct(sgm, 0, n, 0, n, 0.0, step));
            single = grid.resultData();
        } else {
            QVERIFY(bp.setFilter(p.filter));
            bp.setup(n, setup.projections);
            QVERIFY(bp.reconstruct(sgm, 0, n, 0, n, 0.0, step));
            single = bp.resultData();
        }
        double worst = 0;
        for (size_t i = 0; i < size_t(n) * size_t(n); ++i)
            worst = std::max(worst, std::abs(s.values[i] - single[i]));
        QVERIFY2(worst < 1e-12, qPrintable(QString("CoR %1: %2").arg(s.cor).arg(worst)));
    }

    // The least total variation at the whole pixel nearest the axis (either of two as near).
    const int best = CorSweep::best(slices);
    QVERIFY(best >= 0);
    QString scores;
    for (const CorSweep::Slice &s : slices)
        scores += QString(" %1:%2").arg(s.cor).arg(s.variation, 0, 'g', 4);
    QVERIFY2(std::abs(slices[size_t(best)].cor - axis) <= 0.5 + 1e-9,
        qPrintable(
            QString("best at %1, axis %2;%3").arg(slices[size_t(best)].cor).arg(axis).arg(scores)));
}

void TestCorSweep::eventLoopRunsWhileSweeping()
{
    // Each slice's sinogram waits for a timer of this thread: were the slices made on this
    // thread, the timer could only fire after the sweep, and the wait would run out.
    SmallSweep data;
    QVERIFY(data.make());
    std::atomic<bool> ticked { false };
    std::atomic<int> waitedOut { 0 };
    const CorSweep::SinogramFn sinogram = [&](HSgm &sgm, double cor) {
        if (!waitFor(ticked))
            ++waitedOut;
        return data.sinogram(sgm, cor);
    };
    const std::vector<double> cors = CorSweep::cors(30, 34, 0.5);
    CorSweepJob job;
    QSignalSpy finished(&job, &CorSweepJob::finished);
    QSignalSpy progress(&job, &CorSweepJob::progress);
    QVERIFY(job.start(sinogram, data.p, cors, 2));
    QVERIFY(job.running());
    // A second sweep while one runs is refused.
    QVERIFY(!job.start(sinogram, data.p, cors, 2));
    QTimer::singleShot(0, [&ticked] { ticked = true; });
    QVERIFY(finished.wait(30000));
    QCOMPARE(waitedOut.load(), 0);
    QVERIFY(!job.running());
    QCOMPARE(job.slices().size(), cors.size());
    QCOMPARE(progress.size(), int(cors.size()));
    QCOMPARE(progress.last().at(0).toInt(), int(cors.size()));
    QCOMPARE(progress.last().at(1).toInt(), int(cors.size()));
}

void TestCorSweep::cancelKeepsSlicesMade()
{
    // One thread, held in its first slice until the cancel has been given: that slice is made,
    // no other centre is tried, and none counts as failed.
    SmallSweep data;
    QVERIFY(data.make());
    std::atomic<bool> entered { false };
    std::atomic<bool> release { false };
    const CorSweep::SinogramFn sinogram = [&](HSgm &sgm, double cor) {
        entered = true;
        waitFor(release);
        return data.sinogram(sgm, cor);
    };
    CorSweepJob job;
    QSignalSpy finished(&job, &CorSweepJob::finished);
    QVERIFY(job.start(sinogram, data.p, CorSweep::cors(30, 34, 1), 1));
    QTRY_VERIFY(entered.load());
    job.cancel();
    release = true;
    QVERIFY(finished.wait(30000));
    QVERIFY(job.wasCancelled());
    QCOMPARE(job.slices().size(), size_t(1));
    QCOMPARE(job.slices().front().cor, 30.0);
    QVERIFY(job.failedCors().empty());
    // The job takes a new sweep after its end.
    release = true;
    QVERIFY(job.start(sinogram, data.p, CorSweep::cors(31, 32, 1), 2));
    QVERIFY(finished.wait(30000));
    QVERIFY(!job.wasCancelled());
    QCOMPARE(job.slices().size(), size_t(2));
}

QTEST_MAIN(TestCorSweep)
#include "tst_CorSweep.moc"
