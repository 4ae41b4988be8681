#include "ChCoord.h"
#include "DispB.h"
#include "DisplayTestUtil.h"
#include "ImgDisp.h"

#include <QGridLayout>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace disptest;

namespace {

// Every pixel has its own colour, so a cut-out can be located exactly.
QImage pattern(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + (y / 256)));
    return img;
}

// The image point shown at canvas point p through the source rectangle s.
QPointF shownAt(const ImgDisp &d, QPointF p)
{
    const DispB *c = d.dispB();
    const QRectF v = d.shownRect();
    return QPointF(
        v.x() + p.x() / c->width() * v.width(), v.y() + p.y() / c->height() * v.height());
}

} // namespace

class TestImgDisp : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dispAWLayoutForwards();
    void newImageSetsViewOnce();
    void resetScale();
    void resetWithoutPictureLetsNextPictureSetView();
    void farZoomOutKeepsPositionsInRange();
    void wheelKeepsPointedPixel_data();
    void wheelKeepsPointedPixel();
    void wheelAfterPanKeepsPointedPixel();
    void leftDragPans();
    void newPosGivesImagePixel();
    void shiftDragSelects_data();
    void shiftDragSelects();
    void selectionBackToStartXIsNotValid();
    void shiftRightClearsSelection();
    void selectedAPoint_data();
    void selectedAPoint();
    void drawShowsSourceRectangle();
    void saveImage();

private:
    ImgDisp *d = nullptr;
    DispB *c = nullptr;
};

void TestImgDisp::init()
{
    d = new ImgDisp;
    d->resize(400, 300);
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    c = d->dispB();
    QCOMPARE(c->size(), QSize(400, 300));
    d->img = pattern(200, 100);
    d->newImage();
}

void TestImgDisp::cleanup()
{
    delete d;
    d = nullptr;
}

void TestImgDisp::dispAWLayoutForwards()
{
    DispAWLayout f;
    QCOMPARE(f.gridLayout()->itemAtPosition(0, 0)->widget(), f.dispB());

    // The canvas's signals come out of the frame under the same names, hooks in order.
    QStringList seen;
    connect(&f, &DispAWLayout::drawImage0, this, [&] { seen << "draw0"; });
    connect(&f, &DispAWLayout::drawImage1, this, [&] { seen << "draw1"; });
    connect(&f, &DispAWLayout::drawImage2, this, [&] { seen << "draw2"; });
    connect(&f, &DispAWLayout::mouseMoved0, this, [&] { seen << "moved"; });
    connect(&f, &DispAWLayout::mousePressed0, this, [&] { seen << "pressed"; });
    connect(&f, &DispAWLayout::mouseReleased0, this, [&] { seen << "released"; });
    connect(&f, &DispAWLayout::mouseDoubleClicked0, this, [&] { seen << "dclicked"; });
    connect(&f, &DispAWLayout::wheelMoved0, this, [&] { seen << "wheel"; });
    f.dispB()->grab();
    move(f.dispB(), QPoint(3, 3));
    press(f.dispB(), QPoint(3, 3), Qt::LeftButton);
    release(f.dispB(), QPoint(3, 3), Qt::LeftButton);
    dclick(f.dispB(), QPoint(3, 3), Qt::LeftButton);
    wheel(f.dispB(), QPoint(3, 3), 120);
    QCOMPARE(seen,
        QStringList(
            { "draw0", "draw1", "draw2", "moved", "pressed", "released", "dclicked", "wheel" }));
}

void TestImgDisp::newImageSetsViewOnce()
{
    QSignalSpy newS(d, &ImgDisp::newS);
    ImgDisp fresh;
    QSignalSpy freshS(&fresh, &ImgDisp::newS);
    fresh.img = pattern(30, 20);
    fresh.newImage();
    QVERIFY(fresh.scaleSet);
    QCOMPARE(fresh.s, QRectF(0, 0, 30, 20));
    QCOMPARE(freshS.count(), 1);
    QCOMPARE(freshS.at(0).at(0).toRectF(), QRectF(0, 0, 30, 20));
    QCOMPARE(fresh.coord->ry0, 20.0); // rows grow downward: the bottom is the last row
    QCOMPARE(fresh.coord->ry1, 0.0);

    // A zoomed view survives a new picture of the same size...
    wheel(c, QPoint(100, 100), 120);
    const QRectF zoomed = d->s;
    newS.clear();
    d->img = pattern(200, 100);
    d->newImage();
    QCOMPARE(d->s, zoomed);
    QCOMPARE(newS.count(), 0);
    // ... but a picture of another size is shown whole.
    d->img = pattern(64, 48);
    d->newImage();
    QCOMPARE(d->s, QRectF(0, 0, 64, 48));
    QCOMPARE(newS.count(), 1);
}

void TestImgDisp::resetScale()
{
    wheel(c, QPoint(50, 60), 120);
    QVERIFY(d->s != QRectF(0, 0, 200, 100));
    d->img = pattern(64, 48);
    QSignalSpy newS(d, &ImgDisp::newS);
    d->resetScale();
    QCOMPARE(d->s, QRectF(0, 0, 64, 48));
    QCOMPARE(newS.count(), 0);
}

void TestImgDisp::resetWithoutPictureLetsNextPictureSetView()
{
    d->img = QImage();
    d->resetScale();
    d->img = pattern(64, 48);
    QSignalSpy newS(d, &ImgDisp::newS);
    d->newImage();
    QCOMPARE(d->s, QRectF(0, 0, 64, 48));
    QCOMPARE(newS.count(), 1);
    const QImage shown = c->grab().toImage();
    QCOMPARE(shown.pixel(c->width() - 1, c->height() - 1), d->img.pixel(63, 47));
}

void TestImgDisp::farZoomOutKeepsPositionsInRange()
{
    // 1.1^250 times 200 pixels is far beyond the range of int.
    const QPoint at(200, 150);
    move(c, at);
    for (int i = 0; i < 250; ++i)
        wheel(c, at, -120);
    QVERIFY(d->s.width() > 1e12);
    QSignalSpy pos(d, &ImgDisp::newPos);
    move(c, QPoint(399, 299));
    move(c, QPoint(0, 0));
    QCOMPARE(pos.count(), 2);
    QCOMPARE(pos.at(0).at(0).toInt(), std::numeric_limits<int>::max());
    QCOMPARE(pos.at(0).at(1).toInt(), std::numeric_limits<int>::max());
    QCOMPARE(pos.at(1).at(0).toInt(), std::numeric_limits<int>::min());
    QCOMPARE(pos.at(1).at(1).toInt(), std::numeric_limits<int>::min());
}

void TestImgDisp::wheelKeepsPointedPixel_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("factor");
    QTest::newRow("centre in") << QPoint(200, 150) << 120 << 1 / 1.1;
    QTest::newRow("off centre out") << QPoint(330, 40) << -120 << 1.1;
    QTest::newRow("edge out twice") << QPoint(0, 0) << -240 << 1.1;
}

void TestImgDisp::wheelKeepsPointedPixel()
{
    QFETCH(QPoint, at);
    QFETCH(int, delta);
    QFETCH(double, factor);
    move(c, at);
    const QPointF before = shownAt(*d, at);
    QSignalSpy newS(d, &ImgDisp::newS);
    wheel(c, at, delta);
    QCOMPARE(newS.count(), 1);
    QCOMPARE(newS.at(0).at(0).toRectF(), d->s);
    QCOMPARE(d->s.width(), 200 * factor);
    QCOMPARE(d->s.height(), 100 * factor);
    const QPointF after = shownAt(*d, at);
    QVERIFY(qAbs(after.x() - before.x()) < 1e-9);
    QVERIFY(qAbs(after.y() - before.y()) < 1e-9);

    // A second wheel keeps the same point as well.
    wheel(c, at, delta);
    const QPointF again = shownAt(*d, at);
    QVERIFY(qAbs(again.x() - before.x()) < 1e-9);
    QVERIFY(qAbs(again.y() - before.y()) < 1e-9);
}

void TestImgDisp::wheelAfterPanKeepsPointedPixel()
{
    press(c, QPoint(100, 100), Qt::LeftButton);
    move(c, QPoint(140, 130));
    release(c, QPoint(140, 130), Qt::LeftButton);
    const QPoint at(300, 60);
    const QPointF before = shownAt(*d, at);
    wheel(c, at, 120);
    const QPointF after = shownAt(*d, at);
    QVERIFY(qAbs(after.x() - before.x()) < 1e-9);
    QVERIFY(qAbs(after.y() - before.y()) < 1e-9);
}

void TestImgDisp::leftDragPans()
{
    QSignalSpy newS(d, &ImgDisp::newS);
    // 400 x 300 canvas over 200 x 100 pixels: square pixels of 2 screen pixels, the 100
    // rows on the middle 200 screen rows.
    press(c, QPoint(100, 100), Qt::LeftButton);
    move(c, QPoint(120, 130));
    move(c, QPoint(140, 160));
    release(c, QPoint(140, 160), Qt::LeftButton);
    QCOMPARE(d->s, QRectF(-20, -30, 200, 100));
    QCOMPARE(newS.count(), 2);

    // Moves without a button, or with Control, do not pan.
    move(c, QPoint(10, 10));
    press(c, QPoint(10, 10), Qt::LeftButton, Qt::ControlModifier);
    move(c, QPoint(50, 50), Qt::ControlModifier);
    release(c, QPoint(50, 50), Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(d->s, QRectF(-20, -30, 200, 100));
}

void TestImgDisp::newPosGivesImagePixel()
{
    QSignalSpy pos(d, &ImgDisp::newPos);
    move(c, QPoint(201, 151));
    QCOMPARE(pos.count(), 1);
    QCOMPARE(pos.at(0).at(0).toInt(), 100);
    QCOMPARE(pos.at(0).at(1).toInt(), 50);
    move(c, QPoint(399, 249));
    QCOMPARE(pos.at(1).at(0).toInt(), 199);
    QCOMPARE(pos.at(1).at(1).toInt(), 99);
    // Below the picture, in the margin, the rows go on past the last one.
    move(c, QPoint(399, 299));
    QCOMPARE(pos.at(2).at(1).toInt(), 124);
}

void TestImgDisp::shiftDragSelects_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("down right") << QPoint(40, 70) << QPoint(100, 110);
    QTest::newRow("up left") << QPoint(100, 110) << QPoint(40, 70);
}

void TestImgDisp::shiftDragSelects()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QSignalSpy points(d, &ImgDisp::selectedAPoint);
    press(c, from, Qt::LeftButton, Qt::ShiftModifier);
    QVERIFY(d->selecting);
    move(c, QPoint(70, 70), Qt::ShiftModifier);
    move(c, to, Qt::ShiftModifier);
    release(c, to, Qt::LeftButton, Qt::ShiftModifier);
    QVERIFY(!d->selecting);
    QVERIFY(d->selValid);
    QCOMPARE(d->sel, QRectF(20, 10, 30, 20));
    QCOMPARE(d->s, QRectF(0, 0, 200, 100)); // selecting does not pan
    QCOMPARE(points.count(), 0);
}

void TestImgDisp::selectionBackToStartXIsNotValid()
{
    press(c, QPoint(40, 30), Qt::LeftButton, Qt::ShiftModifier);
    move(c, QPoint(100, 90), Qt::ShiftModifier);
    move(c, QPoint(40, 120), Qt::ShiftModifier);
    release(c, QPoint(40, 120), Qt::LeftButton, Qt::ShiftModifier);
    QVERIFY(!d->selecting);
    QVERIFY(!d->selValid);
}

void TestImgDisp::shiftRightClearsSelection()
{
    press(c, QPoint(40, 30), Qt::LeftButton, Qt::ShiftModifier);
    move(c, QPoint(100, 90), Qt::ShiftModifier);
    release(c, QPoint(100, 90), Qt::LeftButton, Qt::ShiftModifier);
    QVERIFY(d->selValid);
    press(c, QPoint(10, 10), Qt::RightButton, Qt::ShiftModifier);
    release(c, QPoint(10, 10), Qt::RightButton, Qt::ShiftModifier);
    QVERIFY(!d->selecting);
    QVERIFY(!d->selValid);
    QCOMPARE(d->sel.width(), 0.0);
    QCOMPARE(d->sel.height(), 0.0);
}

void TestImgDisp::selectedAPoint_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QList<QPoint>>("path"); // press at the first point, release at the last
    QTest::addColumn<bool>("emitted");
    const QList<QPoint> still { QPoint(100, 90) };
    QTest::newRow("left") << int(Qt::LeftButton) << 0 << still << true;
    QTest::newRow("right") << int(Qt::RightButton) << 0 << still << true;
    QTest::newRow("left Shift") << int(Qt::LeftButton) << int(Qt::ShiftModifier) << still << false;
    QTest::newRow("left Alt") << int(Qt::LeftButton) << int(Qt::AltModifier) << still << false;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0 << still << false;
    // A pan is no click: neither where it ends nor when it comes back to its start.
    QTest::newRow("left drag") << int(Qt::LeftButton) << 0
                               << QList<QPoint> { QPoint(100, 90), QPoint(130, 120) } << false;
    QTest::newRow("left drag back to start")
        << int(Qt::LeftButton) << 0
        << QList<QPoint> { QPoint(100, 90), QPoint(140, 90), QPoint(100, 90) } << false;
    QTest::newRow("right drag") << int(Qt::RightButton) << 0
                                << QList<QPoint> { QPoint(100, 90), QPoint(100, 60) } << false;
}

void TestImgDisp::selectedAPoint()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(QList<QPoint>, path);
    QFETCH(bool, emitted);
    QSignalSpy points(d, &ImgDisp::selectedAPoint);
    drag(c, path, Qt::MouseButton(button), Qt::KeyboardModifiers(mods));
    QCOMPARE(points.count(), emitted ? 1 : 0);
    if (emitted) {
        QCOMPARE(points.at(0).at(0).toDouble(), 50.0);
        QCOMPARE(points.at(0).at(1).toDouble(), 20.0);
        QCOMPARE(points.at(0).at(2).value<MouseC::MStat>(),
            button == Qt::LeftButton ? MouseC::Left : MouseC::Right);
    }
}

void TestImgDisp::drawShowsSourceRectangle()
{
    QImage img(200, 100, QImage::Format_RGB32);
    img.fill(qRgb(0, 0, 255));
    QPainter p(&img);
    p.fillRect(100, 0, 100, 100, QColor(255, 0, 0));
    p.end();
    d->img = img;
    d->newImage();
    // Square pixels: the 2:1 picture fills the 400 x 300 canvas across, rows 50 ... 249,
    // with white margins above and below.
    const QImage whole = c->grab().toImage();
    QCOMPARE(whole.pixel(100, 150), qRgb(0, 0, 255));
    QCOMPARE(whole.pixel(300, 150), qRgb(255, 0, 0));
    QCOMPARE(whole.pixel(300, 52), qRgb(255, 0, 0));
    QCOMPARE(whole.pixel(300, 47), qRgb(255, 255, 255));
    QCOMPARE(whole.pixel(100, 252), qRgb(255, 255, 255));

    // The square right half fills the height; the view widens to x 83.3 ... 216.7, so a
    // strip of the left half shows on the left and white margin on the right.
    d->s = QRectF(100, 0, 100, 100);
    const QImage half = c->grab().toImage();
    QCOMPARE(half.pixel(200, 20), qRgb(255, 0, 0));
    QCOMPARE(half.pixel(200, 280), qRgb(255, 0, 0));
    QCOMPARE(half.pixel(20, 150), qRgb(0, 0, 255));
    QCOMPARE(half.pixel(380, 150), qRgb(255, 255, 255));
}

void TestImgDisp::saveImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    d->s = QRectF(10.7, 20.2, 50.9, 30.5);
    const QString name = dir.filePath("part.png");
    QVERIFY(d->saveImage(name));
    QImage back(name);
    QCOMPARE(back.size(), QSize(50, 30));
    QCOMPARE(back.convertToFormat(QImage::Format_RGB32),
        d->img.copy(10, 20, 50, 30).convertToFormat(QImage::Format_RGB32));

    QVERIFY(d->saveImage(dir.filePath("part.bmp")));
    QCOMPARE(QImage(dir.filePath("part.bmp")).size(), QSize(50, 30));
    QVERIFY(!d->saveImage(dir.filePath("no/such/folder/x.png")));

    // A view reaching past the picture saves the picture's part of it, not the margin.
    d->s = QRectF(-30.5, 50, 1e6, 1e6);
    QVERIFY(d->saveImage(dir.filePath("wide.png")));
    QCOMPARE(QImage(dir.filePath("wide.png")).convertToFormat(QImage::Format_RGB32),
        d->img.copy(0, 50, 200, 50).convertToFormat(QImage::Format_RGB32));
    // Nothing of the picture in view, or no picture at all: nothing to save.
    d->s = QRectF(500, 500, 10, 10);
    QVERIFY(!d->saveImage(dir.filePath("outside.png")));
    d->img = QImage();
    d->s = QRectF(0, 0, 10, 10);
    QVERIFY(!d->saveImage(dir.filePath("none.png")));
}

QTEST_MAIN(TestImgDisp)
#include "tst_ImgDisp.moc"
