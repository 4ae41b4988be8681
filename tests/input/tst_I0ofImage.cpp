#include "Failures.h"
#include "I0ofImage.h"
#include "InputTestUtil.h"
#include "SelectAFile.h"
#include "XafsTestUtil.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

// The I0 settings panel: its initial state, the XAFS file that is read on selection and
// cleared on request, and the I0 it gives for an image file.
class tst_I0ofImage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void newPanel();
    void xafsFileAndClear();
    void unreadableXafsFile();
    void i0ForImage_data();
    void i0ForImage();

private:
    QTemporaryDir dir;
    QString scan; // I0 100 at 8172.41 eV (14 deg), 300 at 8788.96 eV (13 deg)
};

void tst_I0ofImage::initTestCase()
{
    QVERIFY(dir.isValid());
    scan = dir.filePath("fe.dat");
    // A scan goes up in energy, so down in angle.
    QVERIFY(writeXafsFile(scan, "Mode 0 0 0 1", { "14 14 2 5 200", "13 13 1 5 300" }));
}

void tst_I0ofImage::newPanel()
{
    I0ofImage p;
    QCOMPARE(p.windowTitle(), QString("I0 of Image"));
    QCOMPARE(p.findChild<QLabel *>("Title")->text(), QString("I0 of Image"));
    QCOMPARE(p.findChild<QLineEdit *>("I0Val")->text(), QString("1.0"));
    QCOMPARE(p.i0Val(), 1.0);
    auto *calc = p.findChild<QCheckBox *>("CalcFromXAFS");
    QCOMPARE(calc->text(), QString("Calc from XAFS file"));
    QVERIFY(calc->isChecked());
    QCOMPARE(p.xafsFile(), QString());
    QCOMPARE(p.xafsFileSelector()->mode, 0);
    QCOMPARE(p.xafsFileSelector()->frameShape(), QFrame::NoFrame);
    QCOMPARE(p.engPattern(), QString("####_####"));
    QCOMPARE(p.findChild<QLabel *>("label")->text(), QString("Eng. Ptn in Img F. Name :"));
}

void tst_I0ofImage::xafsFileAndClear()
{
    I0ofImage p;
    p.setI0Val(7);
    p.setCalcFromXafs(false);
    p.setEngPattern("####");
    p.setXafsFile(scan);
    QCOMPARE(p.xafsFile(), scan);
    QCOMPARE(p.xafsFileSelector()->name(), QString("fe"));
    QCOMPARE(p.table.count(), 2);

    p.clearXafsFile();
    QCOMPARE(p.xafsFile(), QString());
    QCOMPARE(p.xafsFileSelector()->name(), QString());
    QCOMPARE(p.table.count(), 0);
    // The other settings stay as they were.
    QCOMPARE(p.i0Val(), 7.0);
    QVERIFY(!p.calcFromXafs());
    QCOMPARE(p.engPattern(), QString("####"));
}

void tst_I0ofImage::unreadableXafsFile()
{
    I0ofImage p;
    p.setXafsFile(scan);
    QCOMPARE(p.table.count(), 2);
    const QString missing = dir.filePath("missing.dat");
    LogCapture cap;
    Failures::instance().reset();
    p.setXafsFile(missing);
    QCOMPARE(cap.lines.first(), "Can't open : " + missing);
    // Counted: a run would otherwise go on without the I0 correction asked for.
    QCOMPARE(Failures::instance().count(Failures::Load), 1);
    QVERIFY(Failures::instance().last().contains(missing));
    // No points of the previous file are used under the new name.
    QCOMPARE(p.table.count(), 0);
    QCOMPARE(p.xafsFileSelector()->findChild<QLineEdit *>("FilePath")->styleSheet(),
        QString("background-color: rgb(255, 192, 192);"));
    QCOMPARE(p.i0ForImage("Fe-8480_0000-001.img"), 1.0);
}

void tst_I0ofImage::i0ForImage_data()
{
    QTest::addColumn<bool>("calc");
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<QString>("image");
    QTest::addColumn<double>("i0");
    // Counted when the scan's I0 is asked for and cannot be had.
    QTest::addColumn<int>("failures");
    // Between the two scan points: 100 + (8480 - 8172.414) * 200 / (8788.960 - 8172.414).
    const double mid
        = 100.0 + (8480.0 - 8172.41409314261) * 200.0 / (8788.960402099028 - 8172.41409314261);
    QTest::newRow("from scan") << true << true << "/d/Fe-8480_0000-001.img" << mid << 0;
    QTest::newRow("fixed value asked") << false << true << "/d/Fe-8480_0000-001.img" << 2.0 << 0;
    QTest::newRow("no scan file") << true << false << "/d/Fe-8480_0000-001.img" << 2.0 << 0;
    QTest::newRow("no energy in name") << true << true << "/d/Fe-001.img" << 2.0 << 1;
    QTest::newRow("energy in the folder") << true << true << "/d/8480_0000/Fe-001.img" << mid << 0;
}

void tst_I0ofImage::i0ForImage()
{
    QFETCH(bool, calc);
    QFETCH(bool, withFile);
    QFETCH(QString, image);
    QFETCH(double, i0);
    QFETCH(int, failures);
    I0ofImage p;
    p.setI0Val(2.0);
    p.setCalcFromXafs(calc);
    if (withFile)
        p.setXafsFile(scan);
    Failures::instance().reset();
    QVERIFY(std::abs(p.i0ForImage(image) - i0) < 1e-9);
    QCOMPARE(Failures::instance().count(), failures);
    if (failures > 0)
        QVERIFY2(
            Failures::instance().last().contains(image), qPrintable(Failures::instance().last()));
}

QTEST_MAIN(tst_I0ofImage)
#include "tst_I0ofImage.moc"
