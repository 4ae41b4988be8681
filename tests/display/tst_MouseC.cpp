#include "DispA.h"
#include "DispB.h"
#include "DisplayTestUtil.h"
#include "ExLabel.h"
#include "MouseC.h"

#include <QSignalSpy>
#include <QtTest>

using namespace disptest;

class TestMouseC : public QObject
{
    Q_OBJECT
private slots:
    void pressStat_data();
    void pressStat();
    void positionsAreTruncated();
    void moveAndReleaseKeepTheChain();
    void doubleClickLeavesPositions();
    void dispBIgnoresAltMoves();
    void dispBWheel_data();
    void dispBWheel();
    void dispAAltMoveFreezesUntilButton();
    void exLabelRecordsAndDraws();
};

void TestMouseC::pressStat_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("stat");
    QTest::addColumn<bool>("shiftOnly");
    QTest::addColumn<bool>("ctrlOnly");
    QTest::addColumn<bool>("altOnly");

    const int S = Qt::ShiftModifier, C = Qt::ControlModifier, A = Qt::AltModifier;
    const struct
    {
        const char *name;
        int mods;
    } combos[]
        = { { "none", 0 }, { "Shift", S }, { "Ctrl", C }, { "Alt", A }, { "Shift+Ctrl", S | C },
              { "Shift+Alt", S | A }, { "Ctrl+Alt", C | A }, { "Shift+Ctrl+Alt", S | C | A } };
    for (int i = 0; i < 8; ++i) {
        const int m = combos[i].mods;
        QTest::addRow("left %s", combos[i].name)
            << int(Qt::LeftButton) << m << i << (m == S) << (m == C) << (m == A);
        QTest::addRow("right %s", combos[i].name)
            << int(Qt::RightButton) << m << 8 + i << (m == S) << (m == C) << (m == A);
    }
    QTest::newRow("middle none") << int(Qt::MiddleButton) << 0 << 16 << false << false << false;
    QTest::newRow("middle all") << int(Qt::MiddleButton) << (S | C | A) << 16 << false << false
                                << false;
    // Modifiers other than Shift, Control and Alt do not count.
    QTest::newRow("left Meta") << int(Qt::LeftButton) << int(Qt::MetaModifier) << 0 << false
                               << false << false;
    QTest::newRow("right Shift+Keypad")
        << int(Qt::RightButton) << (S | int(Qt::KeypadModifier)) << 9 << true << false << false;
}

void TestMouseC::pressStat()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(int, stat);
    QFETCH(bool, shiftOnly);
    QFETCH(bool, ctrlOnly);
    QFETCH(bool, altOnly);

    DispB d;
    d.resize(100, 100);
    QSignalSpy pressed(&d, &DispB::mousePressed0);
    press(&d, QPoint(10, 20), Qt::MouseButton(button), Qt::KeyboardModifiers(mods));
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(int(d.m.pressStat()), stat);
    QCOMPARE(d.m.pressShiftOnly, shiftOnly);
    QCOMPARE(d.m.pressCtrlOnly, ctrlOnly);
    QCOMPARE(d.m.pressAltOnly, altOnly);
    QVERIFY(d.m.pressed);
    QCOMPARE(d.m.pressLeft, button == Qt::LeftButton);
    QCOMPARE(d.m.pressRight, button == Qt::RightButton);
    QCOMPARE(d.m.pressPos, QPoint(10, 20));
}

void TestMouseC::positionsAreTruncated()
{
    DispB d;
    QMouseEvent e(QEvent::MouseMove, QPointF(10.9, 20.2), QPointF(10.9, 20.2), Qt::NoButton,
        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&d, &e);
    QCOMPARE(d.m.pos, QPoint(10, 20));
    QMouseEvent n(QEvent::MouseMove, QPointF(-0.7, -3.5), QPointF(), Qt::NoButton, Qt::NoButton,
        Qt::NoModifier);
    QApplication::sendEvent(&d, &n);
    QCOMPARE(d.m.pos, QPoint(0, -3));
}

void TestMouseC::moveAndReleaseKeepTheChain()
{
    DispB d;
    QSignalSpy moved(&d.m, &MouseC::mMoved);
    move(&d, QPoint(1, 2), Qt::ShiftModifier);
    QVERIFY(d.m.moveShiftOnly);
    move(&d, QPoint(3, 4), Qt::ControlModifier);
    QCOMPARE(d.m.prevPos, QPoint(1, 2));
    QCOMPARE(d.m.pos, QPoint(3, 4));
    QVERIFY(!d.m.moveShiftOnly);
    QVERIFY(d.m.moveCtrlOnly);
    QCOMPARE(moved.count(), 2);

    press(&d, QPoint(5, 6), Qt::RightButton, Qt::ShiftModifier);
    QCOMPARE(d.m.prevPos, QPoint(3, 4));
    release(&d, QPoint(7, 8), Qt::RightButton, Qt::NoModifier);
    QCOMPARE(d.m.prevPos, QPoint(5, 6));
    QCOMPARE(d.m.pos, QPoint(7, 8));
    QCOMPARE(d.m.releasePos, QPoint(7, 8));
    QCOMPARE(d.m.releaseButton, int(Qt::RightButton));
    QVERIFY(!d.m.pressed);
    QVERIFY(!d.m.pressRight);
    // The press state outlives the release: owners read it in their release handler.
    QVERIFY(d.m.pressShiftOnly);
    QCOMPARE(d.m.pressStat(), MouseC::RightShift);
}

void TestMouseC::doubleClickLeavesPositions()
{
    DispB d;
    QSignalSpy dclicked(&d, &DispB::mouseDoubleClicked0);
    move(&d, QPoint(10, 10));
    press(&d, QPoint(20, 30), Qt::LeftButton);
    release(&d, QPoint(20, 30), Qt::LeftButton);
    dclick(&d, QPoint(40, 50), Qt::RightButton, Qt::AltModifier);
    QCOMPARE(dclicked.count(), 1);
    QCOMPARE(d.m.pos, QPoint(20, 30));
    QCOMPARE(d.m.prevPos, QPoint(20, 30));
    QCOMPARE(d.m.dClickPos, QPoint(40, 50));
    QCOMPARE(d.m.dClickButton, int(Qt::RightButton));
    QCOMPARE(d.m.dClickMods, int(Qt::AltModifier));
    QCOMPARE(d.m.lastButton, int(Qt::RightButton));
}

void TestMouseC::dispBIgnoresAltMoves()
{
    DispB d;
    QSignalSpy moved(&d, &DispB::mouseMoved0);
    move(&d, QPoint(5, 5));
    move(&d, QPoint(9, 9), Qt::AltModifier);
    move(&d, QPoint(9, 9), Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(d.m.pos, QPoint(5, 5));
    move(&d, QPoint(7, 7));
    QCOMPARE(moved.count(), 2);
    QCOMPARE(d.m.pos, QPoint(7, 7));
}

void TestMouseC::dispBWheel_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("factor");
    QTest::newRow("one notch up") << 120 << 1.0 << 1 / 1.1;
    QTest::newRow("one notch down") << -120 << -1.0 << 1.1;
    QTest::newRow("half notch") << 60 << 0.5 << 1 / 1.1;
    QTest::newRow("zero zooms in") << 0 << 0.0 << 1 / 1.1;
}

void TestMouseC::dispBWheel()
{
    QFETCH(int, delta);
    QFETCH(double, step);
    QFETCH(double, factor);
    DispB d;
    d.resize(100, 100);
    QSignalSpy wheeled(&d, &DispB::wheelMoved0);
    wheel(&d, QPoint(30, 40), delta);
    QCOMPARE(wheeled.count(), 1);
    QCOMPARE(d.wheelStep, step);
    QCOMPARE(d.wheelFactor, factor);
    QCOMPARE(d.wheelPos, QPoint(30, 40));
}

void TestMouseC::dispAAltMoveFreezesUntilButton()
{
    DispA d;
    d.resize(100, 100);
    move(&d, QPoint(10, 10));
    move(&d, QPoint(20, 20), Qt::AltModifier); // recorded: the previous event had no Alt
    QCOMPARE(d.m.pos, QPoint(20, 20));
    move(&d, QPoint(30, 30)); // frozen: Alt was held at the last recorded event
    move(&d, QPoint(40, 40), Qt::AltModifier);
    QCOMPARE(d.m.pos, QPoint(20, 20));
    press(&d, QPoint(50, 50), Qt::LeftButton);
    release(&d, QPoint(50, 50), Qt::LeftButton);
    move(&d, QPoint(60, 60));
    QCOMPARE(d.m.pos, QPoint(60, 60));
    QCOMPARE(d.m.prevPos, QPoint(50, 50));
}

void TestMouseC::exLabelRecordsAndDraws()
{
    ExLabel l;
    l.resize(80, 30);
    l.setText("abc");
    QCOMPARE(l.text(), QString("abc"));

    // Unlike the canvases, the label records moves with Alt held.
    move(&l, QPoint(3, 4), Qt::AltModifier);
    QCOMPARE(l.m.pos, QPoint(3, 4));
    QSignalSpy wheeled(&l.m, &MouseC::wMoved);
    wheel(&l, QPoint(3, 4), -120);
    QCOMPARE(wheeled.count(), 1);
    QCOMPARE(wheeled.at(0).at(0).toInt(), -1);

    QRectF screen;
    connect(&l, &ExLabel::draw, this, [&](QPainter *p) {
        QVERIFY(p && p->isActive());
        screen = QRectF(QPointF(l.cc.sx0, l.cc.sy0), QPointF(l.cc.sx1, l.cc.sy1));
    });
    l.grab();
    QCOMPARE(screen, QRectF(QPointF(0, 30), QPointF(80, 0)));
}

QTEST_MAIN(TestMouseC)
#include "tst_MouseC.moc"
