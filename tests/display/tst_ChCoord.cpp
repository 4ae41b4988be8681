#include "ChCoord.h"
#include "DispA.h"
#include "DisplayTestUtil.h"
#include "MouseC.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

using namespace disptest;

namespace {

struct Ranges
{
    double rx0, rx1, ry0, ry1;
};

Ranges ranges(const ChCoord &c)
{
    return { c.rx0, c.rx1, c.ry0, c.ry1 };
}

// A DispA painted once, so its screen range is (0, 100, 200, 0), showing real X 0..200 and
// real Y 0..100 growing upward.
void prepare(DispA &d)
{
    d.resize(201, 101);
    d.grab();
    d.cc.setReal(0, 0, 200, 100);
}

} // namespace

class TestChCoord : public QObject
{
    Q_OBJECT
private slots:
    void mappings_data();
    void mappings();
    void clearScale();
    void setMouseReplacesConnections();
    void paintSetsScreen();
    void rectangleZoom_data();
    void rectangleZoom();
    void rectangleZoomNeedsPlainRightDrag_data();
    void rectangleZoomNeedsPlainRightDrag();
    void pan();
    void wheelEdges_data();
    void wheelEdges();
};

// Screen (sx0, sy0, sx1, sy1) and real (rx0, ry0, rx1, ry1) ranges of the cases below.
using Setup = QList<double>;

void TestChCoord::mappings_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("fn");
    QTest::addColumn<double>("arg");
    QTest::addColumn<double>("expected");
    // Screen x 0..200 <-> real x 10..20, screen y 100..0 <-> real y -1..1.
    const Setup normal { 0, 100, 200, 0, 10, -1, 20, 1 };
    QTest::newRow("toSx") << normal << "toSx" << 12.5 << 50.0;
    QTest::newRow("toSy bottom") << normal << "toSy" << -1.0 << 100.0;
    QTest::newRow("toSy middle") << normal << "toSy" << 0.5 << 25.0;
    QTest::newRow("toSdx") << normal << "toSdx" << 2.0 << 40.0;
    QTest::newRow("toRx") << normal << "toRx" << 50.0 << 12.5;
    QTest::newRow("toRy") << normal << "toRy" << 25.0 << 0.5;
    QTest::newRow("toRdy") << normal << "toRdy" << 25.0 << -0.5;
    // Real x runs backwards (30..10): the clamp must not assume an order.
    const Setup backwards { 0, 100, 200, 0, 30, -1, 10, 1 };
    QTest::newRow("toRxIn inside") << backwards << "toRxIn" << 50.0 << 25.0;
    QTest::newRow("toRxIn left") << backwards << "toRxIn" << -50.0 << 30.0;
    QTest::newRow("toRyIn below") << backwards << "toRyIn" << 300.0 << -1.0;
    QTest::newRow("toRyIn above") << backwards << "toRyIn" << -300.0 << 1.0;
    // Collapsed ranges: real x at 3, real y at 4, screen x at 7. No division by zero.
    const Setup collapsed { 7, 100, 7, 0, 3, 4, 3, 4 };
    QTest::newRow("toSx, real x collapsed") << collapsed << "toSx" << 55.0 << 7.0;
    QTest::newRow("toSy, real y collapsed") << collapsed << "toSy" << 55.0 << 100.0;
    QTest::newRow("toSdx, collapsed") << collapsed << "toSdx" << 55.0 << 0.0;
    QTest::newRow("toRx, screen x collapsed") << collapsed << "toRx" << 55.0 << 3.0;
    QTest::newRow("toRy, real y collapsed") << collapsed << "toRy" << 55.0 << 4.0;
    QTest::newRow("toRdx, collapsed") << collapsed << "toRdx" << 55.0 << 0.0;
}

static double call(const ChCoord &c, const QString &fn, double a)
{
    if (fn == "toSx")
        return c.toSx(a);
    if (fn == "toSy")
        return c.toSy(a);
    if (fn == "toSdx")
        return c.toSdx(a);
    if (fn == "toRx")
        return c.toRx(a);
    if (fn == "toRy")
        return c.toRy(a);
    if (fn == "toRxIn")
        return c.toRxIn(a);
    if (fn == "toRyIn")
        return c.toRyIn(a);
    if (fn == "toRdx")
        return c.toRdx(a);
    if (fn == "toRdy")
        return c.toRdy(a);
    qFatal("unknown mapping");
}

void TestChCoord::mappings()
{
    QFETCH(Setup, setup);
    QFETCH(QString, fn);
    QFETCH(double, arg);
    QFETCH(double, expected);
    ChCoord c;
    c.setScreen(setup[0], setup[1], setup[2], setup[3]);
    c.setReal(setup[4], setup[5], setup[6], setup[7]);
    const double v = call(c, fn, arg);
    QVERIFY(std::isfinite(v));
    QCOMPARE(v, expected);
}

void TestChCoord::clearScale()
{
    ChCoord c;
    c.setReal(1, 2, 3, 4);
    c.clearScale();
    QVERIFY(!c.xFixed && !c.yFixed);
    QCOMPARE(c.rx0, 0.0);
    QCOMPARE(c.rx1, 0.0);
    QCOMPARE(c.ry0, 0.0);
    QCOMPARE(c.ry1, 0.0);
    QCOMPARE(c.toRx(10), 0.0);
    QCOMPARE(c.toSx(10), c.sx0);
}

void TestChCoord::setMouseReplacesConnections()
{
    ChCoord c;
    MouseC a, b;
    QSignalSpy updated(&c, &ChCoord::updated);
    c.setMouse(&a);
    emit a.mPressed();
    QCOMPARE(updated.count(), 1);
    c.setMouse(&b);
    emit a.mPressed();
    emit a.mReleased();
    emit a.mDClicked();
    QCOMPARE(updated.count(), 1);
    emit b.mDClicked();
    QCOMPARE(updated.count(), 2);
    c.setMouse(nullptr);
    emit b.mPressed();
    QCOMPARE(updated.count(), 2);
}

void TestChCoord::paintSetsScreen()
{
    DispA d;
    d.resize(201, 101);
    d.grab();
    QCOMPARE(d.cc.sx0, 0.0);
    QCOMPARE(d.cc.sy0, 100.0);
    QCOMPARE(d.cc.sx1, 200.0);
    QCOMPARE(d.cc.sy1, 0.0);
}

void TestChCoord::rectangleZoom_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    // The same rectangle, x 50..150 and y 20..80 on the screen, dragged four ways.
    QTest::newRow("upper left to lower right") << QPoint(50, 20) << QPoint(150, 80);
    QTest::newRow("lower left to upper right") << QPoint(50, 80) << QPoint(150, 20);
    QTest::newRow("lower right to upper left") << QPoint(150, 80) << QPoint(50, 20);
    QTest::newRow("upper right to lower left") << QPoint(150, 20) << QPoint(50, 80);
}

void TestChCoord::rectangleZoom()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    DispA d;
    prepare(d);
    d.cc.xFixed = d.cc.yFixed = false;
    QSignalSpy updated(&d.cc, &ChCoord::updated);
    drag(&d, { from, QPoint(100, 50), to }, Qt::RightButton);
    QCOMPARE(d.cc.rx0, 50.0);
    QCOMPARE(d.cc.rx1, 150.0);
    // Real y grows upward: the lower screen corner (y 80) is real 20.
    QCOMPARE(d.cc.ry0, 20.0);
    QCOMPARE(d.cc.ry1, 80.0);
    QVERIFY(d.cc.xFixed && d.cc.yFixed);
    QVERIFY(updated.count() >= 2); // press and release at least
}

void TestChCoord::rectangleZoomNeedsPlainRightDrag_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("right with Shift")
        << int(Qt::RightButton) << int(Qt::ShiftModifier) << QPoint(150, 80);
    QTest::newRow("right with Ctrl")
        << int(Qt::RightButton) << int(Qt::ControlModifier) << QPoint(150, 80);
    QTest::newRow("left") << int(Qt::LeftButton) << 0 << QPoint(150, 80);
    // A click without a drag would collapse the view to nothing.
    QTest::newRow("right click") << int(Qt::RightButton) << 0 << QPoint(50, 20);
    QTest::newRow("right drag along a line") << int(Qt::RightButton) << 0 << QPoint(150, 20);
}

void TestChCoord::rectangleZoomNeedsPlainRightDrag()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(QPoint, to);
    DispA d;
    prepare(d);
    d.cc.panStat = MouseC::Other; // keep panning out of the way
    QSignalSpy updated(&d.cc, &ChCoord::updated);
    press(&d, QPoint(50, 20), Qt::MouseButton(button), Qt::KeyboardModifiers(mods));
    release(&d, to, Qt::MouseButton(button), Qt::KeyboardModifiers(mods));
    QCOMPARE(d.cc.rx0, 0.0);
    QCOMPARE(d.cc.rx1, 200.0);
    QCOMPARE(d.cc.ry0, 0.0);
    QCOMPARE(d.cc.ry1, 100.0);
    QCOMPARE(updated.count(), 2);
}

void TestChCoord::pan()
{
    DispA d;
    prepare(d);
    d.cc.xFixed = d.cc.yFixed = false;
    QSignalSpy updated(&d.cc, &ChCoord::updated);
    // Shift+left drag pans: the content follows the pointer (10 right, 20 down on screen).
    press(&d, QPoint(100, 50), Qt::LeftButton, Qt::ShiftModifier);
    move(&d, QPoint(105, 60), Qt::ShiftModifier);
    move(&d, QPoint(110, 70), Qt::ShiftModifier);
    release(&d, QPoint(110, 70), Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(d.cc.rx0, -10.0);
    QCOMPARE(d.cc.rx1, 190.0);
    QCOMPARE(d.cc.ry0, 20.0);
    QCOMPARE(d.cc.ry1, 120.0);
    QVERIFY(!d.cc.xFixed && !d.cc.yFixed);
    QCOMPARE(updated.count(), 4); // press, two pans, release

    // A plain left drag is not the pan state.
    press(&d, QPoint(100, 50), Qt::LeftButton);
    move(&d, QPoint(150, 90));
    QCOMPARE(d.cc.rx0, -10.0);
}

void TestChCoord::wheelEdges_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("delta");
    QTest::addColumn<bool>("zoomX");
    QTest::addColumn<bool>("zoomY");
    QTest::addColumn<double>("factor");
    // The margins are 20 screen pixels in x and 10 in y.
    QTest::newRow("middle") << QPoint(100, 50) << 120 << true << true << 1 / 1.1;
    QTest::newRow("middle out") << QPoint(100, 50) << -120 << true << true << 1.1;
    QTest::newRow("tiny delta zooms in") << QPoint(100, 50) << -8 << true << true << 1 / 1.1;
    QTest::newRow("left margin") << QPoint(10, 50) << 120 << false << true << 1 / 1.1;
    QTest::newRow("left margin edge") << QPoint(20, 50) << 120 << false << true << 1 / 1.1;
    QTest::newRow("just inside") << QPoint(21, 50) << 120 << true << true << 1 / 1.1;
    QTest::newRow("right margin") << QPoint(190, 50) << 120 << false << true << 1 / 1.1;
    QTest::newRow("outside right") << QPoint(260, 50) << 120 << false << true << 1 / 1.1;
    QTest::newRow("top margin") << QPoint(100, 5) << 120 << true << false << 1 / 1.1;
    QTest::newRow("bottom margin") << QPoint(100, 95) << -120 << true << false << 1.1;
    QTest::newRow("corner") << QPoint(5, 95) << 120 << true << true << 1 / 1.1;
}

void TestChCoord::wheelEdges()
{
    QFETCH(QPoint, at);
    QFETCH(int, delta);
    QFETCH(bool, zoomX);
    QFETCH(bool, zoomY);
    QFETCH(double, factor);
    DispA d;
    prepare(d);
    d.cc.xFixed = d.cc.yFixed = false;
    move(&d, at);
    const double cx = d.cc.toRx(at.x());
    const double cy = d.cc.toRy(at.y());
    QSignalSpy updated(&d.cc, &ChCoord::updated);
    wheel(&d, at, delta);
    QCOMPARE(updated.count(), 1);

    const Ranges r = ranges(d.cc);
    QCOMPARE(d.cc.xFixed, zoomX);
    QCOMPARE(d.cc.yFixed, zoomY);
    QCOMPARE(r.rx1 - r.rx0, zoomX ? 200 * factor : 200.0);
    QCOMPARE(r.ry1 - r.ry0, zoomY ? 100 * factor : 100.0);
    // The real point under the pointer stays where it is.
    QCOMPARE(d.cc.toRx(at.x()), cx);
    QCOMPARE(d.cc.toRy(at.y()), cy);
}

QTEST_MAIN(TestChCoord)
#include "tst_ChCoord.moc"
