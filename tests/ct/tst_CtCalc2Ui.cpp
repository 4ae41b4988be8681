#include "ColorBar.h"
#include "CtCalc2Ui.h"
#include "ImgDispWPV.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

QLineEdit *field(const QWidget &w, const char *name)
{
    return w.findChild<QLineEdit *>(name);
}

QList<QVariant> region(double x0, double z0, double x1, double z1)
{
    return { x0, z0, x1, z1 };
}

} // namespace

class tst_CtCalc2Ui : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void setDR_data();
    void setDR();
    void zoomFollowsIntoDR();
    void setCRegionAnnouncesWholePixels();
    void defaultCROnlyUntilSet();
    void snapshotFollowsColourBar();
    void snapshotFollowsTypedRegion();
    void times();
};

void tst_CtCalc2Ui::construction()
{
    CtCalc2Ui v;
    QCOMPARE(field(v, "Crx1")->text(), QString("2047"));
    QCOMPARE(field(v, "Crz1")->text(), QString("2047"));
    QVERIFY(!v.regionSet());
    const CtViewState s = v.state();
    QCOMPARE(s.cr, (CtRegion { 0, 0, 2047, 2047 }));
    QVERIFY(!s.regionSet);
    QVERIFY(!s.fixedScale);
}

void tst_CtCalc2Ui::setDR_data()
{
    QTest::addColumn<CtRegion>("next");
    QTest::addColumn<bool>("emitted");
    QTest::newRow("same values") << CtRegion { 0, 0, 512, 512 } << false;
    QTest::newRow("only Drz1") << CtRegion { 0, 0, 512, 500 } << true;
    QTest::newRow("below field precision") << CtRegion { 0, 0, 512.0000001, 512 } << false;
    QTest::newRow("fractional") << CtRegion { 10.4, 20.6, 99.2, 100 } << true;
}

void tst_CtCalc2Ui::setDR()
{
    QFETCH(CtRegion, next);
    QFETCH(bool, emitted);
    CtCalc2Ui v;
    v.setDR(0, 0, 512, 512);
    QSignalSpy dr(&v, &CtCalc2Ui::dRUpdated);
    QSignalSpy cr(&v, &CtCalc2Ui::cRUpdated);
    v.setDR(next.x0, next.z0, next.x1, next.z1);
    QCOMPARE(dr.count(), emitted ? 1 : 0);
    QCOMPARE(cr.count(), 0);
    if (emitted) {
        QCOMPARE(dr.at(0), region(next.x0, next.z0, next.x1, next.z1));
        QCOMPARE(v.display()->s, next.sourceRect());
        QVERIFY(v.display()->scaleSet);
    }
}

void tst_CtCalc2Ui::zoomFollowsIntoDR()
{
    CtCalc2Ui v;
    QSignalSpy dr(&v, &CtCalc2Ui::dRUpdated);
    emit v.display()->newS(QRectF(10, 20, 30, 40));
    QCOMPARE(dr.count(), 1);
    QCOMPARE(dr.at(0), region(10, 20, 40, 60));
    QCOMPARE(v.dr(), (CtRegion { 10, 20, 40, 60 }));
}

void tst_CtCalc2Ui::setCRegionAnnouncesWholePixels()
{
    CtCalc2Ui v;
    v.setDR(10.4, 20.6, 99.2, 100.0);
    QSignalSpy cr(&v, &CtCalc2Ui::cRUpdated);
    v.findChild<QPushButton *>("SetCRegion")->click();
    QCOMPARE(cr.count(), 1);
    QCOMPARE(cr.at(0), region(10, 20, 100, 100));
    QVERIFY(v.regionSet());
    QCOMPARE(v.state().cr, (CtRegion { 10, 20, 100, 100 }));
    QVERIFY(v.state().regionSet);
    v.setCRegion();
    QCOMPARE(cr.count(), 1);
}

void tst_CtCalc2Ui::defaultCROnlyUntilSet()
{
    CtCalc2Ui v;
    QSignalSpy cr(&v, &CtCalc2Ui::cRUpdated);
    v.useDefaultCR(64);
    QCOMPARE(cr.count(), 1);
    QCOMPARE(cr.at(0), region(0, 0, 64, 64));
    QCOMPARE(v.state().cr, (CtRegion { 0, 0, 64, 64 }));
    v.useDefaultCR(128);
    QCOMPARE(cr.count(), 1);
    QCOMPARE(v.cr(), (CtRegion { 0, 0, 64, 64 }));
}

void tst_CtCalc2Ui::snapshotFollowsColourBar()
{
    CtCalc2Ui v;
    ColorBar *bar = v.display()->colorBar();
    v.setFixColorScale(true);
    QVERIFY(v.state().fixedScale);
    v.setCBarMinMaxForced(-1, 2);
    QCOMPARE(v.state().map.vMin, -1.0);
    QCOMPARE(v.state().map.vMax, 2.0);
    // A slice's own range must not replace a fixed one.
    v.showSliceRange(5, 6);
    QCOMPARE(bar->vMin, -1.0);
    QCOMPARE(v.state().map.vMax, 2.0);

    // The user unticks "CFix" on the bar itself.
    auto *fix = bar->uiBase()->findChild<QCheckBox *>("CFix");
    QVERIFY(fix);
    fix->setChecked(false);
    QVERIFY(!v.state().fixedScale);
    v.showSliceRange(5, 6);
    QCOMPARE(bar->vMin, 5.0);
    QCOMPARE(v.state().map.vMin, 5.0);
    QCOMPARE(v.state().map.vMax, 6.0);

    // A cut dragged on the bar announces itself with newBar().
    bar->hi = 0.5;
    emit bar->newBar();
    QCOMPARE(v.state().map.hi, 0.5);
}

void tst_CtCalc2Ui::snapshotFollowsTypedRegion()
{
    CtCalc2Ui v;
    QLineEdit *x1 = field(v, "Crx1");
    x1->setText("300");
    emit x1->editingFinished();
    QCOMPARE(v.state().cr, (CtRegion { 0, 0, 300, 2047 }));
}

void tst_CtCalc2Ui::times()
{
    CtCalc2Ui v;
    const QDateTime t0(QDate(2024, 3, 1), QTime(13, 4, 5, 67));
    v.startedAt(t0);
    v.endedAt(t0.addMSecs(1234));
    QCOMPARE(field(v, "StartT")->text(), QString("13:04:05.067"));
    QCOMPARE(field(v, "EndT")->text(), QString("13:04:06.301"));
    QCOMPARE(field(v, "SpentT")->text(), QString("1.234"));
    // The next slice's start does not stand beside the previous slice's end and time.
    v.startedAt(t0.addSecs(10));
    QCOMPARE(field(v, "StartT")->text(), QString("13:04:15.067"));
    QCOMPARE(field(v, "EndT")->text(), QString("--"));
    QCOMPARE(field(v, "SpentT")->text(), QString("--"));
    v.showSliceNo(123456);
    QCOMPARE(field(v, "ShowSliceNo")->text(), QString("123456"));
}

QTEST_MAIN(tst_CtCalc2Ui)
#include "tst_CtCalc2Ui.moc"
