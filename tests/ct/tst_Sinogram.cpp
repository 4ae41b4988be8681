// The sinogram panel on real camera files: which images make the rows, the mirrored
// pictures of both modes, the value under the pointer, the CoR field and its round trip
// through the process control panel, the CoR guess on a phantom, the Fourier picture, and
// building sinograms from worker threads.
#include "ColorBar.h"
#include "Config.h"
#include "CtTestData.h"
#include "ImgDatas.h"
#include "ImgDispWPV.h"
#include "ItexWriter.h"
#include "ProcCtrl.h"
#include "RowWindow.h"
#include "Sinogram.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// Image k, row y, column x holds 100 + 10 k + x + 1000 y: every sample says where it is from.
double pixel(int k, int y, double x)
{
    return 100 + 10 * k + x + 1000 * y;
}

struct Rig
{
    QTemporaryDir dir;
    ImgDatas set;
    ProcCtrl proc;
    Sinogram panel;
    int width = 12;
    int height = 3;

    Rig()
    {
        panel.imgDatas = &set;
        panel.setProcCtrl(&proc);
        // Detector lines are image rows.
        proc.findChild<QRadioButton *>("RotAxV")->click();
    }

    bool addImages(int count, int first = 0)
    {
        std::vector<quint16> px(static_cast<size_t>(width) * height);
        for (int k = first; k < first + count; ++k) {
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    px[static_cast<size_t>(y) * width + x] = quint16(pixel(k, y, x));
            const QString file = dir.filePath(QString("p-%1.img").arg(k, 5, 10, QChar('0')));
            if (!writeItexFile(file, width, height, 2, px.data()) || !set.add(file))
                return false;
        }
        proc.setDataSetImages(set.count());
        return true;
    }

    // Slice 1 with the CoR between samples 5 and 6: 9 samples at 1.5 ... 9.5.
    void select()
    {
        proc.setSliceNo(1);
        proc.setCor(5.5);
    }

    ImgDispWPV *disp() const { return panel.sinogramDisplay(); }
    QString valText() const { return disp()->findChild<QLineEdit *>("Val")->text(); }
    QLineEdit *cor() const { return panel.findChild<QLineEdit *>("Cor"); }
};

// Images of the rows of `sgm`, read back from the centre sample (the CoR, 5.5).
QList<int> rowImages(const HSgm &sgm)
{
    QList<int> images;
    for (int i = 0; i < sgm.h; ++i)
        images << qRound((sgm.rawRow(i)[sgm.w / 2] - pixel(0, sgm.slice, 5.5)) / 10.0);
    return images;
}

} // namespace

class TestSinogram : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void slotsInOrder();
    void formDefaults();
    void badCorLeavesRecord_data();
    void badCorLeavesRecord();
    void projectionRows_data();
    void projectionRows();
    void pictures_data();
    void pictures();
    void valueUnderPointer_data();
    void valueUnderPointer();
    void corFieldFollowsPanel();
    void corEditingFinishedSetsOnlyChanges();
    void genImgRebuilds();
    void dataSetRangeResetsView();
    void fourierPicture();
    void guessCorOnPhantom_data();
    void guessCorOnPhantom();
    void workerThreadsBuildAlike();
};

void TestSinogram::init()
{
    sgmImageMode = 2;
}

void TestSinogram::slotsInOrder()
{
    const QStringList expected { "newPos(double,double)", "corUpdated()", "autoUpdateUpdated()",
        "sliceNoUpdated()", "rotAxUpdated()", "angleOriginUpdated()", "dataSetRangeUpdated()",
        "usePartialDataSetUpdated()", "dataSetUsingImagesUpdated()", "dataSetStartImageNoUpdated()",
        "corEditingFinished()", "guessCor()", "genSinogram0(HSgm*,bool,double,int)",
        "genSinogram()", "genImage()", "genImage1()", "genImage2()", "genSgmImage()",
        "genFouSImage()", "setGenFouS(bool)" };
    const QMetaObject &mo = Sinogram::staticMetaObject;
    QStringList own;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        own << QString::fromLatin1(mo.method(i).methodSignature());
    QCOMPARE(own, expected);
}

void TestSinogram::formDefaults()
{
    Sinogram panel;
    QCOMPARE(panel.windowTitle(), QString("Sinogram"));
    QCOMPARE(panel.findChild<QLineEdit *>("Cor")->text(), QString("1000"));
    QCOMPARE(panel.findChild<QLineEdit *>("GuessParam")->text(), QString("0.35"));
    QCOMPARE(panel.findChild<QCheckBox *>("GenFouS")->text(), QString("Gen Fou. Sinogram"));
    QCOMPARE(panel.findChild<QPushButton *>("GuessCor")->text(), QString("Guess CoR"));
    QCOMPARE(panel.findChild<QPushButton *>("GenImg")->text(), QString("Gen Image"));
    QVERIFY(panel.findChild<QLineEdit *>("Cor")->styleSheet().contains("rgb(255, 255, 255)"));
    // The Fourier display follows its box.
    QVERIFY(!panel.fourierDisplay()->isVisibleTo(&panel));
    panel.setGenFouS(true);
    QVERIFY(panel.fourierDisplay()->isVisibleTo(&panel));
    panel.setGenFouS(false);
    QVERIFY(!panel.fourierDisplay()->isVisibleTo(&panel));
}

void TestSinogram::badCorLeavesRecord_data()
{
    QTest::addColumn<double>("cor");
    QTest::newRow("floor is 0") << 0.5;
    QTest::newRow("ceil reaches L") << 11.2;
    QTest::newRow("beyond the line") << 40.0;
    QTest::newRow("negative") << -3.0;
}

void TestSinogram::badCorLeavesRecord()
{
    QFETCH(double, cor);
    Rig rig;
    QVERIFY(rig.addImages(4));
    rig.select();
    const HSgm &sgm = rig.panel.hSgm;
    QCOMPARE(sgm.w, 9);
    QCOMPARE(sgm.h, 4);
    const std::vector<double> before(sgm.rawSgm.get(), sgm.rawSgm.get() + sgm.w * sgm.h);
    const double *array = sgm.rawSgm.get();
    rig.proc.setCor(cor);
    QCOMPARE(rig.cor()->text(), QString::number(cor, 'g', 6));
    QCOMPARE(sgm.w, 9);
    QCOMPARE(sgm.h, 4);
    QCOMPARE(sgm.rawSgm.get(), array);
    QCOMPARE(std::vector<double>(sgm.rawSgm.get(), sgm.rawSgm.get() + sgm.w * sgm.h), before);
}

void TestSinogram::projectionRows_data()
{
    QTest::addColumn<bool>("partial");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("usingImages");
    QTest::addColumn<QList<int>>("images");
    QTest::newRow("whole set") << false << 5 << 10 << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7 };
    QTest::newRow("partial wraps")
        << true << 5 << 10 << QList<int> { 5, 6, 7, 0, 1, 2, 3, 4, 5, 6 };
    QTest::newRow("negative count") << true << 2 << -3 << QList<int> { 2, 3, 4 };
    QTest::newRow("start outside") << true << 8 << 2 << QList<int> { 0, 1 };
}

void TestSinogram::projectionRows()
{
    QFETCH(bool, partial);
    QFETCH(int, start);
    QFETCH(int, usingImages);
    QFETCH(QList<int>, images);
    Rig rig;
    QVERIFY(rig.addImages(8));
    rig.select();
    // The text-only setters, then the box: its toggle regenerates through the panel.
    rig.proc.setDataSetStartImageNo(start);
    rig.proc.setDataSetUsingImages(usingImages);
    rig.proc.setUsePartialDataSet(partial);
    QCOMPARE(rig.panel.hSgm.slice, 1);
    QCOMPARE(rowImages(rig.panel.hSgm), images);
    // Sample k of a row is the line at cor - 4 + k.
    const HSgm &sgm = rig.panel.hSgm;
    for (int k = 0; k < sgm.w; ++k)
        QCOMPARE(sgm.rawRow(0)[k], pixel(images.first(), 1, 1.5 + k));
}

void TestSinogram::pictures_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<int>("usingImages"); // 0: the whole set
    QTest::addColumn<int>("e");
    QTest::newRow("mirror, 180 deg") << 1 << 8 << 180.0 << 0 << 8;
    QTest::newRow("mirror, 360 deg, half the rows") << 1 << 8 << 360.0 << 0 << 4;
    QTest::newRow("mirror, fewer rows than E") << 1 << 8 << 180.0 << 3 << 8;
    QTest::newRow("mirror, 720 images over 360 deg") << 1 << 720 << 360.0 << 0 << 360;
    QTest::newRow("lines, 180 deg") << 2 << 8 << 180.0 << 0 << 8;
    QTest::newRow("lines, 720 images over 360 deg") << 2 << 720 << 360.0 << 0 << 360;
    QTest::newRow("lines, partial set") << 2 << 8 << 180.0 << 3 << 8;
}

void TestSinogram::pictures()
{
    QFETCH(int, mode);
    QFETCH(int, count);
    QFETCH(double, rangeDeg);
    QFETCH(int, usingImages);
    QFETCH(int, e);
    sgmImageMode = mode;
    Rig rig;
    QVERIFY(rig.addImages(count));
    rig.proc.setDataSetRangeDeg(rangeDeg);
    if (usingImages > 0) {
        rig.proc.setDataSetStartImageNo(6);
        rig.proc.setDataSetUsingImages(usingImages);
        rig.proc.setUsePartialDataSet(true);
    }
    rig.select();
    const HSgm &sgm = rig.panel.hSgm;
    const QImage &img = rig.disp()->img;
    const ColorBar *bar = rig.disp()->colorBar();
    QCOMPARE(img.format(), QImage::Format_Grayscale8);
    // The colour bar spans the raw sinogram.
    double lo = 1e300, hi = -1e300;
    for (int k = 0; k < sgm.w * sgm.h; ++k) {
        lo = std::min(lo, sgm.rawSgm[k]);
        hi = std::max(hi, sgm.rawSgm[k]);
    }
    QCOMPARE(rig.panel.sgmMin, lo);
    QCOMPARE(rig.panel.sgmMax, hi);
    QCOMPARE(bar->vMin, lo);
    QCOMPARE(bar->vMax, hi);
    const int first = usingImages > 0 ? 6 : 0;
    if (mode == 1) {
        QCOMPARE(img.size(), QSize(sgm.w, 2 * e));
        for (int r = 0; r < e; ++r)
            for (int j = 0; j < sgm.w; ++j) {
                const int top = qGray(img.pixel(j, r));
                const int bottom = qGray(img.pixel(sgm.w - 1 - j, e + r));
                if (r < sgm.h) {
                    QCOMPARE(top, bar->level(sgm.rawRow(r)[j]));
                    QCOMPARE(bottom, top);
                } else {
                    QCOMPARE(top, 0);
                    QCOMPARE(bottom, 0);
                }
            }
    } else {
        const int d = rig.width;
        QCOMPARE(img.size(), QSize(2 * d, 2 * e));
        std::vector<double> line(d);
        for (int r = 0; r < e; r += std::max(1, e / 16)) {
            const int image = (first + r) % count;
            for (int x = 0; x < d; ++x)
                line[x] = pixel(image, 1, x);
            for (int j = 0; j < 2 * d; ++j) {
                const int expected = bar->level(sampleLine(line.data(), d, 5.5 - d + j));
                QCOMPARE(qGray(img.pixel(j, r)), expected);
                QCOMPARE(qGray(img.pixel(2 * d - 1 - j, e + r)), expected);
            }
        }
    }
}

void TestSinogram::valueUnderPointer_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("value"); // NaN: nothing shown
    const double nothing = std::nan("");
    // 4 images over 180 degrees: E = 4, rows 0 ... 3 above, their mirror 4 ... 7 below.
    QTest::newRow("mirror: upper half") << 1 << 2.7 << 1.2 << pixel(1, 1, 3.5);
    QTest::newRow("mirror: lower half is mirrored") << 1 << 2.0 << 6.0 << pixel(2, 1, 7.5);
    QTest::newRow("mirror: left of the picture") << 1 << -1.0 << 1.0 << nothing;
    QTest::newRow("mirror: right of the picture") << 1 << 9.0 << 1.0 << nothing;
    QTest::newRow("mirror: below the picture") << 1 << 1.0 << 8.0 << nothing;
    QTest::newRow("lines: upper half") << 2 << 10.0 << 3.0 << pixel(3, 1, 3.5);
    QTest::newRow("lines: lower half") << 2 << 10.0 << 7.0 << pixel(3, 1, 6.5);
    QTest::newRow("lines: beside the line") << 2 << 1.0 << 0.0 << 0.0;
    QTest::newRow("lines: outside") << 2 << 24.0 << 0.0 << nothing;
    QTest::newRow("lines: half a sample before the line") << 2 << 6.0 << -0.5 << pixel(0, 1, 0) / 2;
}

void TestSinogram::valueUnderPointer()
{
    QFETCH(int, mode);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, value);
    sgmImageMode = mode;
    Rig rig;
    QVERIFY(rig.addImages(4));
    rig.select();
    const QLineEdit *val = rig.disp()->findChild<QLineEdit *>("Val");
    const_cast<QLineEdit *>(val)->setText("unchanged");
    // Through the display's own signal, as the pointer would report it.
    emit rig.disp()->newPosInvY(x, y);
    if (std::isnan(value))
        QCOMPARE(rig.valText(), QString("unchanged"));
    else
        QCOMPARE(rig.valText(), QString::number(value, 'g', 6));
}

void TestSinogram::corFieldFollowsPanel()
{
    Rig rig;
    QVERIFY(rig.addImages(4));
    rig.select();
    QCOMPARE(rig.cor()->text(), QString("5.5"));
    rig.proc.setCor(4.123456789);
    QCOMPARE(rig.cor()->text(), QString("4.12346"));
    // The sinogram was rebuilt around the new centre: 2 * 4 - 1 samples.
    QCOMPARE(rig.panel.hSgm.w, 7);
    QCOMPARE(rig.panel.hSgm.rawRow(0)[3], pixel(0, 1, 4.123456789));
}

void TestSinogram::corEditingFinishedSetsOnlyChanges()
{
    Rig rig;
    QVERIFY(rig.addImages(4));
    rig.select();
    QSignalSpy spy(&rig.proc, &ProcCtrl::corUpdated);
    rig.cor()->setText("5.5");
    emit rig.cor()->editingFinished();
    QCOMPARE(spy.count(), 0);
    rig.cor()->setText(" 6.25 ");
    emit rig.cor()->editingFinished();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(rig.proc.cor(), 6.25);
    QCOMPARE(rig.panel.hSgm.rawRow(0)[rig.panel.hSgm.w / 2], pixel(0, 1, 6.25));
    // Text that is not a number reads as 0, which the sinogram refuses.
    rig.cor()->setText("abc");
    emit rig.cor()->editingFinished();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(rig.proc.cor(), 0.0);
    QCOMPARE(rig.panel.hSgm.rawRow(0)[rig.panel.hSgm.w / 2], pixel(0, 1, 6.25));
}

void TestSinogram::genImgRebuilds()
{
    Rig rig;
    QVERIFY(rig.addImages(4));
    rig.select();
    QCOMPARE(rig.panel.hSgm.h, 4);
    QVERIFY(rig.addImages(3, 4)); // a completed load the panel has not heard of
    QCOMPARE(rig.panel.hSgm.h, 4);
    rig.panel.findChild<QPushButton *>("GenImg")->click();
    QCOMPARE(rig.panel.hSgm.h, 7);
    QCOMPARE(rowImages(rig.panel.hSgm), (QList<int> { 0, 1, 2, 3, 4, 5, 6 }));
    QCOMPARE(rig.disp()->img.height(), 14);
}

void TestSinogram::dataSetRangeResetsView()
{
    Rig rig;
    QVERIFY(rig.addImages(8));
    rig.select();
    ImgDispWPV *disp = rig.disp();
    QCOMPARE(disp->img.size(), QSize(24, 16));
    disp->s = QRectF(3, 2, 5, 4); // zoomed in
    rig.proc.findChild<QLineEdit *>("DataSetRangeDeg")->setText("360");
    emit rig.proc.findChild<QLineEdit *>("DataSetRangeDeg")->editingFinished();
    QCOMPARE(disp->img.size(), QSize(24, 8));
    QCOMPARE(disp->s, QRectF(0, 0, 24, 8));
    // A new angle origin only redraws, keeping the view.
    disp->s = QRectF(3, 2, 5, 4);
    emit rig.proc.angleOriginUpdated();
    QCOMPARE(disp->s, QRectF(3, 2, 5, 4));
}

void TestSinogram::fourierPicture()
{
    for (const int mode : { 1, 2 }) {
        sgmImageMode = mode;
        Rig rig;
        QVERIFY(rig.addImages(4));
        rig.select();
        ImgDispWPV *fou = rig.panel.fourierDisplay();
        rig.panel.genFouSImage();
        QVERIFY2(fou->img.isNull(), "computed while unchecked");
        rig.panel.setGenFouS(true);
        QVERIFY(fou->isVisibleTo(&rig.panel));
        QCOMPARE(fou->img.size(), QSize(9, 8));
        QCOMPARE(fou->img.format(), QImage::Format_Grayscale8);
        QCOMPARE(fou->colorBar()->vMin, -10.0);
        QCOMPARE(fou->colorBar()->vMax, 10.0);
        // The zero frequency (top left) is the mean intensity, far above the range's top;
        // the mirrored stack is real and even, so the top row's imaginary parts cancel and
        // the other bins stay small for these smooth rows.
        QCOMPARE(qGray(fou->img.pixel(0, 0)), 255);
        // A new sinogram brings a new Fourier picture along.
        rig.proc.setCor(3.5);
        QCOMPARE(fou->img.size(), QSize(5, 8));
        // A fixed scale is kept.
        fou->colorBar()->setFixColorScale(true);
        fou->colorBar()->setMinV(0);
        fou->colorBar()->setMaxV(1e6);
        rig.panel.genFouSImage();
        QCOMPARE(fou->colorBar()->vMax, 1e6);
        QVERIFY(qGray(fou->img.pixel(0, 0)) < 255);
    }
}

void TestSinogram::guessCorOnPhantom_data()
{
    QTest::addColumn<double>("axisOffset");
    QTest::addColumn<bool>("withI0");
    QTest::addColumn<double>("start");
    QTest::newRow("offset 0.3, I0 image") << 0.3 << true << 58.0;
    QTest::newRow("offset -0.5, I0 image") << -0.5 << true << 70.0;
    QTest::newRow("offset 2, I0 image") << 2.0 << true << 75.0;
    QTest::newRow("offset 0.4, no I0") << 0.4 << false << 58.0;
    QTest::newRow("offset -0.5, no I0") << -0.5 << false << 70.0;
    QTest::newRow("offset 2, no I0") << 2.0 << false << 75.0;
}

void TestSinogram::guessCorOnPhantom()
{
    QFETCH(double, axisOffset);
    QFETCH(bool, withI0);
    QFETCH(double, start);
    // An object inside the field of view, with open beam on both sides.
    CtTestData::PhantomImages d;
    CtTestData::PhantomSetup setup;
    setup.width = 128;
    setup.height = 8;
    setup.axisOffset = axisOffset;
    setup.projections = 36;
    setup.rangeDeg = 360.0;
    setup.objectWidth = 64;
    QVERIFY(d.make(setup));
    if (!withI0)
        d.i0p = nullptr;
    Rig rig;
    rig.panel.imgDatas = &d.set;
    rig.proc.setDataSetImages(36);
    rig.proc.setDataSetRangeDeg(360.0);
    rig.proc.setSliceNo(4);
    rig.proc.setCor(start);
    rig.panel.guessCor();
    const double axis = d.detector.axis();
    qInfo("axis %.3f found %.3f", axis, rig.proc.cor());
    // Point-sampled projections of sharp edges alias differently on the two sides of the
    // axis, which limits any guess from one pair to about 0.2 pixel.
    QVERIFY2(std::abs(rig.proc.cor() - axis) <= 0.2, qPrintable(QString::number(rig.proc.cor())));
    // The guess went through the panel: field and sinogram follow it.
    QCOMPARE(rig.cor()->text(), QString::number(rig.proc.cor(), 'g', 6));
    QCOMPARE(rig.panel.hSgm.w, makeRowWindow(true, 128, rig.proc.cor()).n);
}

void TestSinogram::workerThreadsBuildAlike()
{
    Rig rig;
    QVERIFY(rig.addImages(8));
    rig.proc.setDataSetStartImageNo(3);
    rig.proc.setDataSetUsingImages(12);
    rig.proc.setUsePartialDataSet(true);
    rig.select();
    const HSgm &own = rig.panel.hSgm;
    // Several threads build their own records at once, as the reconstruction workers do.
    constexpr int threads = 4;
    HSgm records[threads];
    std::vector<std::unique_ptr<QThread>> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back(QThread::create([&rig, &records, t] {
            for (int repeat = 0; repeat < 50; ++repeat)
                rig.panel.genSinogram0(&records[t], true, 5.5, t % 3);
        }));
        pool.back()->start();
    }
    for (auto &thread : pool)
        QVERIFY(thread->wait(30000));
    for (int t = 0; t < threads; ++t) {
        QCOMPARE(records[t].slice, t % 3);
        QCOMPARE(records[t].w, own.w);
        QCOMPARE(records[t].h, 12);
        for (int i = 0; i < records[t].h; ++i)
            QCOMPARE(records[t].rawRow(i)[4], pixel((3 + i) % 8, t % 3, 5.5));
    }
    // No image set: nothing is touched.
    Sinogram bare;
    HSgm untouched;
    bare.genSinogram0(&untouched, true, 5.5, 1);
    QCOMPARE(untouched.w, 0);
    QVERIFY(!untouched.hasData());
}

QTEST_MAIN(TestSinogram)
#include "tst_Sinogram.moc"
