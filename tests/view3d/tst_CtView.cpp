#include "CtView.h"
#include "DispA.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"
#include "View3dTestUtil.h"
#include "display/DisplayTestUtil.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <numbers>

class TestCtView : public QObject
{
    Q_OBJECT
private slots:
    void setsGetTheirDefaults();
    void rendersALoadedVolume();
    void frameOutlinesTheBox();
    void frameSurvivesDeepZoom();
    void pictureSizeIsBounded();
    void quarterTurnShowsOnlyTheFrame();
    void drag_data();
    void drag();
    void wheelZooms_data();
    void wheelZooms();
    void linkedCuttingPlanes();
    void newSetCutsAcrossTheCurrentView();
    void saveImage_data();
    void saveImage();
    void svgHoldsTheSamples();
    void canvasShowsThePictureOnceLoaded();
    void closingAnnounces();

private:
    // One 8 x 8 x 8 set: a faint pixel in every slice's corner and one bright voxel.
    QStringList volumeFiles();
    void load(SlicesCtrl *c, const QStringList &files);
    void setPictureSize(CtView &v, int w, int h);

    QTemporaryDir tmp;
};

namespace {

constexpr double pi = std::numbers::pi;

bool near(const Vec3 &a, const Vec3 &b, double tol = 1e-9)
{
    return std::abs(a.x - b.x) < tol && std::abs(a.y - b.y) < tol && std::abs(a.z - b.z) < tol;
}

QString str(const Vec3 &v)
{
    return QString("(%1, %2, %3)").arg(v.x).arg(v.y).arg(v.z);
}

// A pixel of the canvas at normalised (x, y), y upward, and the normalised position the view
// will read back from it.
QPoint canvasPoint(const DispA *d, double x, double y, double &nx, double &ny)
{
    const QPoint p(qRound(x * (d->width() - 1)), qRound((1 - y) * (d->height() - 1)));
    nx = double(p.x()) / (d->width() - 1);
    ny = 1.0 - double(p.y()) / (d->height() - 1);
    return p;
}

int countColour(const QImage &img, QRgb c)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixel(x, y) == c;
    return n;
}

} // namespace

QStringList TestCtView::volumeFiles()
{
    static QStringList files;
    if (files.isEmpty())
        files = v3test::writeCtVolume(tmp.path(), 8, 8, 8, [](int x, int y, int j) {
            if (x == 5 && y == 2 && j == 6)
                return 1.0;
            return (x == 0 && y == 0) ? 0.125 : 0.0;
        });
    return files;
}

void TestCtView::load(SlicesCtrl *c, const QStringList &files)
{
    QVERIFY(QMetaObject::invokeMethod(
        c->sliceDatas(), "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files)));
    QTRY_COMPARE(c->rMax(), 1.0);
}

// Also zooms so that one volume unit is one picture pixel.
void TestCtView::setPictureSize(CtView &v, int w, int h)
{
    if (w > 0 && h > 0)
        v.scale = std::min(w, h) / double(CtView::ReferencePictureSize);
    v.findChild<QLineEdit *>("imgPixWidth_")->setText(QString::number(w));
    v.findChild<QLineEdit *>("imgPixHeight_")->setText(QString::number(h));
    v.paintPImg();
}

void TestCtView::setsGetTheirDefaults()
{
    CtView v(tmp.path());
    QCOMPARE(v.windowTitle(), QString("ctView"));
    QCOMPARE(v.ctrls.size(), 1);
    v.findChild<QPushButton *>("addSliceSet_")->click();
    v.addSliceSet();
    v.addSliceSet();
    QCOMPARE(v.ctrls.size(), 4);
    const QColor vc[]
        = { QColor(0, 127, 127), QColor(127, 0, 127), QColor(127, 127, 0), QColor(0, 127, 127) };
    const QColor sc[]
        = { QColor(127, 0, 0), QColor(0, 127, 0), QColor(0, 0, 127), QColor(127, 0, 0) };
    for (int k = 0; k < 4; ++k) {
        SlicesCtrl *c = v.ctrls.at(k);
        QCOMPARE(c->vColor, vc[k]);
        QCOMPARE(c->sColor, sc[k]);
        QCOMPARE(c->alpha(), k == 0 ? 255 : 128);
        QCOMPARE(
            c->findChild<QPushButton *>("showB2_")->text(), QString("Show Setup %1").arg(k + 1));
        QCOMPARE(c->dataDir, tmp.path());
    }
    QVERIFY(v.findChild<QPushButton *>("saveImage_")->toolTip().contains("png"));
    QVERIFY(v.findChild<QPushButton *>("saveImage_")->toolTip().endsWith("and also SVG."));
    QCOMPARE(v.pImg.size(), QSize(256, 256));

    // A new size typed into the fields gives a picture of that size.
    auto *w = v.findChild<QLineEdit *>("imgPixWidth_");
    w->clear();
    QTest::keyClicks(w, "40");
    QTest::keyClick(w, Qt::Key_Return);
    QTRY_COMPARE(v.pImg.size(), QSize(40, 256));
    // No number, no picture (and no crash).
    setPictureSize(v, 0, 10);
    QVERIFY(v.pImg.isNull());
}

void TestCtView::rendersALoadedVolume()
{
    CtView v;
    SlicesCtrl *c = v.ctrls.first();
    load(c, volumeFiles());
    c->findChild<QCheckBox *>("showFrame_")->setChecked(false);
    setPictureSize(v, 8, 8);
    QCOMPARE(v.pImg.size(), QSize(8, 8));
    // The brightest voxel is drawn in the set's own colour, the faint corner nearly white, the
    // rest stays white.
    QCOMPARE(v.pImg.pixel(5, 2), qRgb(0, 127, 127));
    const QRgb corner = v.pImg.pixel(0, 0);
    QVERIFY(qRed(corner) > 200 && qRed(corner) < 255);
    QCOMPARE(v.pImg.pixel(4, 4), qRgb(255, 255, 255));
    QCOMPARE(c->sliceDatas()->thHigh.load(), 1.0);

    // A threshold above the faint values hides them; the renderer keeps the window it used.
    QSignalSpy repaint(c, &SlicesCtrl::paintPImg);
    c->setMinThPC(50, false);
    QVERIFY(repaint.count() >= 1);
    QCOMPARE(c->sliceDatas()->thLow.load(), 0.0); // repaint is gathered for the event loop
    QTRY_COMPARE(c->sliceDatas()->thLow.load(), 0.5);
    QCOMPARE(v.pImg.pixel(0, 0), qRgb(255, 255, 255));
    QCOMPARE(v.pImg.pixel(5, 2), qRgb(0, 127, 127));

    // Half opacity blends with the white picture.
    c->setAlpha(128);
    v.paintPImg();
    QVERIFY(qAbs(qGreen(v.pImg.pixel(5, 2)) - 191) <= 1);
    QVERIFY(qAbs(qRed(v.pImg.pixel(5, 2)) - 127) <= 1);

    // Hiding the volume leaves only the frame and white.
    c->findChild<QCheckBox *>("showVolume_")->setChecked(false);
    v.paintPImg();
    QCOMPARE(countColour(v.pImg, qRgb(255, 255, 255)), 64);
}

void TestCtView::frameOutlinesTheBox()
{
    CtView v;
    SlicesCtrl *c = v.ctrls.first();
    load(c, volumeFiles());
    c->findChild<QCheckBox *>("showVolume_")->setChecked(false);
    setPictureSize(v, 16, 16);
    // Seen along z, the 8 x 8 box spans pixels 4 ... 12 in both directions.
    const QRgb frame = qRgb(0, 127, 127);
    for (int i = 4; i <= 12; ++i) {
        QCOMPARE(v.pImg.pixel(4, i), frame);
        QCOMPARE(v.pImg.pixel(12, i), frame);
        QCOMPARE(v.pImg.pixel(i, 4), frame);
        QCOMPARE(v.pImg.pixel(i, 12), frame);
    }
    QCOMPARE(v.pImg.pixel(8, 8), qRgb(255, 255, 255));
    QCOMPARE(v.pImg.pixel(2, 8), qRgb(255, 255, 255));

    // A larger picture shows the same view finer: the box still covers the middle half.
    v.findChild<QLineEdit *>("imgPixWidth_")->setText("32");
    v.findChild<QLineEdit *>("imgPixHeight_")->setText("32");
    v.paintPImg();
    for (int i = 8; i <= 24; ++i) {
        QCOMPARE(v.pImg.pixel(8, i), frame);
        QCOMPARE(v.pImg.pixel(24, i), frame);
    }
    QCOMPARE(v.pImg.pixel(4, 16), qRgb(255, 255, 255));

    c->findChild<QCheckBox *>("showFrame_")->setChecked(false);
    v.paintPImg();
    QCOMPARE(countColour(v.pImg, qRgb(255, 255, 255)), 1024);
}

void TestCtView::frameSurvivesDeepZoom()
{
    CtView v;
    SlicesCtrl *c = v.ctrls.first();
    load(c, volumeFiles());
    c->findChild<QCheckBox *>("showVolume_")->setChecked(false);
    // Centred on the box's right face, zoomed in so far that the face's corners lie
    // thousands of millions of pixels away: its edge still crosses the whole picture.
    setPictureSize(v, 16, 16);
    v.off = Vec3(4, 0, 0);
    v.scale = 1e-10;
    v.paintPImg();
    for (int y = 0; y < 16; ++y)
        QCOMPARE(v.pImg.pixel(8, y), qRgb(0, 127, 127));
    QCOMPARE(countColour(v.pImg, qRgb(0, 127, 127)), 16);
}

void TestCtView::pictureSizeIsBounded()
{
    QTemporaryDir out;
    CtView v;
    QTest::ignoreMessage(QtDebugMsg, "Picture size too large : 16384 x 8192");
    setPictureSize(v, 16384, 8192);
    QVERIFY(v.pImg.isNull());
    const QString svg = out.filePath("big.svg");
    QTest::ignoreMessage(QtDebugMsg, "Picture size too large : 16384 x 8192");
    QTest::ignoreMessage(QtDebugMsg, qPrintable("The picture could not be saved : " + svg));
    v.saveImage(svg);
    QVERIFY(!QFile::exists(svg));
    setPictureSize(v, 300, 200);
    QCOMPARE(v.pImg.size(), QSize(300, 200));
}

void TestCtView::quarterTurnShowsOnlyTheFrame()
{
    CtView v;
    SlicesCtrl *c = v.ctrls.first();
    load(c, volumeFiles());
    setPictureSize(v, 16, 16);
    QSignalSpy turned(&v, &CtView::newNz);
    v.updateNvs(v.ny, pi / 2);
    QCOMPARE(turned.count(), 1);
    QVERIFY(std::abs(v.nz.z) < 1e-12);
    // The volume is seen edge-on: no slice is met, only the frame is drawn.
    int frame = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const QRgb p = v.pImg.pixel(x, y);
            QVERIFY(p == qRgb(255, 255, 255) || p == qRgb(0, 127, 127));
            frame += p != qRgb(255, 255, 255);
        }
    QVERIFY(frame > 0);

    c->findChild<QCheckBox *>("showFrame_")->setChecked(false);
    v.paintPImg();
    QCOMPARE(countColour(v.pImg, qRgb(255, 255, 255)), 256);
}

void TestCtView::drag_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<int>("kind"); // 0 free rotation, 1 spin about nz (top band), 2 pan, 3 none
    QTest::newRow("free rotation")
        << int(Qt::LeftButton) << 0 << QPointF(0.4, 0.5) << QPointF(0.6, 0.5) << 0;
    QTest::newRow("top band spins")
        << int(Qt::LeftButton) << 0 << QPointF(0.3, 0.95) << QPointF(0.55, 0.95) << 1;
    QTest::newRow("right button pans")
        << int(Qt::RightButton) << 0 << QPointF(0.5, 0.5) << QPointF(0.7, 0.6) << 2;
    QTest::newRow("shift pans") << int(Qt::LeftButton) << int(Qt::ShiftModifier)
                                << QPointF(0.5, 0.5) << QPointF(0.3, 0.4) << 2;
    QTest::newRow("control does nothing") << int(Qt::LeftButton) << int(Qt::ControlModifier)
                                          << QPointF(0.5, 0.5) << QPointF(0.3, 0.4) << 3;
}

void TestCtView::drag()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(int, kind);
    CtView v;
    v.resize(900, 600);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    DispA *d = v.canvas();
    double x0, y0, x1, y1;
    const QPoint p0 = canvasPoint(d, from.x(), from.y(), x0, y0);
    const QPoint p1 = canvasPoint(d, to.x(), to.y(), x1, y1);
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    QSignalSpy turned(&v, &CtView::newNz);
    const auto b = Qt::MouseButton(button);
    const auto m = Qt::KeyboardModifiers(mods);
    disptest::press(d, p0, b, m);
    disptest::move(d, p1, m);
    disptest::release(d, p1, b, m);
    QCOMPARE(v.dragMode, 2);

    switch (kind) {
    case 0: {
        // A sideways drag turns about the picture's vertical axis by dx half turns.
        const Vec3 nz = Vec3(0, 0, 1).rotated(Vec3(0, 1, 0), dx * pi);
        QVERIFY2(near(v.nz, nz), qPrintable(str(v.nz)));
        QVERIFY(near(v.ny, Vec3(0, 1, 0)));
        QCOMPARE(turned.count(), 1);
        break;
    }
    case 1: {
        QVERIFY(near(v.nz, Vec3(0, 0, 1)));
        QVERIFY2(near(v.nx, Vec3(std::cos(dx * pi), std::sin(dx * pi), 0)), qPrintable(str(v.nx)));
        QCOMPARE(turned.count(), 1);
        break;
    }
    case 2: {
        const double upp = v.unitsPerPixel(v.pImg.width(), v.pImg.height());
        const double w = std::trunc(v.pImg.width() * upp);
        const double h = std::trunc(v.pImg.height() * upp);
        QVERIFY2(near(v.off, Vec3(-dx * w, dy * h, 0)), qPrintable(str(v.off)));
        QVERIFY(near(v.nz, Vec3(0, 0, 1)));
        QCOMPARE(turned.count(), 0);
        break;
    }
    default:
        QVERIFY(near(v.off, Vec3()));
        QVERIFY(near(v.nz, Vec3(0, 0, 1)));
        QCOMPARE(turned.count(), 0);
    }
}

void TestCtView::wheelZooms_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("scale");
    QTest::newRow("away zooms in") << 120 << 0.9;
    QTest::newRow("toward zooms out") << -240 << 1 / 0.9;
    QTest::newRow("small step") << 60 << 1.0;
}

void TestCtView::wheelZooms()
{
    QFETCH(int, delta);
    QFETCH(double, scale);
    CtView v;
    disptest::wheel(v.canvas(), QPoint(100, 100), delta);
    QCOMPARE(v.scale, scale);
}

void TestCtView::linkedCuttingPlanes()
{
    CtView v;
    SlicesCtrl *a = v.ctrls.first();
    SlicesCtrl *b = v.addSliceSet();
    SlicesCtrl *c = v.addSliceSet();
    a->setCSliderValue(40);
    QCOMPARE(b->cSliderValue(), 40);
    QCOMPARE(c->cSliderValue(), 40);
    c->setCsFixDir(true);
    QVERIFY(a->csFixDir());
    QVERIFY(b->csFixDir());
    v.findChild<QCheckBox *>("linkCSection_")->setChecked(false);
    b->setCSliderValue(-10);
    QCOMPARE(a->cSliderValue(), 40);
    QCOMPARE(c->cSliderValue(), 40);
}

void TestCtView::newSetCutsAcrossTheCurrentView()
{
    CtView v;
    QCOMPARE(v.ctrls.first()->csNormal, Vec3(0, 0, 1));
    v.updateNvs(Vec3(1, 0, 0), pi / 3);
    QVERIFY(near(v.ctrls.first()->csNormal, v.nz));
    SlicesCtrl *b = v.addSliceSet();
    QVERIFY(near(b->csNormal, v.nz));
}

void TestCtView::saveImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::newRow("png") << "view.png"
                         << "picture";
    QTest::newRow("capital PNG") << "view.PNG"
                                 << "picture";
    QTest::newRow("bmp") << "view.bmp"
                         << "picture";
    QTest::newRow("svg in capitals") << "view.SVG"
                                     << "svg";
    QTest::newRow("no suffix") << "view"
                               << "none";
    QTest::newRow("unknown suffix") << "view.xyz"
                                    << "none";
}

void TestCtView::saveImage()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QTemporaryDir out;
    CtView v;
    load(v.ctrls.first(), volumeFiles());
    setPictureSize(v, 24, 20);
    const QString path = out.filePath(name);
    if (kind == "picture")
        QTest::ignoreMessage(QtDebugMsg, qPrintable("saving " + path));
    v.saveImage(path);
    QCOMPARE(v.dataDir, out.path());
    QCOMPARE(QFile::exists(path), kind != "none");
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), kind == "none" ? 0 : 1);
    if (kind == "picture") {
        QImage back(path);
        QCOMPARE(back.size(), QSize(24, 20));
    } else if (kind == "svg") {
        QSvgRenderer r(path);
        QVERIFY(r.isValid());
        QCOMPARE(r.viewBox(), QRect(0, 0, 24, 20));
    }
}

void TestCtView::svgHoldsTheSamples()
{
    QTemporaryDir out;
    CtView v;
    SlicesCtrl *c = v.ctrls.first();
    load(c, volumeFiles());
    c->findChild<QCheckBox *>("showFrame_")->setChecked(false);
    setPictureSize(v, 8, 8);
    const QString path = out.filePath("v.svg");
    v.saveImage(path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    int elements = 0;
    while (!xml.atEnd())
        elements += xml.readNext() == QXmlStreamReader::StartElement;
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    // The bright voxel and the faint corner: two drawn samples, each an element of its own.
    f.seek(0);
    const QByteArray text = f.readAll();
    QVERIFY(text.contains("#007f7f"));
    QVERIFY(elements >= 4);

    // Drawn back, the picture shows the voxel's colour where the bitmap has it.
    QSvgRenderer r(path);
    QImage back(8, 8, QImage::Format_ARGB32);
    back.fill(Qt::white);
    QPainter p(&back);
    r.render(&p);
    p.end();
    const QRgb voxel = back.pixel(5, 2);
    QVERIFY2(
        qRed(voxel) <= 1 && qAbs(qGreen(voxel) - 127) <= 1, qPrintable(QString::number(voxel, 16)));
    QCOMPARE(back.pixel(4, 2), qRgb(255, 255, 255));
    QCOMPARE(back.pixel(7, 7), qRgb(255, 255, 255));

    // The frame's edges lie on the same pixels as in the bitmap.
    c->findChild<QCheckBox *>("showFrame_")->setChecked(true);
    c->findChild<QCheckBox *>("showVolume_")->setChecked(false);
    setPictureSize(v, 16, 16);
    v.saveImage(path);
    QSvgRenderer frame(path);
    QImage edges(16, 16, QImage::Format_ARGB32);
    edges.fill(Qt::white);
    QPainter fp(&edges);
    frame.render(&fp);
    fp.end();
    for (const QPoint &pt : { QPoint(4, 8), QPoint(12, 8), QPoint(8, 4), QPoint(8, 12) })
        QCOMPARE(edges.pixel(pt), v.pImg.pixel(pt));
    QCOMPARE(edges.pixel(8, 8), qRgb(255, 255, 255));
    QCOMPARE(edges.pixel(3, 8), qRgb(255, 255, 255));
}

void TestCtView::canvasShowsThePictureOnceLoaded()
{
    CtView v;
    v.resize(900, 600);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    DispA *d = v.canvas();
    const auto colouredPixels = [d] {
        const QImage shot = d->grab().toImage();
        int n = 0;
        for (int y = 4; y < shot.height() - 4; ++y)
            for (int x = 4; x < shot.width() - 4; ++x)
                n += qRed(shot.pixel(x, y)) < 100;
        return n;
    };
    QCOMPARE(colouredPixels(), 0);
    load(v.ctrls.first(), volumeFiles());
    setPictureSize(v, 8, 8);
    // One of 8 x 8 picture pixels, enlarged onto the canvas.
    QVERIFY(colouredPixels() > d->width() * d->height() / 100);

    // The picture keeps square pixels: it is centred in the canvas with a white margin
    // along the longer side, and its outer columns (the frame) are drawn; also after the
    // view is resized to the other shape, as when it is docked or undocked.
    for (const QSize &size : { QSize(1400, 600), QSize(640, 900) }) {
        v.resize(size);
        QTRY_VERIFY(d->width() > d->height() == (size.width() > size.height()));
        const QImage shot = d->grab().toImage();
        const bool wide = shot.width() > shot.height();
        const int side = std::min(shot.width(), shot.height());
        const int margin = (std::max(shot.width(), shot.height()) - side) / 2;
        QVERIFY(margin > 20);
        auto at = [&](int along, int across) {
            return wide ? shot.pixel(along, across) : shot.pixel(across, along);
        };
        int framed = 0;
        for (int across = 4; across < side - 4; ++across) {
            QCOMPARE(at(margin / 2, across), qRgb(255, 255, 255));
            framed += at(margin + side / 16, across) != qRgb(255, 255, 255);
        }
        QVERIFY(framed > side / 2);
    }

    // "Shading" darkens the drawn picture and leaves the white background; unchecked, the
    // picture is the plain one again.
    const QImage plain = v.pImg;
    auto shaded = v.findChild<QCheckBox *>("shading_");
    QVERIFY(shaded);
    QVERIFY(!shaded->toolTip().isEmpty());
    shaded->setChecked(true);
    QTRY_VERIFY(v.pImg != plain);
    int darker = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const QRgb a = plain.pixel(x, y), b = v.pImg.pixel(x, y);
            if (a == qRgb(255, 255, 255))
                QCOMPARE(b, a);
            else
                darker += qGray(b) < qGray(a);
        }
    QVERIFY(darker > 0);
    shaded->setChecked(false);
    QTRY_COMPARE(v.pImg, plain);
}

void TestCtView::closingAnnounces()
{
    CtView v;
    v.show();
    QSignalSpy finishing(&v, &CtView::finishing);
    v.close();
    QCOMPARE(finishing.count(), 1);
}

QTEST_MAIN(TestCtView)
#include "tst_CtView.moc"
