#include "ColorBar.h"
#include "DispB.h"
#include "DisplayTestUtil.h"
#include "ImgDispWPV.h"
#include "RawDisp.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace disptest;

class TestImgDispWPV : public QObject
{
    Q_OBJECT
private slots:
    void layout();
    void pointerReadOut();
    void setVal_data();
    void setVal();
    void resetScaleButton();
    void barChangesAreReEmitted();
    void rawDisp();
};

void TestImgDispWPV::layout()
{
    ImgDispWPV d;
    ColorBar *bar = d.colorBar();
    QCOMPARE(bar->objectName(), QString("CBar"));
    QGridLayout *grid = d.gridLayout();
    QCOMPARE(grid->itemAtPosition(0, 1)->widget(), bar);
    QCOMPARE(grid->itemAtPosition(1, 0)->widget(), bar->uiBase());
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), bar->uiBase());
    QVERIFY(d.findChild<QFrame *>("PVFrame"));
}

void TestImgDispWPV::pointerReadOut()
{
    ImgDispWPV d;
    d.resize(500, 400);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    DispB *c = d.dispB();
    d.img = QImage(c->width(), c->height(), QImage::Format_RGB32); // one pixel per pixel
    d.img.fill(Qt::gray);
    d.newImage();
    QSignalSpy inv(&d, &ImgDispWPV::newPosInvY);
    move(c, QPoint(37, 12));
    QCOMPARE(inv.count(), 1);
    // Image rows count downward, and the read-out passes them on unchanged.
    QCOMPARE(inv.at(0).at(0).toDouble(), 37.0);
    QCOMPARE(inv.at(0).at(1).toDouble(), 12.0);
    QCOMPARE(d.findChild<QLineEdit *>("PosX")->text(), QString("37"));
    QCOMPARE(d.findChild<QLineEdit *>("PosY")->text(), QString("12"));

    d.noticedNewPos(1234567, -5);
    QCOMPARE(d.findChild<QLineEdit *>("PosX")->text(), QString("1.23457e+06"));
    QCOMPARE(d.findChild<QLineEdit *>("PosY")->text(), QString("-5"));
    QCOMPARE(inv.count(), 2);
    QCOMPARE(inv.at(1).at(0).toDouble(), 1234567.0);
}

void TestImgDispWPV::setVal_data()
{
    QTest::addColumn<double>("v");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << 0.5 << "0.5";
    QTest::newRow("large") << 12345678.0 << "1.23457e+07";
    QTest::newRow("negative small") << -0.0000123 << "-1.23e-05";
}

void TestImgDispWPV::setVal()
{
    QFETCH(double, v);
    QFETCH(QString, text);
    ImgDispWPV d;
    d.setVal(v);
    const auto *val = d.findChild<QLineEdit *>("Val");
    QCOMPARE(val->text(), text);
    QCOMPARE(val->cursorPosition(), 0);
    QCOMPARE(val->toolTip(), text);
}

void TestImgDispWPV::resetScaleButton()
{
    ImgDispWPV d;
    d.img = QImage(40, 30, QImage::Format_RGB32);
    d.newImage();
    d.s = QRectF(5, 5, 10, 10);
    QTest::mouseClick(d.findChild<QPushButton *>("ResetScale"), Qt::LeftButton);
    QCOMPARE(d.s, QRectF(0, 0, 40, 30));
}

void TestImgDispWPV::barChangesAreReEmitted()
{
    ImgDispWPV d;
    QSignalSpy spy(&d, &ImgDispWCBar::newBar);
    auto *le = d.findChild<QLineEdit *>("CMaxLE");
    QVERIFY(le);
    le->setText("5");
    emit le->editingFinished();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(d.colorBar()->vMax, 5.0);
}

void TestImgDispWPV::rawDisp()
{
    RawDisp r;
    QVERIFY(!r.imgData);
    QVERIFY(r.colorBar());
    QVERIFY(r.findChild<QFrame *>("PVFrame"));
}

QTEST_MAIN(TestImgDispWPV)
#include "tst_ImgDispWPV.moc"
