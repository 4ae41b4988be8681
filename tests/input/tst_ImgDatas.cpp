#include "ColorBar.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ImgPicture.h"
#include "InputTestUtil.h"
#include "ItexWriter.h"

#include <QImage>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

// The projection set: size agreement between its images, what clearing keeps, rendering of
// one projection, and the messages of refused files.
class tst_ImgDatas : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sizeMismatch();
    void clearImgsKeepsSize_data();
    void clearImgsKeepsSize();
    void sameFileThreeTimes();
    void toImageIndex_data();
    void toImageIndex();
    void refusedFiles_data();
    void refusedFiles();

private:
    QString image(int w, int h, quint16 base);
    QTemporaryDir dir;
    QString a43, b43, c52;
};

QString tst_ImgDatas::image(int w, int h, quint16 base)
{
    std::vector<quint16> px(size_t(w) * h);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = quint16(base + i * 100);
    const QString file = dir.filePath(QString("img-%1x%2-%3.img").arg(w).arg(h).arg(base));
    return writeItexFile(file, w, h, 2, px.data()) ? file : QString();
}

void tst_ImgDatas::initTestCase()
{
    a43 = image(4, 3, 10);
    b43 = image(4, 3, 20);
    c52 = image(5, 2, 30);
    QVERIFY(!a43.isEmpty() && !b43.isEmpty() && !c52.isEmpty());
}

void tst_ImgDatas::sizeMismatch()
{
    ImgDatas set;
    QVERIFY(set.add(a43));
    QCOMPARE(set.width, 4);
    QCOMPARE(set.height, 3);
    LogCapture cap;
    QVERIFY(!set.add(c52));
    QCOMPARE(cap.lines, QStringList { "Mismatch image size: (4, 3) != (5, 2) : " + c52 });
    QCOMPARE(set.count(), 1);
    QCOMPARE(set.at(0)->fileName, a43);
    QCOMPARE(set.width, 4);
    QVERIFY(set.add(b43));
    QCOMPARE(set.count(), 2);
    QCOMPARE(set.at(1)->fileName, b43);
}

void tst_ImgDatas::clearImgsKeepsSize_data()
{
    QTest::addColumn<bool>("full"); // clear() rather than clearImgs()
    QTest::newRow("clearImgs") << false;
    QTest::newRow("clear") << true;
}

void tst_ImgDatas::clearImgsKeepsSize()
{
    QFETCH(bool, full);
    ImgDatas set;
    QVERIFY(set.add(a43));
    QVERIFY(set.add(b43));
    if (full)
        set.clear();
    else
        set.clearImgs();
    QCOMPARE(set.count(), 0);
    QCOMPARE(set.width, full ? 0 : 4);
    QCOMPARE(set.height, full ? 0 : 3);

    LogCapture cap;
    QCOMPARE(set.add(c52), full);
    QCOMPARE(set.add(a43), !full);
    QCOMPARE(set.count(), 1);
    QCOMPARE(set.width, full ? 5 : 4);
    QCOMPARE(cap.lines.size(), 1); // the refused file's mismatch, nothing else
    QVERIFY(cap.lines.first().startsWith("Mismatch image size: "));
}

void tst_ImgDatas::sameFileThreeTimes()
{
    ImgDatas set;
    for (int i = 0; i < 3; ++i)
        QVERIFY(set.add(a43));
    QCOMPARE(set.count(), 3);
    QSet<ImgData *> distinct { set.at(0), set.at(1), set.at(2) };
    QCOMPARE(distinct.size(), 3);
    std::vector<double> row(4);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(set.at(i)->ready);
        set.at(i)->hLine(2, row.data());
        QCOMPARE(row[3], double(10 + 11 * 100));
    }
    QVERIFY(!set.at(3));
    QVERIFY(!set.at(-1));
}

void tst_ImgDatas::toImageIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("done");
    QTest::newRow("-1") << -1 << false;
    QTest::newRow("first") << 0 << true;
    QTest::newRow("last") << 1 << true;
    QTest::newRow("count") << 2 << false;
}

void tst_ImgDatas::toImageIndex()
{
    QFETCH(int, index);
    QFETCH(bool, done);
    ImgDatas set;
    QVERIFY(set.add(a43));
    QVERIFY(set.add(b43));
    ColorBar bar;
    QSignalSpy spy(&set, &ImgDatas::imageUpdated);
    QImage img(1, 1, QImage::Format_RGB32);
    QCOMPARE(toImage(set, index, img, &bar), done);
    QCOMPARE(spy.count(), done ? 1 : 0);
    QCOMPARE(img.size(), done ? QSize(4, 3) : QSize(1, 1));
    if (done) {
        // The bar follows the rendered image's own range: 10 or 20 up to +1100.
        const double base = index == 0 ? 10 : 20;
        QCOMPARE(bar.vMin, base);
        QCOMPARE(bar.vMax, base + 1100);
        QCOMPARE(int(img.constScanLine(2)[3]), 255);
        QCOMPARE(int(img.constScanLine(0)[0]), 0);
    }
}

void tst_ImgDatas::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("reason");

    QByteArray cut = QByteArray("IM\x25\0", 4) + QByteArray(60, '\0')
        + QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=3,") + QByteArray("BytesPerPixel=2,");
    cut[2] = char(cut.size() - 64);
    cut += QByteArray(23, '\1');

    QTest::newRow("unknown type") << QByteArray("GIF89a")
                                  << QStringList { "Unknown file type : %1" }
                                  << "unknown file type";
    QTest::newRow("vanished") << QByteArray()
                              << QStringList { "Check File Type (ITEX):: Can not open %1",
                                     "Check File Type (TIFF):: Can not open %1",
                                     "Unknown file type : %1" }
                              << "file not found";
    QTest::newRow("ITEX without size")
        << QByteArray("IM\x05\0", 4) + QByteArray(60, '\0') + QByteArray("abcd,")
        << QStringList { "File is not ready to access %1" } << "no image size in the header";
    QTest::newRow("ITEX with zero comment length")
        << QByteArray("IM\0\0", 4) + QByteArray(60, '\0') + QByteArray(24, '\1')
        << QStringList { "File is not ready to access %1" } << "header without comment";
    QTest::newRow("ITEX pixel block cut short")
        << cut
        << QStringList { "ITEX pixel block is shorter than the image size. %1",
               "File is not ready to access %1" }
        << "pixel block shorter than the image size";
    QTest::newRow("other size") << QByteArray("c52") << QStringList()
                                << "image size 5 x 2, the set's 4 x 3";
}

void tst_ImgDatas::refusedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, log);
    QFETCH(QString, reason);
    QString file = dir.filePath("refused.bin");
    QFile::remove(file);
    if (content == "c52")
        file = c52;
    else if (!content.isEmpty())
        QVERIFY(writeBytes(file, content));
    ImgDatas set;
    QVERIFY(set.add(a43));
    LogCapture cap;
    QVERIFY(!set.add(file));
    QVERIFY(set.add(b43));
    if (content == "c52")
        log = QStringList { "Mismatch image size: (4, 3) != (5, 2) : %1" };
    for (QString &l : log)
        l = l.arg(file);
    QCOMPARE(cap.lines, log);
    QCOMPARE(set.count(), 2);
    // The set knows it lacks a listed file, and says which and why.
    QVERIFY(!set.isComplete());
    QCOMPARE(set.listedCount(), 3);
    QCOMPARE(set.incompleteText(),
        QString("The image set is incomplete: 1 of 3 files could not be read (%1: %2)")
            .arg(QFileInfo(file).fileName(), reason));
    set.clearImgs();
    QVERIFY(set.isComplete());
    QCOMPARE(set.incompleteText(), QString());
}

QTEST_MAIN(tst_ImgDatas)
#include "tst_ImgDatas.moc"
