#include "ColorBar.h"
#include "DisplayTestUtil.h"
#include "GreyLevelMap.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace disptest;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct PaintCounter : QObject
{
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++count;
        return false;
    }
    int count = 0;
};
} // namespace

class TestColorBar : public QObject
{
    Q_OBJECT
private slots:
    void level_data();
    void level();
    void greyImage();
    void snapshotIsIndependent();
    void form();
    void setMinMaxWriteText();
    void changesRepaintBar_data();
    void changesRepaintBar();
    void rangeEditing_data();
    void rangeEditing();
    void dragCuts_data();
    void dragCuts();
    void pressHalfWayGrabsNothing();
    void coincidentCutsCanBeParted_data();
    void coincidentCutsCanBeParted();
    void paintedRamp_data();
    void paintedRamp();
};

void TestColorBar::level_data()
{
    QTest::addColumn<double>("vMin");
    QTest::addColumn<double>("vMax");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<double>("v");
    QTest::addColumn<int>("grey");

    QTest::newRow("bottom") << 0.0 << 1.0 << 0.0 << 1.0 << 0.0 << 0;
    QTest::newRow("middle") << 0.0 << 1.0 << 0.0 << 1.0 << 0.5 << 128;
    QTest::newRow("top clamps from 256") << 0.0 << 1.0 << 0.0 << 1.0 << 1.0 << 255;
    QTest::newRow("above range") << 0.0 << 1.0 << 0.0 << 1.0 << 7.0 << 255;
    QTest::newRow("just below a step") << 0.0 << 1.0 << 0.0 << 1.0 << 0.99 << 253;
    QTest::newRow("other range") << 10.0 << 20.0 << 0.0 << 1.0 << 15.0 << 128;
    QTest::newRow("reversed range") << 1.0 << 0.0 << 0.0 << 1.0 << 0.25 << 192;
    QTest::newRow("lower quarter black") << 0.0 << 1.0 << 0.25 << 0.75 << 0.2 << 0;
    QTest::newRow("at lower cut") << 0.0 << 1.0 << 0.25 << 0.75 << 0.25 << 0;
    QTest::newRow("between cuts") << 0.0 << 1.0 << 0.25 << 0.75 << 0.5 << 128;
    QTest::newRow("near upper cut") << 0.0 << 1.0 << 0.25 << 0.75 << 0.74 << 250;
    QTest::newRow("at upper cut") << 0.0 << 1.0 << 0.25 << 0.75 << 0.75 << 255;
    QTest::newRow("inverted cuts") << 0.0 << 1.0 << 0.75 << 0.25 << 0.3 << 230;
    // Degenerate settings give defined greys.
    QTest::newRow("equal range, at it") << 5.0 << 5.0 << 0.0 << 1.0 << 5.0 << 0;
    QTest::newRow("equal range, above") << 5.0 << 5.0 << 0.0 << 1.0 << 6.0 << 255;
    QTest::newRow("equal range, below") << 5.0 << 5.0 << 0.0 << 1.0 << 4.0 << 0;
    QTest::newRow("equal cuts, at") << 0.0 << 1.0 << 0.5 << 0.5 << 0.5 << 0;
    QTest::newRow("equal cuts, above") << 0.0 << 1.0 << 0.5 << 0.5 << 0.6 << 255;
    QTest::newRow("NaN value") << 0.0 << 1.0 << 0.0 << 1.0 << kNaN << 0;
    QTest::newRow("NaN bound") << 0.0 << kNaN << 0.0 << 1.0 << 0.5 << 0;
    QTest::newRow("infinite value") << 0.0 << 1.0 << 0.0 << 1.0 << kInf << 255;
    QTest::newRow("minus infinite") << 0.0 << 1.0 << 0.0 << 1.0 << -kInf << 0;
}

void TestColorBar::level()
{
    QFETCH(double, vMin);
    QFETCH(double, vMax);
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(double, v);
    QFETCH(int, grey);

    const GreyLevelMap map { vMin, vMax, lo, hi };
    QCOMPARE(map.level(v), grey);

    ColorBar bar;
    bar.setMinV(vMin);
    bar.setMaxV(vMax);
    bar.lo = lo;
    bar.hi = hi;
    QCOMPARE(bar.level(v), grey);

    uchar byte = 77;
    map.fillRow(&v, 1, &byte);
    QCOMPARE(int(byte), grey);
}

void TestColorBar::greyImage()
{
    const GreyLevelMap m { 0, 10, 0, 1 };
    const int w = 7, h = 3; // odd width: rows of the picture are padded
    std::vector<double> data(w * h);
    for (int i = 0; i < w * h; ++i)
        data[i] = i * 0.5;
    const QImage img = m.greyImage(data.data(), w, h);
    QCOMPARE(img.format(), QImage::Format_Grayscale8);
    QCOMPARE(img.size(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            QCOMPARE(qGray(img.pixel(x, y)), m.level(data[y * w + x]));
    QVERIFY(m.greyImage(data.data(), 0, 3).isNull());
    QVERIFY(m.greyImage(nullptr, 3, 3).isNull());
}

void TestColorBar::snapshotIsIndependent()
{
    ColorBar bar;
    bar.setMinV(2);
    bar.setMaxV(4);
    bar.lo = 0.1;
    bar.hi = 0.9;
    const GreyLevelMap snap = bar.greyMap();
    QCOMPARE(snap.vMin, 2.0);
    QCOMPARE(snap.vMax, 4.0);
    QCOMPARE(snap.lo, 0.1);
    QCOMPARE(snap.hi, 0.9);
    bar.setMaxV(100);
    bar.hi = 1;
    QCOMPARE(snap.level(3), GreyLevelMap({ 2, 4, 0.1, 0.9 }).level(3));
    QVERIFY(snap.level(3) != bar.level(3));
}

void TestColorBar::form()
{
    ColorBar bar;
    QFrame *base = bar.uiBase();
    QCOMPARE(base->objectName(), QString("CBarUIBase"));
    auto *fix = base->findChild<QCheckBox *>("CFix");
    QVERIFY(!bar.fixedScale());
    bar.setFixColorScale(true);
    QVERIFY(fix->isChecked());
    fix->setChecked(false);
    QVERIFY(!bar.fixedScale());

    // The settings frame goes with the bar even when the owner never placed it.
    QPointer<QFrame> guard;
    {
        ColorBar other;
        guard = other.uiBase();
    }
    QVERIFY(guard.isNull());
}

void TestColorBar::setMinMaxWriteText()
{
    ColorBar bar;
    QSignalSpy spy(&bar, &ColorBar::newBar);
    bar.setMinV(-0.000123456789);
    bar.setMaxV(1234567.0);
    QCOMPARE(bar.vMin, -0.000123456789);
    QCOMPARE(bar.vMax, 1234567.0);
    QCOMPARE(bar.uiBase()->findChild<QLineEdit *>("CMinLE")->text(), QString("-0.000123457"));
    QCOMPARE(bar.uiBase()->findChild<QLineEdit *>("CMaxLE")->text(), QString("1.23457e+06"));
    QCOMPARE(spy.count(), 0);
    // A narrow field shows the sign and the leading digits; the whole number is its tip.
    for (const char *name : { "CMinLE", "CMaxLE" }) {
        const auto *le = bar.uiBase()->findChild<QLineEdit *>(name);
        QCOMPARE(le->cursorPosition(), 0);
        QCOMPARE(le->toolTip(), le->text());
    }
}

void TestColorBar::changesRepaintBar_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("setMinV") << "setMinV";
    QTest::newRow("setMaxV") << "setMaxV";
    QTest::newRow("typed min") << "CMinLE";
    QTest::newRow("typed max") << "CMaxLE";
}

// The bar prints its range: a new range that does not repaint it leaves old numbers beside
// the new fields.
void TestColorBar::changesRepaintBar()
{
    QFETCH(QString, change);
    ColorBar bar;
    bar.resize(30, 400);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    PaintCounter paints(&bar);
    QTest::qWait(20);
    paints.count = 0;
    if (change == "setMinV") {
        bar.setMinV(-3);
    } else if (change == "setMaxV") {
        bar.setMaxV(3);
    } else {
        auto *le = bar.uiBase()->findChild<QLineEdit *>(change);
        le->setText("5");
        emit le->editingFinished();
    }
    QTRY_VERIFY(paints.count > 0);
}

void TestColorBar::rangeEditing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("value");
    QTest::newRow("min number") << "CMinLE"
                                << "2.5" << 2.5;
    QTest::newRow("min not a number") << "CMinLE"
                                      << "abc" << 0.0;
    QTest::newRow("max number") << "CMaxLE"
                                << "42" << 42.0;
    QTest::newRow("max trailing junk") << "CMaxLE"
                                       << "3x" << 0.0;
}

void TestColorBar::rangeEditing()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(double, value);
    ColorBar bar;
    bar.setMinV(7);
    bar.setMaxV(9);
    auto *le = bar.uiBase()->findChild<QLineEdit *>(field);
    QSignalSpy spy(&bar, &ColorBar::newBar);
    le->selectAll();
    QTest::keyClick(le, Qt::Key_Delete);
    QTest::keyClicks(le, typed);
    QCOMPARE(spy.count(), 0); // typing alone changes nothing
    QTest::keyClick(le, Qt::Key_Return);
    QCOMPARE(spy.count(), 1);
    if (field == "CMinLE") {
        QCOMPARE(bar.vMin, value);
        QCOMPARE(bar.vMax, 9.0);
    } else {
        QCOMPARE(bar.vMax, value);
        QCOMPARE(bar.vMin, 7.0);
    }
}

void TestColorBar::dragCuts_data()
{
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<QPoint>("moveTo");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    // Bar 400 pixels high, cuts at 0 and 1: fraction = (400 - y) / 400.
    QTest::newRow("grab hi near top") << QPoint(10, 40) << QPoint(10, 100) << 0.0 << 0.75;
    QTest::newRow("grab lo near bottom") << QPoint(10, 300) << QPoint(10, 340) << 0.15 << 1.0;
    // Cuts are not kept in order.
    QTest::newRow("lo passes hi") << QPoint(10, 390) << QPoint(10, 20) << 0.95 << 1.0;
}

void TestColorBar::dragCuts()
{
    QFETCH(QPoint, pressAt);
    QFETCH(QPoint, moveTo);
    QFETCH(double, lo);
    QFETCH(double, hi);
    ColorBar bar;
    bar.resize(30, 400);
    QSignalSpy spy(&bar, &ColorBar::newBar);
    press(&bar, pressAt, Qt::LeftButton);
    QVERIFY(bar.dragging);
    QCOMPARE(spy.count(), 0);
    move(&bar, moveTo);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(bar.lo, lo);
    QCOMPARE(bar.hi, hi);
    release(&bar, moveTo, Qt::LeftButton);
    QVERIFY(!bar.dragging);
    move(&bar, QPoint(10, 200)); // no button: nothing changes
    QCOMPARE(spy.count(), 1);
    QCOMPARE(bar.lo, lo);
}

void TestColorBar::pressHalfWayGrabsNothing()
{
    ColorBar bar;
    bar.resize(30, 400);
    QSignalSpy spy(&bar, &ColorBar::newBar);
    press(&bar, QPoint(10, 200), Qt::LeftButton);
    QVERIFY(!bar.dragging);
    move(&bar, QPoint(10, 100));
    move(&bar, QPoint(10, 50));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(bar.lo, 0.0);
    QCOMPARE(bar.hi, 1.0);
}

void TestColorBar::coincidentCutsCanBeParted_data()
{
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    // Both cuts at 0.5 (y 200 of 400); the press then moves to y 100 (0.75) or 300 (0.25).
    QTest::newRow("above takes hi") << QPoint(10, 180) << 0.5 << 0.75;
    QTest::newRow("below takes lo") << QPoint(10, 220) << 0.25 << 0.5;
}

void TestColorBar::coincidentCutsCanBeParted()
{
    QFETCH(QPoint, pressAt);
    QFETCH(double, lo);
    QFETCH(double, hi);
    ColorBar bar;
    bar.resize(30, 400);
    // Drag lo up onto hi's row, then hi down onto the same row: the cuts coincide.
    drag(&bar, { QPoint(10, 390), QPoint(10, 200) }, Qt::LeftButton);
    drag(&bar, { QPoint(10, 10), QPoint(10, 200) }, Qt::LeftButton);
    QCOMPARE(bar.lo, 0.5);
    QCOMPARE(bar.hi, 0.5);

    press(&bar, pressAt, Qt::LeftButton);
    QVERIFY(bar.dragging);
    move(&bar, QPoint(10, pressAt.y() < 200 ? 100 : 300));
    release(&bar, QPoint(10, pressAt.y() < 200 ? 100 : 300), Qt::LeftButton);
    QCOMPARE(bar.lo, lo);
    QCOMPARE(bar.hi, hi);

    // Exactly on the common cut nothing is grabbed.
    ColorBar same;
    same.resize(30, 400);
    same.lo = same.hi = 0.5;
    press(&same, QPoint(10, 200), Qt::LeftButton);
    QVERIFY(!same.dragging);
}

void TestColorBar::paintedRamp_data()
{
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<double>("vMin");
    QTest::addColumn<double>("vMax");
    QTest::newRow("full ramp") << 0.0 << 1.0 << 0.0 << 1.0;
    QTest::newRow("cuts") << 0.3 << 0.6 << -5.0 << 5.0;
    QTest::newRow("equal cuts") << 0.5 << 0.5 << 0.0 << 1.0;
    QTest::newRow("inverted") << 0.8 << 0.2 << 0.0 << 1.0;
}

void TestColorBar::paintedRamp()
{
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(double, vMin);
    QFETCH(double, vMax);
    ColorBar bar;
    bar.setFrameShape(QFrame::NoFrame);
    bar.resize(30, 400);
    bar.lo = lo;
    bar.hi = hi;
    bar.setMinV(vMin);
    bar.setMaxV(vMax);
    const QImage img = bar.grab().toImage();
    const GreyLevelMap ramp { 0, 1, lo, hi };
    const int markerLo = int(std::trunc((1 - lo) * 400));
    const int markerHi = int(std::trunc((1 - hi) * 400));
    // Rows clear of the number boxes (ends) and the markers.
    for (int y = 110; y < 290; y += 7) {
        if (std::abs(y - markerLo) < 2 || std::abs(y - markerHi) < 2)
            continue;
        const int g = ramp.level(double(400 - 1 - y) / 400);
        QCOMPARE(img.pixel(0, y), qRgb(g, g, g));
        QCOMPARE(img.pixel(29, y), qRgb(g, g, g));
    }
    if (markerLo > 0 && markerLo < 400)
        QCOMPARE(img.pixel(15, markerLo), qRgb(0, 192, 255));
}

QTEST_MAIN(TestColorBar)
#include "tst_ColorBar.moc"
