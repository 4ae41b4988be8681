#include "ColorBar.h"
#include "DispB.h"
#include "DisplayTestUtil.h"
#include "ImgDispWPV.h"
#include "ProfilePanel.h"
#include "RawDisp.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    void profileLine_data();
    void profileLine();
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

void TestImgDispWPV::profileLine_data()
{
    QTest::addColumn<bool>("sampler");
    QTest::addColumn<int>("mods");
    QTest::addColumn<bool>("plotted");
    QTest::addColumn<bool>("panned");
    QTest::newRow("Ctrl drag draws the line") << true << int(Qt::ControlModifier) << true << false;
    QTest::newRow("plain drag still pans") << true << int(Qt::NoModifier) << false << true;
    QTest::newRow("nothing to plot: no line")
        << false << int(Qt::ControlModifier) << false << false;
}

void TestImgDispWPV::profileLine()
{
    QFETCH(bool, sampler);
    QFETCH(int, mods);
    QFETCH(bool, plotted);
    QFETCH(bool, panned);
    ImgDispWPV d;
    d.resize(500, 400);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    DispB *c = d.dispB();
    const int w = c->width();
    const int h = c->height();
    // One image pixel per screen pixel; the value of pixel (i, j) is k i.
    double k = 1;
    std::vector<double> values(size_t(w) * size_t(h));
    auto fill = [&] {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                values[size_t(j) * size_t(w) + size_t(i)] = k * i;
    };
    fill();
    if (sampler)
        d.setProfileSampler([&](QPointF a, QPointF b) {
            return LineProfile::sample(w, h, values.data(), a, b);
        });
    d.img = QImage(w, h, QImage::Format_RGB32);
    d.img.fill(Qt::gray);
    d.newImage();
    const QRectF s0 = d.s;
    ProfilePanel *panel = d.profilePanel();
    QVERIFY(panel->isHidden());

    drag(c, { QPoint(10, 20), QPoint(25, 20), QPoint(40, 20) }, Qt::LeftButton,
        Qt::KeyboardModifiers(mods));
    QCOMPARE(d.s != s0, panned);
    QCOMPARE(!panel->isHidden(), plotted);
    QCOMPARE(d.profileValid, plotted);
    if (!plotted)
        return;
    // From x = 10 to 40 along one row: 31 points a pixel apart, values read at x - 0.5.
    auto check = [&](double scale) {
        const auto &p = panel->points();
        QCOMPARE(p.size(), size_t(31));
        for (size_t i = 0; i < p.size(); ++i) {
            QVERIFY(std::abs(p[i].distance - double(i)) < 1e-9);
            QVERIFY(std::abs(p[i].value - scale * (9.5 + double(i))) < 1e-9);
        }
    };
    check(1);
    // A new picture (new values behind it) is sampled again along the same line.
    k = 2;
    fill();
    d.newImage();
    check(2);

    QTemporaryDir dir;
    const QString path = dir.filePath("p.csv");
    QVERIFY(panel->exportCsv(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("distance (px),value"));
    QCOMPARE(lines.at(1), QByteArray("0,19"));
    QCOMPARE(lines.at(31), QByteArray("30,79"));

    // Ctrl right click removes the line and the plot.
    press(c, QPoint(100, 100), Qt::RightButton, Qt::ControlModifier);
    release(c, QPoint(100, 100), Qt::RightButton, Qt::ControlModifier);
    QVERIFY(panel->isHidden());
    QVERIFY(!d.profileValid);
}

QTEST_MAIN(TestImgDispWPV)
#include "tst_ImgDispWPV.moc"
