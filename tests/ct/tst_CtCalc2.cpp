// Reconstruction workers on real threads, with their views, a real saver on its own thread
// and real files in temporary folders.
#include "ColorBar.h"
#include "CtBackProj.h"
#include "CtCalc2.h"
#include "CtCalc2Ui.h"
#include "CtDisp.h"
#include "CtGridding.h"
#include "CtImageData.h"
#include "CtTestData.h"
#include "DataSaver.h"
#include "Failures.h"
#include "HSgm.h"
#include "ImgDatas.h"
#include "ImgDispWPV.h"
#include "ProcCtrl.h"
#include "ResultSaver.h"
#include "SaveNaming.h"
#include "Sinogram.h"
#include "SinogramBuild.h"
#include "SlicePool.h"

#include <QDir>
#include <QDirIterator>
#include <QLineEdit>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <tiffio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

namespace {

constexpr int SynthWidth = 65; // even width 64
constexpr int SynthRows = 36;

// An off-centre disc, brighter for higher slice numbers, so that every slice differs.
void fillDisc(HSgm *h, int slice)
{
    h->setSize(SynthWidth, SynthRows);
    const double g = (SynthWidth - 1) / 2.0;
    for (int i = 0; i < SynthRows; ++i) {
        const double c = g + 8.0 * std::cos(i * std::numbers::pi / SynthRows);
        for (int k = 0; k < SynthWidth; ++k) {
            const double d = 36.0 - (k - c) * (k - c);
            h->sgmRow(i)[k] = d > 0 ? 2.0 * std::sqrt(d) * (1.0 + 0.1 * slice) : 0.0;
            h->rawRow(i)[k] = 1.0;
        }
    }
}

void discSource(HSgm *h, bool, double, int slice)
{
    fillDisc(h, slice);
}

CtParams synthParams()
{
    CtParams p;
    p.dataSetImages = SynthRows;
    p.dataSetRangeDeg = 180.0;
    return p;
}

// What the worker must produce for one slice, computed here on the test's thread.
struct Reference
{
    std::unique_ptr<CtBackProj> engine = std::make_unique<CtBackProj>();
    std::vector<double> result; // n x n, from the engine of the method
    QByteArray data;
    QImage picture;
};

// The slice by the engine of the parameter block's method, as a data file and a picture,
// divided by the rows of the slice whatever the run sized the engine for.
Reference reference(const HSgm &sgm, const CtParams &p, const CtRegion &cr)
{
    Reference r;
    const int n = sgm.w / 2 * 2;
    const int projections = sgm.h;
    const double d = p.dataSetRangeDeg / 180.0 * std::numbers::pi / p.dataSetImages;
    const double *result = nullptr;
    double lo = 0, hi = 0;
    CtGridding gridding;
    if (p.method == CtMethod::Gridding) {
        gridding.setup(n, projections);
        gridding.reconstruct(sgm, cr.x0, cr.x1, cr.z0, cr.z1, p.startImageNo * d, d);
        gridding.findMinMax();
        result = gridding.resultData();
        lo = gridding.resMin();
        hi = gridding.resMax();
    } else {
        r.engine->setup(n, projections);
        r.engine->reconstruct(sgm, cr.x0, cr.x1, cr.z0, cr.z1, p.startImageNo * d, d);
        r.engine->findMinMax();
        result = r.engine->resultData();
        lo = r.engine->resMin();
        hi = r.engine->resMax();
    }
    r.result.assign(result, result + static_cast<std::size_t>(n) * n);
    r.data = makeCtImageData(result, n, n, cr.x0, cr.z0, cr.x1, cr.z1, p);
    r.picture = GreyLevelMap { lo, hi, 0, 1 }.greyImage(result, n, n);
    return r;
}

// Broadcasts requests the way the main window does.
class Dispatcher : public QObject
{
    Q_OBJECT
signals:
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg);
};

// Workers with views, each worker on its own thread, and a saver on another: the main
// window's arrangement.
struct Pool
{
    Pool(int count, const CtParams *params, CtCalc2::SinogramSource source)
    {
        saver = new DataSaver;
        saver->inSubFolders = false;
        saver->moveToThread(&saverThread);
        saverThread.start();
        for (int i = 0; i < count; ++i) {
            auto *view = new CtCalc2Ui;
            auto *w = new CtCalc2;
            w->setUi(view);
            w->setCtParams(params);
            w->setSinogramSource(source);
            QObject::connect(&dispatcher, &Dispatcher::startCt, w,
                qOverload<CtCalc2 *, bool, double, int, bool>(&CtCalc2::startCt));
            QObject::connect(w, &CtCalc2::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard);
            QObject::connect(w, &CtCalc2::saveImgWDiscard, saver, &DataSaver::saveImgWDiscard);
            auto *t = new QThread;
            w->moveToThread(t);
            t->start();
            views << view;
            workers << w;
            threads << t;
        }
    }
    ~Pool() { close(); }

    void close()
    {
        if (closed)
            return;
        closed = true;
        shutDownWorkers(workers, saver);
        qDeleteAll(workers);
        qDeleteAll(threads);
        qDeleteAll(views);
        delete saver;
    }

    void useSinogramPanel(Sinogram *panel)
    {
        for (CtCalc2 *w : workers)
            w->setSinogram(panel);
    }
    void setupFFT(int n, int projections)
    {
        for (CtCalc2 *w : workers)
            w->setupFFT(n, projections);
    }
    void saveAll(const QString &dir, const QString &name, const QString &tag)
    {
        for (CtCalc2 *w : workers) {
            w->setSaveData(true, dir, name, tag);
            w->setSaveImage(true, dir, name, tag);
        }
    }

    Dispatcher dispatcher;
    QList<CtCalc2Ui *> views;
    QList<CtCalc2 *> workers;
    QList<QThread *> threads;
    DataSaver *saver = nullptr;
    QThread saverThread;
    bool closed = false;
};

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString text(const QWidget *w, const char *name)
{
    return w->findChild<QLineEdit *>(name)->text();
}

// Projection images of a head phantom written as ITEX files and loaded into an image set.
struct PhantomSet : CtTestData::PhantomImages
{
    int projections = 60;

    bool make()
    {
        CtTestData::PhantomSetup setup;
        setup.width = 96;
        setup.height = 8;
        setup.axisOffset = 0.25;
        setup.objectWidth = 48;
        setup.projections = projections;
        return PhantomImages::make(setup);
    }

    CtCalc2::SinogramSource source() const
    {
        return [this](HSgm *h, bool rotAxIsV, double cor, int slice) {
            buildSinogram(*h, set, PartialDataSet {}, rotAxIsV, cor, slice);
        };
    }
};

} // namespace

class tst_CtCalc2 : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheAddressedWorkerActs();
    void requestToBusyWorkerIsDropped();
    void sliceWithoutSinogram_data();
    void sliceWithoutSinogram();
    void failedSliceDoesNotResaveThePrevious();
    void pictureForSavingWithoutDisplay_data();
    void pictureForSavingWithoutDisplay();
    void fixedColourScale();
    void dataFileRegions_data();
    void dataFileRegions();
    void saveNames_data();
    void saveNames();
    void engineFitsAnotherSlice();
    void valueReadOutOnView();
    void partialSetOfTheRun_data();
    void partialSetOfTheRun();
    void parallelEqualsSingle();
    void shutDownWritesEverything();
    void headlessWorkersWriteTheWindowsFiles_data();
    void headlessWorkersWriteTheWindowsFiles();
};

void tst_CtCalc2::onlyTheAddressedWorkerActs()
{
    const CtParams params = synthParams();
    Pool pool(3, &params, discSource);
    QList<std::shared_ptr<QSignalSpy>> finished, images;
    for (CtCalc2 *w : pool.workers) {
        finished << std::make_shared<QSignalSpy>(w, &CtCalc2::calcFinished);
        images << std::make_shared<QSignalSpy>(w, &CtCalc2::ctImage);
    }
    emit pool.dispatcher.startCt(pool.workers[1], false, 32, 7, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished[1]->count(), 1, 10000);
    QCOMPARE(images[1]->count(), 1);
    QCOMPARE(images[1]->at(0).at(0).toInt(), 7);
    // Requests are handled in order, so once the others have done their own, the broadcast
    // before it has certainly been seen (and ignored) by them.
    emit pool.dispatcher.startCt(pool.workers[0], false, 32, 1, true);
    emit pool.dispatcher.startCt(pool.workers[2], false, 32, 3, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished[0]->count(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(finished[2]->count(), 1, 10000);
    QCOMPARE(images[0]->at(0).at(0).toInt(), 1);
    QCOMPARE(images[2]->at(0).at(0).toInt(), 3);
    QCOMPARE(finished[1]->count(), 1);
    QTRY_COMPARE(text(pool.views[1], "ShowSliceNo"), QString("7"));
    // The view follows by queued calls.
    QTRY_COMPARE(text(pool.views[0], "ShowSliceNo"), QString("1"));
    QTRY_COMPARE(text(pool.views[2], "ShowSliceNo"), QString("3"));
    QVERIFY(!text(pool.views[1], "StartT").isEmpty());
    QTRY_VERIFY(!text(pool.views[1], "EndT").isEmpty());
    for (CtCalc2 *w : pool.workers)
        QVERIFY(!w->busy);
}

void tst_CtCalc2::requestToBusyWorkerIsDropped()
{
    const CtParams params = synthParams();
    QSemaphore entered, gate;
    std::atomic<int> calls { 0 };
    Pool pool(1, &params, [&](HSgm *h, bool, double, int slice) {
        ++calls;
        entered.release();
        gate.acquire();
        fillDisc(h, slice);
    });
    CtCalc2 *w = pool.workers[0];
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    emit pool.dispatcher.startCt(w, false, 32, 4, true);
    QVERIFY(entered.tryAcquire(1, 10000));
    QVERIFY(w->busy);
    // A request that reaches the worker inside a slice (here a direct call from this thread)
    // is dropped, not run beside the slice.
    w->startCt(w, false, 32, 5, true);
    QCOMPARE(calls.load(), 1);
    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(calls.load(), 1);
    QVERIFY(!w->busy);
}

void tst_CtCalc2::sliceWithoutSinogram_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("no source") << 0;
    QTest::newRow("source builds nothing") << 1;
    QTest::newRow("one sample per row") << 2;
    QTest::newRow("data set without images") << 3;
}

void tst_CtCalc2::sliceWithoutSinogram()
{
    QFETCH(int, kind);
    CtParams params = synthParams();
    CtCalc2::SinogramSource source;
    if (kind == 3) {
        params.dataSetImages = 0; // no angle step
        source = discSource;
    } else if (kind == 1)
        source = [](HSgm *, bool, double, int) {};
    else if (kind == 2)
        source = [](HSgm *h, bool, double, int) {
            h->setSize(1, 10);
            for (int i = 0; i < 10; ++i)
                h->sgmRow(i)[0] = h->rawRow(i)[0] = 1.0;
        };
    QTemporaryDir dir;
    Pool pool(1, &params, source);
    pool.saveAll(dir.path(), "n", "t");
    CtCalc2 *w = pool.workers[0];
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    QSignalSpy images(w, &CtCalc2::ctImage);
    const int failed = Failures::instance().count(Failures::Slice);
    emit pool.dispatcher.startCt(w, false, 32, 9, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    // Every slice left out is counted, with its number and reason.
    QCOMPARE(Failures::instance().count(Failures::Slice), failed + 1);
    QCOMPARE(Failures::instance().last(),
        kind == 3 ? QString("Slice 9 was not reconstructed: its projection angles are not numbers "
                            "(check the data set's images and range)")
                  : QString("Slice 9 was not reconstructed: no sinogram could be built"));
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(images.count(), 0);
    QTRY_VERIFY(!text(pool.views[0], "EndT").isEmpty());
    pool.close();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

void tst_CtCalc2::failedSliceDoesNotResaveThePrevious()
{
    const CtParams params = synthParams();
    // Like the sinogram builder, the source leaves the record alone when it cannot build the
    // slice (here every slice above 5).
    Pool pool(1, &params, [](HSgm *h, bool, double, int slice) {
        if (slice <= 5)
            fillDisc(h, slice);
    });
    QTemporaryDir dir;
    pool.saveAll(dir.path(), "s", "t");
    CtCalc2 *w = pool.workers[0];
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    QSignalSpy images(w, &CtCalc2::ctImage);
    emit pool.dispatcher.startCt(w, false, 32, 5, true);
    emit pool.dispatcher.startCt(w, false, 32, 6, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
    // Nor is the previous result saved, redrawn or read out under the failed slice's number
    // when the worker is asked directly.
    QMetaObject::invokeMethod(w, &CtCalc2::saveData, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(w, &CtCalc2::saveImage, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(w, &CtCalc2::genResImage, Qt::BlockingQueuedConnection);
    double v = 0;
    QVERIFY(!w->valueAt(32, 32, &v));
    pool.close();
    QCOMPARE(images.count(), 1);
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::Files), QStringList({ "s-t-00005.dat", "s-t-00005.png" }));
}

void tst_CtCalc2::pictureForSavingWithoutDisplay_data()
{
    QTest::addColumn<bool>("genImg");
    QTest::newRow("shown") << true;
    QTest::newRow("saved only") << false;
}

void tst_CtCalc2::pictureForSavingWithoutDisplay()
{
    QFETCH(bool, genImg);
    const CtParams params = synthParams();
    Pool pool(1, &params, discSource);
    QTemporaryDir dir;
    CtCalc2 *w = pool.workers[0];
    w->setSaveImage(true, dir.path(), "", "img");
    CtCalc2Ui *view = pool.views[0];
    view->resize(400, 500);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));

    // Counts the repaints of the picture canvas.
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    QCoreApplication::processEvents();
    view->display()->dispB()->installEventFilter(&counter);

    QSignalSpy finished(w, &CtCalc2::calcFinished);
    QSignalSpy images(w, &CtCalc2::ctImage);
    emit pool.dispatcher.startCt(w, false, 32, 2, genImg);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    // The end time is the worker's last call to the view: everything before it has arrived.
    QTRY_VERIFY(!text(view, "EndT").isEmpty());
    if (genImg)
        QTRY_VERIFY(counter.paints > 0);
    else
        QTest::qWait(100); // room for a repaint that must not come

    HSgm sgm;
    fillDisc(&sgm, 2);
    const Reference ref = reference(sgm, params, CtRegion { 0, 0, 64, 64 });
    QCOMPARE(images.count(), 1);
    QCOMPARE(images.at(0).at(1).value<QImage>(), ref.picture);
    if (genImg) {
        QCOMPARE(view->display()->img, ref.picture);
        QVERIFY(counter.paints > 0);
    } else {
        QVERIFY(view->display()->img.isNull());
        QCOMPARE(counter.paints, 0);
    }
    view->display()->dispB()->removeEventFilter(&counter);
    pool.close();
    const QImage saved(dir.filePath("img-00002.png"));
    QCOMPARE(saved.convertToFormat(QImage::Format_Grayscale8), ref.picture);
}

void tst_CtCalc2::fixedColourScale()
{
    const CtParams params = synthParams();
    Pool pool(1, &params, discSource);
    CtCalc2Ui *view = pool.views[0];
    view->setFixColorScale(true);
    view->setCBarMinMaxForced(0.0, 0.05);
    view->display()->colorBar()->lo = 0.1;
    emit view->display()->colorBar()->newBar();
    CtCalc2 *w = pool.workers[0];
    QSignalSpy images(w, &CtCalc2::ctImage);
    emit pool.dispatcher.startCt(w, false, 32, 1, true);
    QTRY_COMPARE_WITH_TIMEOUT(images.count(), 1, 10000);
    HSgm sgm;
    fillDisc(&sgm, 1);
    const Reference ref = reference(sgm, params, CtRegion { 0, 0, 64, 64 });
    const QImage expected
        = GreyLevelMap { 0.0, 0.05, 0.1, 1 }.greyImage(ref.engine->resultData(), 64, 64);
    QCOMPARE(images.at(0).at(1).value<QImage>(), expected);
    QVERIFY(expected != ref.picture);
    // The fixed range stays on the bar.
    QTRY_VERIFY(!text(view, "EndT").isEmpty());
    QCOMPARE(view->display()->colorBar()->vMax, 0.05);
}

void tst_CtCalc2::dataFileRegions_data()
{
    QTest::addColumn<bool>("setRegion");
    QTest::addColumn<CtRegion>("cr");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<bool>("zlib"); // of the float TIFF file written beside the data file
    QTest::addColumn<bool>("gridding");
    QTest::newRow("default") << false << CtRegion { 0, 0, 64, 64 } << "0	0	"
                             << "63	63	" << false << false;
    QTest::newRow("fractional") << true << CtRegion { 10.5, 20.5, 30, 40 } << "10	20	"
                                << "29	39	" << true << false;
    QTest::newRow("oversized") << true << CtRegion { 0, 0, 100, 70 } << "0	0	"
                               << "99	69	" << false << false;
    // The other method's slices are written the same way.
    QTest::newRow("gridding, default") << false << CtRegion { 0, 0, 64, 64 } << "0	0	"
                                       << "63	63	" << false << true;
    QTest::newRow("gridding, fractional")
        << true << CtRegion { 10.5, 20.5, 30, 40 } << "10	20	"
        << "29	39	" << true << true;
}

void tst_CtCalc2::dataFileRegions()
{
    QFETCH(bool, setRegion);
    QFETCH(CtRegion, cr);
    QFETCH(QString, firstLine);
    QFETCH(QString, lastLine);
    QFETCH(bool, zlib);
    QFETCH(bool, gridding);
    CtParams params = synthParams();
    params.dataOffset = 10.0;
    if (gridding)
        params.method = CtMethod::Gridding;
    Pool pool(1, &params, discSource);
    QTemporaryDir dir;
    CtCalc2 *w = pool.workers[0];
    w->setSaveData(true, dir.path(), "", "d");
    w->setSaveTiff(true, zlib);
    QSignalSpy announced(pool.views[0], &CtCalc2Ui::cRUpdated);
    if (setRegion)
        pool.views[0]->setCR(cr.x0, cr.z0, cr.x1, cr.z1);
    announced.clear();
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    emit pool.dispatcher.startCt(w, false, 32, 3, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    // Without a region of its own the view takes the slice's full size and announces it.
    if (!setRegion) {
        QTRY_COMPARE(announced.count(), 1);
        QCOMPARE(pool.views[0]->cr(), cr);
        QVERIFY(pool.views[0]->regionSet());
    }
    pool.close();

    const QByteArray data = contentOf(dir.filePath("d-00003.dat"));
    const QList<QByteArray> lines = data.split('\n');
    QCOMPARE(lines.last(), QByteArray()); // ends with a line feed
    const int columns = int(std::ceil(cr.x1) - std::trunc(cr.x0));
    const int rowsOut = int(std::ceil(cr.z1) - std::trunc(cr.z0));
    QCOMPARE(lines.size(), 6 + columns * rowsOut + 1);
    QCOMPARE(lines[1], QByteArray("# Range_X0       : ") + QByteArray::number(cr.x0));
    QCOMPARE(lines[5],
        QByteArray("# sx,sy, ex,ey   : ")
            + QString("%1\t%2\t%3\t%4")
                  .arg(cr.x0)
                  .arg(cr.z0)
                  .arg(cr.x1 - 1)
                  .arg(cr.z1 - 1)
                  .toLatin1());
    QVERIFY(lines[6].startsWith(firstLine.toLatin1()));
    QVERIFY(lines[lines.size() - 2].startsWith(lastLine.toLatin1()));

    HSgm sgm;
    fillDisc(&sgm, 3);
    const Reference ref = reference(sgm, params, cr);
    QCOMPARE(data, ref.data);
    CtParams byBackProjection = params;
    byBackProjection.method = CtMethod::Fbp;
    if (gridding) // and not the back-projection's file
        QVERIFY(data != reference(sgm, byBackProjection, cr).data);
    if (cr.x1 > 64) // a pixel beyond the result is 0 plus the offset
        QVERIFY(lines.contains("80\t10\t10"));

    // The TIFF file holds the same pixels as computed (no limits, no offset), read back
    // through libtiff and compared bit for bit.
    const QString tiffPath = dir.filePath("d-00003.tif");
    TIFF *t = TIFFOpen(QFile::encodeName(tiffPath).constData(), "r");
    QVERIFY2(t, qPrintable(tiffPath));
    quint32 tw = 0, th = 0;
    quint16 spp = 0, bps = 0, format = 0, compression = 0, unit = 0;
    char *description = nullptr;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &th);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &description);
    QCOMPARE(int(tw), columns);
    QCOMPARE(int(th), rowsOut);
    QCOMPARE(int(spp), 1);
    QCOMPARE(int(bps), 32);
    QCOMPARE(int(format), int(SAMPLEFORMAT_IEEEFP));
    QCOMPARE(int(compression), zlib ? int(COMPRESSION_ADOBE_DEFLATE) : int(COMPRESSION_NONE));
    QCOMPARE(int(unit), int(RESUNIT_NONE));
    const QString desc = QString::fromUtf8(description);
    QVERIFY2(desc.contains("slice 3;") && desc.contains("CoR 32;")
            && desc.contains(
                QString("region %1 %2 %3 %4;").arg(cr.x0).arg(cr.z0).arg(cr.x1).arg(cr.z1))
            && desc.contains("method ") && desc.contains("filter "),
        qPrintable(desc));
    std::vector<float> got(size_t(columns) * rowsOut), want(got.size(), 0.0f);
    for (int r = 0; r < rowsOut; ++r)
        QVERIFY(TIFFReadScanline(t, got.data() + size_t(r) * columns, quint32(r)) == 1);
    TIFFClose(t);
    const int x0 = int(cr.x0), z0 = int(cr.z0);
    for (int r = 0; r < rowsOut; ++r)
        for (int c = 0; c < columns; ++c)
            if (z0 + r < 64 && x0 + c < 64)
                want[size_t(r) * columns + c] = float(ref.result[size_t(z0 + r) * 64 + x0 + c]);
    QVERIFY(std::memcmp(got.data(), want.data(), got.size() * sizeof(float)) == 0);
}

void tst_CtCalc2::saveNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("dataTag");
    QTest::addColumn<QString>("imageTag");
    QTest::addColumn<int>("slice");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("name and tag") << "scan"
                                  << "7112eV"
                                  << "pic" << 42
                                  << QStringList { "scan-7112eV-00042.dat", "scan-7112eV-00042.tif",
                                         "scan-pic-00042.png" };
    QTest::newRow("no name") << ""
                             << "7112eV"
                             << "pic" << 42
                             << QStringList { "7112eV-00042.dat", "7112eV-00042.tif",
                                    "pic-00042.png" };
    QTest::newRow("no tag") << "scan"
                            << ""
                            << "" << 7
                            << QStringList { "scan--00007.dat", "scan--00007.tif",
                                   "scan--00007.png" };
}

void tst_CtCalc2::saveNames()
{
    QFETCH(QString, name);
    QFETCH(QString, dataTag);
    QFETCH(QString, imageTag);
    QFETCH(int, slice);
    QFETCH(QStringList, files);
    const CtParams params = synthParams();
    Pool pool(1, &params, discSource);
    QTemporaryDir dir;
    CtCalc2 *w = pool.workers[0];
    w->setSaveData(true, dir.path(), name, dataTag);
    w->setSaveImage(true, dir.path(), name, imageTag);
    w->setSaveTiff(true, false);
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    emit pool.dispatcher.startCt(w, false, 32, slice, false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    pool.close();
    QStringList got = QDir(dir.path()).entryList(QDir::Files);
    got.sort();
    files.sort();
    QCOMPARE(got, files);
}

void tst_CtCalc2::engineFitsAnotherSlice()
{
    // The run sized the engine for a narrower slice and fewer images than this slice has.
    const CtParams params = synthParams();
    Pool pool(1, &params, discSource);
    pool.setupFFT(32, 10);
    QTemporaryDir dir;
    CtCalc2 *w = pool.workers[0];
    w->setSaveData(true, dir.path(), "", "x");
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    emit pool.dispatcher.startCt(w, false, 32, 0, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    pool.close();
    HSgm sgm;
    fillDisc(&sgm, 0);
    // Divided by the 36 rows of the slice, not by the 10 images the run was sized for.
    QCOMPARE(contentOf(dir.filePath("x-00000.dat")),
        reference(sgm, params, CtRegion { 0, 0, 64, 64 }).data);
}

void tst_CtCalc2::valueReadOutOnView()
{
    const CtParams params = synthParams();
    Pool pool(1, &params, discSource);
    CtCalc2 *w = pool.workers[0];
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    emit pool.dispatcher.startCt(w, false, 32, 0, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    HSgm sgm;
    fillDisc(&sgm, 0);
    const Reference ref = reference(sgm, params, CtRegion { 0, 0, 64, 64 });
    auto *val = pool.views[0]->display()->findChild<QLineEdit *>("Val");
    QVERIFY(val);
    pool.views[0]->noticedNewPos(40.7, 31.2);
    QCOMPARE(val->text(), QString::number(ref.engine->resultRow(31)[40], 'g', 6));
    val->setText("-");
    pool.views[0]->noticedNewPos(64, 3);
    QCOMPARE(val->text(), QString("-"));
    // Positions beyond any pixel (or not numbers) show nothing.
    pool.views[0]->noticedNewPos(1e300, 3);
    pool.views[0]->noticedNewPos(40, std::nan(""));
    QCOMPARE(val->text(), QString("-"));
}

void tst_CtCalc2::partialSetOfTheRun_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("images");
    // Of 60 images. The single-slice panel divides by the rows it reconstructs (tst_CtCalc):
    // the workers must divide by the same number whatever the run sized them for.
    QTest::newRow("inside the set") << 10 << 30;
    QTest::newRow("wraps past the end") << 40 << 30;
    QTest::newRow("more images than the set") << 20 << 90;
}

void tst_CtCalc2::partialSetOfTheRun()
{
    QFETCH(int, start);
    QFETCH(int, images);
    PhantomSet ph;
    QVERIFY(ph.make());
    ProcCtrl proc;
    Sinogram panel;
    panel.imgDatas = &ph.set;
    panel.setProcCtrl(&proc);
    proc.setDataSetImages(ph.projections);
    proc.setDataSetRangeDeg(180.0);
    proc.setDataSetStartImageNo(start);
    proc.setDataSetUsingImages(images);
    proc.setUsePartialDataSet(true);
    CtParams params;
    proc.fillCtParams(params, false, true);
    // The panel is edited after the start: the run's angles still start at its first image,
    // and so must its sinograms.
    proc.setDataSetStartImageNo(start + 7);
    proc.setUsePartialDataSet(false);

    Pool pool(1, &params, nullptr);
    pool.useSinogramPanel(&panel);
    const double cor = ph.detector.axis();
    // Sized as the main window sizes a run: for at most the images of the set.
    HSgm probe;
    QVERIFY(buildSinogram(probe, ph.set, PartialDataSet {}, true, cor, 3));
    pool.setupFFT(probe.w / 2 * 2, std::min(images, ph.projections));
    QTemporaryDir out;
    CtCalc2 *w = pool.workers[0];
    w->setSaveData(true, out.path(), "", "part");
    QSignalSpy finished(w, &CtCalc2::calcFinished);
    emit pool.dispatcher.startCt(w, true, cor, 3, false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    pool.close();

    HSgm sgm;
    QVERIFY(buildSinogram(sgm, ph.set, PartialDataSet { true, start, images }, true, cor, 3));
    QCOMPARE(sgm.h, images);
    const double n = sgm.w / 2 * 2;
    QCOMPARE(contentOf(out.filePath("part-00003.dat")),
        reference(sgm, params, CtRegion { 0, 0, n, n }).data);
}

void tst_CtCalc2::parallelEqualsSingle()
{
    PhantomSet ph;
    QVERIFY(ph.dir.isValid());
    QVERIFY(ph.make());
    CtParams params;
    params.rotAxIsV = true;
    params.dataSetImages = ph.projections;
    params.dataSetRangeDeg = 180.0;
    const double cor = ph.detector.axis();

    // The workers build their sinograms through the sinogram panel, as in the program.
    Sinogram panel;
    panel.imgDatas = &ph.set;
    Pool pool(4, &params, nullptr);
    pool.useSinogramPanel(&panel);
    QTemporaryDir out;
    pool.saveAll(out.path(), "ph", "e");
    HSgm probe;
    QVERIFY(buildSinogram(probe, ph.set, PartialDataSet {}, true, cor, 0));
    pool.setupFFT(probe.w / 2 * 2, ph.projections);

    CtDisp ctDisp;
    for (CtCalc2 *w : pool.workers)
        QObject::connect(w, &CtCalc2::ctImage, &ctDisp, &CtDisp::addImg);
    // Hands the next slice to every idle worker, as the main window's dispatcher does.
    const int slices = ph.detector.height;
    int next = 0;
    int done = 0;
    auto dispatch = [&] {
        for (CtCalc2 *w : pool.workers)
            if (next < slices && !w->busy)
                emit pool.dispatcher.startCt(w, true, cor, next++, true);
    };
    for (CtCalc2 *w : pool.workers)
        QObject::connect(w, &CtCalc2::calcFinished, &ctDisp, [&] {
            ++done;
            dispatch();
        });
    dispatch();
    QTRY_COMPARE_WITH_TIMEOUT(done, slices, 30000);
    QTRY_COMPARE(ctDisp.count(), slices);
    pool.close();

    QList<int> expectedNumbers;
    for (int s = 0; s < slices; ++s)
        expectedNumbers << s;
    QCOMPARE(ctDisp.sliceNumbers(), expectedNumbers);
    const QList<QImage> pictures = ctDisp.getQImages();
    for (int s = 0; s < slices; ++s) {
        HSgm sgm;
        QVERIFY(buildSinogram(sgm, ph.set, PartialDataSet {}, true, cor, s));
        const int n = sgm.w / 2 * 2;
        const Reference ref = reference(sgm, params, CtRegion { 0, 0, double(n), double(n) });
        const QString no = saveSliceNo(s);
        QCOMPARE(contentOf(out.filePath("ph-e-" + no + ".dat")), ref.data);
        QCOMPARE(
            QImage(out.filePath("ph-e-" + no + ".png")).convertToFormat(QImage::Format_Grayscale8),
            ref.picture);
        QCOMPARE(pictures.at(s), ref.picture);
    }
}

void tst_CtCalc2::shutDownWritesEverything()
{
    PhantomSet ph;
    QVERIFY(ph.dir.isValid());
    QVERIFY(ph.make());
    CtParams params;
    params.rotAxIsV = true;
    params.dataSetImages = ph.projections;
    const double cor = ph.detector.axis();

    // Every slice waits at the gate until the close-down has begun.
    QSemaphore entered, gate;
    const CtCalc2::SinogramSource build = ph.source();
    constexpr int Workers = 3;
    auto pool = std::make_unique<Pool>(Workers, &params, [&](HSgm *h, bool v, double c, int s) {
        entered.release();
        gate.acquire();
        build(h, v, c, s);
    });
    QTemporaryDir out;
    pool->saveAll(out.path(), "", "sd");
    for (int i = 0; i < Workers; ++i)
        emit pool->dispatcher.startCt(pool->workers[i], true, cor, i + 2, true);
    QVERIFY(entered.tryAcquire(Workers, 10000));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        gate.release(Workers);
    });
    // Returns only when the slices in progress are done and their files written.
    pool->close();
    opener.join();

    QCOMPARE(SavingData::liveCount(), 0);
    QCOMPARE(SavingImg::liveCount(), 0);
    for (int i = 0; i < Workers; ++i) {
        HSgm sgm;
        QVERIFY(buildSinogram(sgm, ph.set, PartialDataSet {}, true, cor, i + 2));
        const int n = sgm.w / 2 * 2;
        const Reference ref = reference(sgm, params, CtRegion { 0, 0, double(n), double(n) });
        const QString no = saveSliceNo(i + 2);
        QCOMPARE(contentOf(out.filePath("sd-" + no + ".dat")), ref.data);
        QCOMPARE(
            QImage(out.filePath("sd-" + no + ".png")).convertToFormat(QImage::Format_Grayscale8),
            ref.picture);
    }
}

void tst_CtCalc2::headlessWorkersWriteTheWindowsFiles_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("ringRemoval");
    QTest::addColumn<bool>("regionSet");
    QTest::addColumn<bool>("zlib");
    QTest::addColumn<double>("floatScale");
    QTest::newRow("fbp, whole slice") << int(CtMethod::Fbp) << 0 << false << false << 1.0;
    QTest::newRow("gridding, deflated TIFF")
        << int(CtMethod::Gridding) << 0 << false << true << 1.0;
    QTest::newRow("ring removal, region, scaled TIFF")
        << int(CtMethod::Fbp) << 2 << true << false << 0.25;
}

// The workers of vexa2-recon (no widgets) and the window's workers and saver write the same
// files, byte for byte: data files, float TIFF slices and pictures.
void tst_CtCalc2::headlessWorkersWriteTheWindowsFiles()
{
    QFETCH(int, method);
    QFETCH(int, ringRemoval);
    QFETCH(bool, regionSet);
    QFETCH(bool, zlib);
    QFETCH(double, floatScale);
    PhantomSet ph;
    QVERIFY(ph.dir.isValid());
    QVERIFY(ph.make());
    CtParams params;
    params.rotAxIsV = true;
    params.dataSetImages = ph.projections;
    params.dataSetRangeDeg = 180.0;
    params.method = CtMethod(method);
    params.filter = CtFilterKind::RampPadded;
    params.ringRemoval = ringRemoval;
    params.lowerLimit = -0.5;
    params.upperLimit = 0.5;
    params.dataOffset = 3;
    params.floatScale = floatScale;
    params.floatUnit = floatScale == 1.0 ? QString() : QString("1/cm");
    const double cor = ph.detector.axis();
    HSgm probe;
    QVERIFY(buildSinogram(probe, ph.set, PartialDataSet {}, true, cor, 0));
    const int n = probe.w / 2 * 2;
    const CtRegion region { 5, 7, double(n - 3), double(n - 9) };
    const int slices = ph.detector.height;
    QTemporaryDir windowOut, headlessOut;
    constexpr int Workers = 3;

    {
        Sinogram panel;
        panel.imgDatas = &ph.set;
        Pool pool(Workers, &params, nullptr);
        pool.useSinogramPanel(&panel);
        pool.saveAll(windowOut.path(), "ph", "e");
        for (int i = 0; i < Workers; ++i) {
            pool.workers[i]->setSaveTiff(true, zlib);
            if (regionSet)
                pool.views[i]->setCR(region.x0, region.z0, region.x1, region.z1);
        }
        pool.setupFFT(n, ph.projections);
        // A worker counts as taken from its request until it reports back.
        int next = 0, done = 0;
        QSet<CtCalc2 *> taken;
        auto dispatch = [&] {
            for (CtCalc2 *w : pool.workers) {
                if (next < slices && !taken.contains(w)) {
                    taken.insert(w);
                    emit pool.dispatcher.startCt(w, true, cor, next++, false);
                }
            }
        };
        for (CtCalc2 *w : pool.workers)
            QObject::connect(w, &CtCalc2::calcFinished, &panel, [&, w] {
                taken.remove(w);
                ++done;
                dispatch();
            });
        dispatch();
        QTRY_COMPARE_WITH_TIMEOUT(done, slices, 30000);
        pool.close();
    }

    ResultSaver saver;
    saver.inSubFolders = false;
    QVERIFY(saver.start());
    saver.setQueueLimit(2 * Workers * 3);
    SlicePool workers(&saver);
    QCOMPARE(workers.start(Workers), Workers);
    SliceRunSetup setup;
    setup.images = &ph.set;
    setup.params = &params;
    setup.rotAxIsV = true;
    setup.cor = cor;
    setup.engineN = n;
    setup.engineProjections = ph.projections;
    setup.regionSet = regionSet;
    setup.x0 = region.x0;
    setup.z0 = region.z0;
    setup.x1 = region.x1;
    setup.z1 = region.z1;
    setup.path = headlessOut.path();
    setup.name = "ph";
    setup.tag = "e";
    setup.pictures = setup.tiff = true;
    setup.tiffZlib = zlib;
    QList<int> list;
    for (int s = 0; s < slices; ++s)
        list << s;
    QObject receiver;
    int progressed = 0;
    bool finished = false;
    connect(
        &workers, &SlicePool::progressed, &receiver, [&](int d) { progressed = d; },
        Qt::QueuedConnection);
    connect(
        &workers, &SlicePool::finished, &receiver, [&] { finished = true; }, Qt::QueuedConnection);
    workers.run(setup, list);
    QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
    QCOMPARE(progressed, slices);
    QCOMPARE(workers.slicesDone(), slices);
    workers.shutDown();
    saver.finish();
    QCOMPARE(saver.written(), qint64(3 * slices));

    const auto filesOf = [](const QString &root) {
        QStringList files;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(root).relativeFilePath(it.next());
        files.sort();
        return files;
    };
    const QStringList files = filesOf(windowOut.path());
    QCOMPARE(files.size(), 3 * slices);
    QCOMPARE(filesOf(headlessOut.path()), files);
    for (const QString &f : files) {
        const QByteArray window = contentOf(windowOut.filePath(f));
        QVERIFY2(!window.isEmpty(), qPrintable(f));
        QVERIFY2(contentOf(headlessOut.filePath(f)) == window, qPrintable(f));
    }
}

QTEST_MAIN(tst_CtCalc2)
#include "tst_CtCalc2.moc"
