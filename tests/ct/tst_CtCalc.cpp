// The single-slice reconstruction panel on a phantom's camera files: one-by-one and "At Once"
// runs against the engine's own reconstruction, stopping, restarting, the default region,
// the colour scale, the window's responsiveness between projections and destruction mid-run.
#include "ColorBar.h"
#include "CtBackProj.h"
#include "CtCalc.h"
#include "CtGridding.h"
#include "CtParams.h"
#include "CtProgress.h"
#include "CtTestData.h"
#include "HSgm.h"
#include "ImgDatas.h"
#include "ImgDispWPV.h"
#include "ParallelBackProj.h"
#include "ProcCtrl.h"
#include "RingRemoval.h"
#include "Sinogram.h"
#include "SinogramBuild.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

struct Rig
{
    CtTestData::PhantomImages data;
    ProcCtrl proc;
    Sinogram sinogram;
    CtParams params;
    std::unique_ptr<CtCalc> calc = std::make_unique<CtCalc>();
    int slice = 2;

    // A head phantom of `width` pixels per line, 4 lines, `projections` over `rangeDeg`.
    bool make(int width, int projections, double rangeDeg, double angleOriginDeg = 0.0)
    {
        CtTestData::PhantomSetup setup;
        setup.width = width;
        setup.height = 4;
        setup.axisOffset = 0.3;
        setup.projections = projections;
        setup.rangeDeg = rangeDeg;
        if (!data.make(setup))
            return false;
        sinogram.imgDatas = &data.set;
        sinogram.setProcCtrl(&proc);
        proc.findChild<QRadioButton *>("RotAxV")->click();
        proc.setDataSetImages(projections);
        proc.setDataSetRangeDeg(rangeDeg);
        proc.setAngleOriginDeg(angleOriginDeg);
        proc.setSliceNo(slice);
        proc.setCor(data.detector.axis());
        proc.fillCtParams(params, true, false);
        calc->sinogram = &sinogram;
        calc->ctParams = &params;
        return true;
    }

    void usePartial(int start, int images)
    {
        proc.setDataSetStartImageNo(start);
        proc.setDataSetUsingImages(images);
        proc.setUsePartialDataSet(true);
        proc.fillCtParams(params, true, false);
    }

    void angles(double *angle0, double *dAngle) const
    {
        *dAngle = params.dataSetRangeDeg / 180.0 * std::numbers::pi / params.dataSetImages;
        *angle0 = params.startImageNo * *dAngle + params.angleOriginDeg * std::numbers::pi / 180.0;
    }

    // The engine's reconstruction of the first `rows` projections (all when negative) of the
    // same sinogram over the region, with the run's method and ring removal.
    std::vector<double> reference(int rows, const CtRegion &r) const
    {
        HSgm sgm;
        if (!buildSinogram(sgm, data.set, proc.partialDataSet(), true, proc.cor(), slice))
            return {};
        RingRemoval rings;
        if (!rings.apply(sgm.sgm.get(), sgm.w, sgm.h, params.ringRemoval))
            return {};
        const int n = sgm.w / 2 * 2;
        if (params.method == CtMethod::Gridding) {
            CtGridding gridding;
            gridding.setup(n, sgm.h);
            double angle0 = 0, dAngle = 0;
            angles(&angle0, &dAngle);
            if (!gridding.reconstruct(sgm, r.x0, r.x1, r.z0, r.z1, angle0, dAngle))
                return {};
            return std::vector<double>(gridding.resultData(), gridding.resultData() + n * n);
        }
        CtBackProj engine;
        engine.setup(n, sgm.h);
        double angle0 = 0, dAngle = 0;
        angles(&angle0, &dAngle);
        if (rows < 0) {
            if (!engine.reconstruct(sgm, r.x0, r.x1, r.z0, r.z1, angle0, dAngle))
                return {};
        } else {
            engine.initResult(n);
            for (int i = 0; i < rows; ++i)
                engine.fftRow(sgm.sgmRow(i), i);
            for (int i = 0; i < rows; ++i)
                engine.filterRow(i);
            if (rows > 0 && !engine.backProjectAll(rows, r.x0, r.x1, r.z0, r.z1, angle0, dAngle))
                return {};
        }
        return std::vector<double>(engine.resultData(), engine.resultData() + n * n);
    }

    std::vector<double> result() const
    {
        return std::vector<double>(
            calc->resultData(), calc->resultData() + calc->resultSize() * calc->resultSize());
    }

    QLineEdit *field(const char *name) const { return calc->findChild<QLineEdit *>(name); }
    QCheckBox *atOnce() const { return calc->findChild<QCheckBox *>("CalcAtOnce"); }

    // Runs one slice and waits for its end.
    bool run(bool inOnePiece)
    {
        atOnce()->setChecked(inOnePiece);
        QSignalSpy finished(calc.get(), &CtCalc::calcFinished);
        calc->calcCt();
        return finished.wait(30000) && finished.count() == 1;
    }
};

// Another image with column `col` scaled by `gain`, as a detector pixel of another gain
// would give it.
class StripedImage : public ImgData
{
public:
    StripedImage(const ImgData &source, int col, double gain)
        : source(source)
        , col(col)
        , gain(gain)
    {
        ready = source.ready;
        width = source.width;
        height = source.height;
        expTime = source.expTime;
    }
    bool readProps(const QString &, int &, int &) override { return false; }
    bool openData(const QString &) override { return false; }
    double *hLine(int y, double *out) const override
    {
        source.hLine(y, out);
        if (col < width)
            out[col] *= gain;
        return out;
    }
    double *vLine(int x, double *out) const override
    {
        source.vLine(x, out);
        if (x == col)
            for (int y = 0; y < height; ++y)
                out[y] *= gain;
        return out;
    }

private:
    const ImgData &source;
    int col;
    double gain;
};

} // namespace

class TestCtCalc : public QObject
{
    Q_OBJECT
private slots:
    void methodsInOrder();
    void runsMatchEngine_data();
    void runsMatchEngine();
    void atOnceThreadsAgree_data();
    void atOnceThreadsAgree();
    void stopAfterSomeProjections_data();
    void stopAfterSomeProjections();
    void restartRightAfterStop();
    void noSinogramNothingRuns();
    void defaultCalcRegion();
    void ownCalcRegion();
    void fixedColourScale();
    void regionSlots();
    void valueUnderPointer();
    void respondsBetweenProjections();
    void destroyedMidRun();
};

void TestCtCalc::methodsInOrder()
{
    const QStringList expected { "askToStartCalc()", "startCalcAll()", "calcFinished()",
        "startCalcOneByOne()", "finishedCalcOne()", "dRUpdated(double,double,double,double)",
        "cRUpdated(double,double,double,double)", "startCt()", "stopCt()", "endCt()", "calcAll()",
        "calcOne(int)", "noticedNewPos(double,double)", "noticedNewS(QRectF)", "setCRegion()",
        "calcCt()", "genResImage()", "setDR(double,double,double,double)",
        "setCR(double,double,double,double)", "setFixColorScale(bool)",
        "setCBarMinMaxForced(double,double)", "setSaveImage(bool,QString,QString,QString)",
        "setSaveData(bool,QString,QString,QString)" };
    const QMetaObject &mo = CtCalc::staticMetaObject;
    QStringList own;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        own << QString::fromLatin1(mo.method(i).methodSignature());
    QCOMPARE(own, expected);
    for (int i = 0; i < 7; ++i)
        QCOMPARE(mo.method(mo.methodOffset() + i).methodType(), QMetaMethod::Signal);

    const QStringList relay { "calcAll()", "calcOne(int)", "finishedCalcOneByOne()",
        "startCalcAll()", "startCalcOneByOne()", "calcNext()" };
    const QMetaObject &pmo = CtProgress::staticMetaObject;
    QStringList progress;
    for (int i = pmo.methodOffset(); i < pmo.methodCount(); ++i)
        progress << QString::fromLatin1(pmo.method(i).methodSignature());
    QCOMPARE(progress, relay);
}

void TestCtCalc::runsMatchEngine_data()
{
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<int>("projections");
    QTest::addColumn<double>("originDeg");
    QTest::addColumn<int>("partialStart"); // -1: the whole set
    QTest::addColumn<bool>("gridding");
    QTest::addColumn<int>("ringRemoval");
    QTest::newRow("180 deg") << 180.0 << 36 << 0.0 << -1 << false << 0;
    QTest::newRow("360 deg, turned origin") << 360.0 << 48 << 30.0 << -1 << false << 0;
    QTest::newRow("partial set that wraps") << 180.0 << 36 << 0.0 << 20 << false << 0;
    QTest::newRow("ring removal") << 180.0 << 36 << 0.0 << -1 << false << 2;
    QTest::newRow("gridding") << 180.0 << 36 << 0.0 << -1 << true << 0;
    QTest::newRow("gridding, partial set that wraps, ring removal")
        << 180.0 << 36 << 0.0 << 20 << true << 3;
}

void TestCtCalc::runsMatchEngine()
{
    QFETCH(double, rangeDeg);
    QFETCH(int, projections);
    QFETCH(double, originDeg);
    QFETCH(int, partialStart);
    QFETCH(bool, gridding);
    QFETCH(int, ringRemoval);
    Rig rig;
    QVERIFY(rig.make(64, projections, rangeDeg, originDeg));
    // With ring removal, the I0 image of a detector whose column 42 has 15 % less gain: a
    // stripe in every sinogram, well above the variation of this small, coarse set.
    StripedImage striped(*rig.data.i0p, 42, 0.85);
    if (ringRemoval > 0)
        rig.data.i0p = &striped;
    if (partialStart >= 0)
        rig.usePartial(partialStart, 30);
    rig.proc.setMethod(gridding ? CtMethod::Gridding : CtMethod::Fbp);
    rig.proc.setRingRemoval(ringRemoval);
    rig.proc.fillCtParams(rig.params, true, false);
    const int rows = partialStart >= 0 ? 30 : projections;

    QSignalSpy ones(rig.calc.get(), &CtCalc::finishedCalcOne);
    QVERIFY(rig.run(false));
    // Gridding makes the slice in one piece even when asked for projection by projection.
    QCOMPARE(ones.count(), gridding ? 0 : rows);
    QCOMPARE(rig.calc->projections, rows);
    QCOMPARE(rig.field("ShowSliceNo")->text(), QString::number(rig.slice));
    const int n = rig.calc->n;
    QVERIFY(n >= 50);
    const std::vector<double> oneByOne = rig.result();
    const std::vector<double> reference
        = rig.reference(-1, CtRegion { 0, 0, double(n), double(n) });
    if (ringRemoval > 0) {
        rig.params.ringRemoval = 0;
        QVERIFY(rig.reference(-1, CtRegion { 0, 0, double(n), double(n) }) != reference);
        rig.params.ringRemoval = ringRemoval;
    }
    QCOMPARE(oneByOne.size(), reference.size());
    QVERIFY(oneByOne == reference);
    double hi = 0;
    for (const double v : oneByOne)
        hi = std::max(hi, std::abs(v));
    QVERIFY(hi > 0);

    QVERIFY(rig.run(true));
    QVERIFY(rig.result() == reference);
    // Nothing arrives late: still one end per run.
    QSignalSpy finished(rig.calc.get(), &CtCalc::calcFinished);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 0);

    // The picture shows the whole result over its own range.
    const ImgDispWPV *disp = rig.calc->display();
    QCOMPARE(disp->img.size(), QSize(n, n));
    QCOMPARE(disp->img.format(), QImage::Format_Grayscale8);
    const auto [lo, up] = std::minmax_element(reference.begin(), reference.end());
    QCOMPARE(disp->colorBar()->vMin, *lo);
    QCOMPARE(disp->colorBar()->vMax, *up);
    const int z = n / 2 + 3, x = n / 2 - 5;
    QCOMPARE(qGray(disp->img.pixel(x, z)), disp->colorBar()->level(reference[z * n + x]));
    QVERIFY(!rig.calc->running);
    const QTime start = QTime::fromString(rig.field("StartT")->text(), "hh:mm:ss.zzz");
    const QTime end = QTime::fromString(rig.field("EndT")->text(), "hh:mm:ss.zzz");
    QVERIFY(start.isValid() && end.isValid());
    QCOMPARE(rig.field("SpentT")->text(),
        QString::number(rig.calc->calcStart.msecsTo(rig.calc->calcEnd) / 1000.0, 'g', 6));
}

void TestCtCalc::atOnceThreadsAgree_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("2") << 2;
    QTest::newRow("3") << 3;
    QTest::newRow("8") << 8;
    QTest::newRow("every hardware thread") << 0;
}

void TestCtCalc::atOnceThreadsAgree()
{
    QFETCH(int, threads);
    Rig rig;
    QVERIFY(rig.make(200, 40, 180.0));
    rig.calc->setCR(7.5, 3, 180, 190.2);
    rig.calc->atOnceThreads = 1;
    QVERIFY(rig.run(true));
    const std::vector<double> single = rig.result();
    rig.calc->atOnceThreads = threads;
    QVERIFY(rig.run(true));
    QVERIFY(rig.result() == single);
    QVERIFY(single == rig.reference(-1, CtRegion { 7.5, 3, 180, 190.2 }));
    // The same split straight on an engine, with a region reaching past the result.
    HSgm sgm;
    QVERIFY(buildSinogram(sgm, rig.data.set, PartialDataSet {}, true, rig.proc.cor(), rig.slice));
    CtBackProj a, b;
    double angle0 = 0, dAngle = 0;
    rig.angles(&angle0, &dAngle);
    for (CtBackProj *e : { &a, &b }) {
        e->setup(sgm.w, sgm.h);
        e->initResult(e->n());
        for (int i = 0; i < sgm.h; ++i)
            e->fftRow(sgm.sgmRow(i), i);
        for (int i = 0; i < sgm.h; ++i)
            e->filterRow(i);
    }
    QVERIFY(a.backProjectAll(sgm.h, -5, 2047, -5, 2047, angle0, dAngle));
    QVERIFY(backProjectParallel(b, sgm.h, -5, 2047, -5, 2047, angle0, dAngle, threads));
    QVERIFY(std::equal(a.resultData(), a.resultData() + a.n() * a.n(), b.resultData()));
    // Refused the same way when the angles are not numbers.
    QVERIFY(!backProjectParallel(b, sgm.h, 0, 10, 0, 10, angle0, INFINITY, threads));
}

void TestCtCalc::stopAfterSomeProjections_data()
{
    QTest::addColumn<int>("k");
    QTest::newRow("after 1") << 1;
    QTest::newRow("after 7") << 7;
    QTest::newRow("before the last") << 35;
}

void TestCtCalc::stopAfterSomeProjections()
{
    QFETCH(int, k);
    Rig rig;
    QVERIFY(rig.make(64, 36, 180.0));
    int done = 0;
    QDateTime stoppedAt;
    connect(rig.calc.get(), &CtCalc::finishedCalcOne, rig.calc.get(), [&] {
        if (++done == k) {
            stoppedAt = QDateTime::currentDateTime();
            rig.calc->stopCt();
        }
    });
    QSignalSpy finished(rig.calc.get(), &CtCalc::calcFinished);
    rig.atOnce()->setChecked(false);
    rig.calc->calcCt();
    QVERIFY(finished.wait(30000));
    QTest::qWait(100); // any request still on its way arrives and is refused
    QCOMPARE(finished.count(), 1);
    QCOMPARE(done, k);
    QVERIFY(!rig.calc->running);
    const int n = rig.calc->n;
    QVERIFY(rig.result() == rig.reference(k, CtRegion { 0, 0, double(n), double(n) }));
    // The picture shows those k projections, and the end time is the stop.
    const ImgDispWPV *disp = rig.calc->display();
    const int z = n / 2, x = n / 2;
    QCOMPARE(qGray(disp->img.pixel(x, z)), disp->colorBar()->level(rig.result()[z * n + x]));
    QVERIFY(rig.calc->calcEnd >= stoppedAt);
    QVERIFY(rig.calc->calcEnd.msecsTo(stoppedAt) > -1000);
    QCOMPARE(rig.field("EndT")->text(), rig.calc->calcEnd.toString("hh:mm:ss.zzz"));
}

void TestCtCalc::restartRightAfterStop()
{
    Rig rig;
    QVERIFY(rig.make(64, 36, 180.0));
    int done = 0;
    // Stop after two projections and start again at once, while the relay still has
    // requests of the first run in flight.
    connect(rig.calc.get(), &CtCalc::finishedCalcOne, rig.calc.get(), [&] {
        if (++done == 2) {
            rig.calc->calcCt();
            QVERIFY(!rig.calc->running);
            rig.calc->calcCt();
            QVERIFY(rig.calc->running);
        }
    });
    QSignalSpy finished(rig.calc.get(), &CtCalc::calcFinished);
    QSignalSpy ones(rig.calc.get(), &CtCalc::finishedCalcOne);
    rig.atOnce()->setChecked(false);
    rig.calc->calcCt();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 2);
    QCOMPARE(ones.count(), 2 + 36);
    const int n = rig.calc->n;
    QVERIFY(rig.result() == rig.reference(-1, CtRegion { 0, 0, double(n), double(n) }));
}

void TestCtCalc::noSinogramNothingRuns()
{
    Rig rig;
    QVERIFY(rig.make(64, 8, 180.0));
    // A CoR the line cannot hold, from the start: the sinogram panel never gets a record.
    rig.proc.setCor(500);
    Sinogram fresh;
    fresh.imgDatas = &rig.data.set;
    fresh.setProcCtrl(&rig.proc);
    rig.calc->sinogram = &fresh;
    QSignalSpy finished(rig.calc.get(), &CtCalc::calcFinished);
    QSignalSpy crs(rig.calc.get(), &CtCalc::cRUpdated);
    for (const bool inOnePiece : { false, true }) {
        rig.atOnce()->setChecked(inOnePiece);
        rig.calc->calcCt();
        QVERIFY(!rig.calc->running);
    }
    QTest::qWait(50);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(crs.count(), 0);
    QCOMPARE(rig.field("ShowSliceNo")->text(), QString("0"));
    QVERIFY(rig.calc->display()->img.isNull());
    QVERIFY(!rig.calc->progressThread->isRunning());
    // Without a sinogram panel nothing is even timed.
    CtCalc bare;
    bare.calcCt();
    QVERIFY(!bare.running);
    QVERIFY(bare.findChild<QLineEdit *>("StartT")->text().isEmpty());
}

void TestCtCalc::defaultCalcRegion()
{
    Rig rig;
    QVERIFY(rig.make(64, 12, 180.0));
    QCOMPARE(rig.calc->cr(), (CtRegion { 0, 0, 2047, 2047 }));
    QVERIFY(!rig.calc->regionSet());
    QSignalSpy crs(rig.calc.get(), &CtCalc::cRUpdated);
    QVERIFY(rig.run(true));
    const int n = rig.calc->n;
    QCOMPARE(crs.count(), 1);
    QCOMPARE(crs.at(0), (QVariantList { 0.0, 0.0, double(n), double(n) }));
    QCOMPARE(rig.calc->cr(), (CtRegion { 0, 0, double(n), double(n) }));
    QVERIFY(rig.calc->regionSet());
    QCOMPARE(rig.field("Crx1")->text(), QString::number(n));
}

void TestCtCalc::ownCalcRegion()
{
    Rig rig;
    QVERIFY(rig.make(64, 12, 180.0));
    rig.calc->setCR(10, 12, 40.5, 50);
    QVERIFY(rig.calc->regionSet());
    QSignalSpy crs(rig.calc.get(), &CtCalc::cRUpdated);
    QVERIFY(rig.run(false));
    QCOMPARE(crs.count(), 0);
    QCOMPARE(rig.calc->cr(), (CtRegion { 10, 12, 40.5, 50 }));
    const std::vector<double> r = rig.result();
    QVERIFY(r == rig.reference(-1, CtRegion { 10, 12, 40.5, 50 }));
    const int n = rig.calc->n;
    // Only the region holds numbers.
    QCOMPARE(r[5 * n + 30], 0.0);
    QCOMPARE(r[30 * n + 41], 0.0);
    QVERIFY(r[30 * n + 40] != 0.0);
}

void TestCtCalc::fixedColourScale()
{
    Rig rig;
    QVERIFY(rig.make(64, 12, 180.0));
    rig.calc->setFixColorScale(true);
    rig.calc->setCBarMinMaxForced(-0.5, 2.5);
    QVERIFY(rig.run(true));
    const ColorBar *bar = rig.calc->display()->colorBar();
    QVERIFY(bar->fixedScale());
    QCOMPARE(bar->vMin, -0.5);
    QCOMPARE(bar->vMax, 2.5);
    const int n = rig.calc->n;
    const std::vector<double> r = rig.result();
    for (int z = 0; z < n; z += 7)
        for (int x = 0; x < n; x += 5)
            QCOMPARE(qGray(rig.calc->display()->img.pixel(x, z)),
                GreyLevelMap({ -0.5, 2.5, 0, 1 }).level(r[z * n + x]));
    rig.calc->setFixColorScale(false);
    QVERIFY(!bar->fixedScale());
}

void TestCtCalc::regionSlots()
{
    CtCalc calc;
    QSignalSpy drs(&calc, &CtCalc::dRUpdated);
    QSignalSpy crs(&calc, &CtCalc::cRUpdated);
    calc.setDR(0, 0, 100, 100);
    QCOMPARE(drs.count(), 1);
    calc.setDR(0, 0, 100, 100);
    QCOMPARE(drs.count(), 1);
    calc.setDR(0, 0, 100, 90);
    QCOMPARE(drs.count(), 2);
    QCOMPARE(calc.display()->s, QRectF(0, 0, 100, 90));
    // A zoom of the display moves the DR along.
    emit calc.display()->newS(QRectF(10.4, 20.6, 88.8, 79.4));
    QCOMPARE(drs.count(), 3);
    QCOMPARE(calc.dr(), (CtRegion { 10.4, 20.6, 99.2, 100.0 }));
    calc.findChild<QPushButton *>("SetCRegion")->click();
    QCOMPARE(calc.cr(), (CtRegion { 10, 20, 100, 100 }));
    QCOMPARE(crs.count(), 1);
    QCOMPARE(crs.at(0), (QVariantList { 10.0, 20.0, 100.0, 100.0 }));
    calc.setCRegion();
    QCOMPARE(crs.count(), 1);
    // The button asks the main window to toggle the run.
    QSignalSpy asks(&calc, &CtCalc::askToStartCalc);
    calc.findChild<QPushButton *>("StartCalc")->click();
    QCOMPARE(asks.count(), 1);
    QVERIFY(!calc.running);
}

void TestCtCalc::valueUnderPointer()
{
    Rig rig;
    QVERIFY(rig.make(64, 12, 180.0));
    QLineEdit *val = rig.calc->display()->findChild<QLineEdit *>("Val");
    rig.calc->noticedNewPos(3, 3);
    QCOMPARE(val->text(), QString("0")); // no result yet
    QVERIFY(rig.run(true));
    const int n = rig.calc->n;
    const std::vector<double> r = rig.result();
    emit rig.calc->display()->newPosInvY(31.7, 28.2);
    QCOMPARE(val->text(), QString::number(r[28 * n + 31], 'g', 6));
    val->setText("unchanged");
    for (const QPointF p : { QPointF(-1, 5), QPointF(5, n), QPointF(n, 0), QPointF(1e300, 0) }) {
        rig.calc->noticedNewPos(p.x(), p.y());
        QCOMPARE(val->text(), QString("unchanged"));
    }
}

void TestCtCalc::respondsBetweenProjections()
{
    Rig rig;
    QVERIFY(rig.make(64, 24, 180.0));
    // A timer that fires while the run goes on sees the rows grow: the event loop runs
    // between projections.
    QSet<int> stages;
    int done = 0;
    connect(rig.calc.get(), &CtCalc::finishedCalcOne, rig.calc.get(), [&] { ++done; });
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
        if (rig.calc->running && done > 0 && done < 24)
            stages.insert(done);
    });
    timer.start(0);
    QVERIFY(rig.run(false));
    timer.stop();
    QCOMPARE(done, 24);
    QVERIFY2(stages.size() >= 2, qPrintable(QString::number(stages.size())));
}

void TestCtCalc::destroyedMidRun()
{
    Rig rig;
    QVERIFY(rig.make(64, 36, 180.0));
    QPointer<QThread> thread = rig.calc->progressThread;
    QPointer<CtProgress> relay = rig.calc->progress;
    int done = 0;
    bool wasRunning = false;
    QObject owner;
    // After the third projection the panel is destroyed from the event loop, as closing the
    // window would, with the relay's next request on its way.
    connect(rig.calc.get(), &CtCalc::finishedCalcOne, rig.calc.get(), [&] {
        if (++done == 3)
            QMetaObject::invokeMethod(
                &owner,
                [&] {
                    wasRunning = rig.calc->running && rig.calc->progressThread->isRunning();
                    rig.calc.reset();
                },
                Qt::QueuedConnection);
    });
    rig.atOnce()->setChecked(false);
    rig.calc->calcCt();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.calc, 30000);
    QVERIFY(wasRunning);
    QVERIFY(done >= 3 && done < 36);
    QVERIFY(thread.isNull());
    QVERIFY(relay.isNull());
    QTest::qWait(50); // requests still queued for the panel die with it
}

QTEST_MAIN(TestCtCalc)
#include "tst_CtCalc.moc"
