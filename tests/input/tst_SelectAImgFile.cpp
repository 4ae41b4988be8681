#include "ColorBar.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ImgDispWPV.h"
#include "InputTestUtil.h"
#include "ItexWriter.h"
#include "SelectAImgFile.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

// The I0/BG image selector: loading on selection, keeping the old image when a new one
// fails, the pointer read-out, clearing and the exposure-time field.
class tst_SelectAImgFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loadsAndReplaces();
    void severalFilesAreAveraged();
    void failureKeepsOldImage_data();
    void failureKeepsOldImage();
    void readOut_data();
    void readOut();
    void clearRestoresDefaults();
    void setExpTime_data();
    void setExpTime();

private:
    QString image(const QString &name, int w, int h, quint16 base);
    static QString style(SelectAImgFile &s)
    {
        return s.findChild<QLineEdit *>("FilePath")->styleSheet();
    }
    QTemporaryDir dir;
    QString a32, b45;
};

static const QString Green = "background-color: rgb(211, 255, 241);";
static const QString Red = "background-color: rgb(255, 192, 192);";

QString tst_SelectAImgFile::image(const QString &name, int w, int h, quint16 base)
{
    // Pixel (x, y) holds base + 10 y + x.
    std::vector<quint16> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[size_t(y) * w + x] = quint16(base + 10 * y + x);
    const QString f = dir.filePath(name);
    return writeItexFile(f, w, h, 2, px.data(), 0.25) ? f : QString();
}

void tst_SelectAImgFile::initTestCase()
{
    a32 = image("i0-a.img", 3, 2, 100);
    b45 = image("i0-b.img", 4, 5, 500);
    QVERIFY(!a32.isEmpty() && !b45.isEmpty());
}

void tst_SelectAImgFile::loadsAndReplaces()
{
    SelectAImgFile s;
    ImgDatas set;
    set.i0 = s.imgSlot();
    QVERIFY(*set.i0 == nullptr);

    s.fileSelected0(a32);
    QVERIFY(s.img);
    QVERIFY(s.img->ready);
    QCOMPARE(s.img->fileName, a32);
    QCOMPARE(style(s), Green);
    QCOMPARE(s.view()->img.size(), QSize(3, 2));
    QVERIFY(s.view()->isVisible());
    // The picture went through the view's colour bar, which took the image's range.
    QCOMPARE(s.view()->colorBar()->vMin, 100.0);
    QCOMPARE(s.view()->colorBar()->vMax, 112.0);
    QCOMPARE(*set.i0, s.img); // the image set sees the current reader

    s.fileSelected0(b45);
    QCOMPARE(s.img->fileName, b45);
    QCOMPARE(*set.i0, s.img);
    QCOMPARE(s.view()->img.size(), QSize(4, 5));
}

void tst_SelectAImgFile::severalFilesAreAveraged()
{
    // Flats taken twice, chosen together in the dialog: one image, their average.
    const QString c32 = image("i0-c.img", 3, 2, 104);
    SelectAImgFile s;
    emit s.fileDialog()->filesSelected({ a32, c32 });
    QVERIFY(s.img);
    QVERIFY(s.img->ready);
    QCOMPARE(s.img->fileName, a32 + "|" + c32);
    std::vector<double> row(3);
    s.img->hLine(1, row.data());
    QCOMPARE(row, (std::vector<double> { 112.0, 113.0, 114.0 }));
    QCOMPARE(style(s), Green);
}

void tst_SelectAImgFile::failureKeepsOldImage_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("unknown type") << QByteArray("not an image");
    QTest::newRow("ITEX without size") << QByteArray("IM");
}

void tst_SelectAImgFile::failureKeepsOldImage()
{
    QFETCH(QByteArray, content);
    const QString bad = dir.filePath("bad.img");
    QFile::remove(bad);
    if (!content.isEmpty())
        QVERIFY(writeBytes(bad, content));
    SelectAImgFile s;
    s.fileSelected0(a32);
    ImgData *const before = s.img;
    {
        LogCapture cap; // the reader's own messages only
        s.fileSelected0(bad);
    }
    QCOMPARE(s.img, before);
    QCOMPARE(s.img->fileName, a32);
    QVERIFY(s.img->ready);
    QCOMPARE(style(s), Red);
    QCOMPARE(s.filePath(), bad);

    // A failure without any earlier image leaves none.
    SelectAImgFile t;
    {
        LogCapture cap;
        t.fileSelected0(bad);
    }
    QVERIFY(t.img == nullptr);
    QCOMPARE(style(t), Red);
}

void tst_SelectAImgFile::readOut_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QString>("val");
    QTest::newRow("origin") << true << 0.0 << 0.0 << "500";
    QTest::newRow("inside") << true << 3.0 << 4.0 << "543";
    QTest::newRow("fraction truncated") << true << 2.9 << 1.7 << "512";
    QTest::newRow("right of image") << true << 4.0 << 0.0 << "0";
    QTest::newRow("below image") << true << 0.0 << 5.0 << "0";
    QTest::newRow("left of image") << true << -1.0 << 0.0 << "0";
    QTest::newRow("no image") << false << 1.0 << 1.0 << "0";
}

void tst_SelectAImgFile::readOut()
{
    QFETCH(bool, loaded);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QString, val);
    SelectAImgFile s;
    if (loaded)
        s.fileSelected0(b45);
    QLineEdit *v = s.view()->findChild<QLineEdit *>("Val");
    QVERIFY(v);
    v->setText("stale");
    // The view announces the pointer as it moves; the selector answers with the value.
    emit s.view()->newPosInvY(x, y);
    QCOMPARE(v->text(), val);
}

void tst_SelectAImgFile::clearRestoresDefaults()
{
    SelectAImgFile s;
    auto *expField = s.findChild<QLineEdit *>("ExpTimeLE");
    QCOMPARE(expField->text(), QString("0.05"));
    QCOMPARE(s.defaultExpTime, 0.05);
    s.fileSelected0(a32);
    s.setExpTime(2.5);
    QCOMPARE(s.expTime(), 2.5);
    ImgDatas set;
    set.bg = s.imgSlot();
    s.findChild<QPushButton *>("Clear")->click();
    QVERIFY(s.img == nullptr);
    QVERIFY(*set.bg == nullptr);
    QCOMPARE(expField->text(), QString("0.05"));
    QCOMPARE(s.filePath(), QString());
    QVERIFY(s.view()->img.isNull());
    // Loading again after a clear works as the first time.
    s.fileSelected0(b45);
    QVERIFY(s.img && s.img->ready);
}

void tst_SelectAImgFile::setExpTime_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << 0.5 << "0.5";
    QTest::newRow("six digits") << 1.23456789 << "1.23457";
    QTest::newRow("small") << 1e-7 << "1e-07";
    QTest::newRow("integer") << 3.0 << "3";
}

void tst_SelectAImgFile::setExpTime()
{
    QFETCH(double, time);
    QFETCH(QString, text);
    SelectAImgFile s;
    s.setExpTime(time);
    QCOMPARE(s.findChild<QLineEdit *>("ExpTimeLE")->text(), text);
}

QTEST_MAIN(tst_SelectAImgFile)
#include "tst_SelectAImgFile.moc"
