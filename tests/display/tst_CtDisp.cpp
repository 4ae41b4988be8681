#include "CtDisp.h"
#include "ImgDisp.h"
#include "SeekCtrl.h"

#include <QLabel>
#include <QSpinBox>
#include <QtTest>

namespace {

// A picture whose colour tells which slice it is.
QImage slice(int no, int w = 16, int h = 8)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(no, 255 - no, 7));
    return img;
}

int shownNo(const CtDisp &c)
{
    return qRed(c.display()->img.pixel(0, 0));
}

} // namespace

class TestCtDisp : public QObject
{
    Q_OBJECT
private slots:
    void ordering_data();
    void ordering();
    void equalNumbersKeepArrivalOrder();
    void firstImageIsShown();
    void seekingShowsEntries();
    void clearAndRefill();
};

void TestCtDisp::ordering_data()
{
    QTest::addColumn<QList<int>>("arrivals");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("5 3 4") << QList<int> { 5, 3, 4 } << QList<int> { 3, 4, 5 };
    QTest::newRow("ascending") << QList<int> { 1, 2, 3 } << QList<int> { 1, 2, 3 };
    QTest::newRow("descending") << QList<int> { 9, 7, 5, 1 } << QList<int> { 1, 5, 7, 9 };
    QTest::newRow("mixed") << QList<int> { 40, 10, 30, 20, 50, 0 }
                           << QList<int> { 0, 10, 20, 30, 40, 50 };
    QTest::newRow("negative") << QList<int> { 2, -1 } << QList<int> { -1, 2 };
}

void TestCtDisp::ordering()
{
    QFETCH(QList<int>, arrivals);
    QFETCH(QList<int>, order);
    CtDisp c;
    for (int no : arrivals) {
        QImage img = slice(no + 10);
        c.addImg(no, img);
    }
    QCOMPARE(c.count(), order.size());
    QCOMPARE(c.sliceNumbers(), order);
    const int last = int(order.size()) - 1;
    QCOMPARE(c.seeker()->index(), last);
    QCOMPARE(c.seeker()->maximum(), last);
    QCOMPARE(c.findChild<QSpinBox *>("Index")->value(), last);
    // The entry at the index is the highest slice number.
    QCOMPARE(shownNo(c), order.last() + 10);

    const QList<QImage> imgs = c.getQImages();
    QCOMPARE(imgs.size(), order.size());
    for (qsizetype i = 0; i < order.size(); ++i) {
        QCOMPARE(qRed(imgs.at(i).pixel(0, 0)), order.at(i) + 10);
        QCOMPARE(c.sliceNo(int(i)), order.at(i));
    }
}

void TestCtDisp::equalNumbersKeepArrivalOrder()
{
    CtDisp c;
    const int colours[] = { 100, 101, 102 };
    c.addImg(7, slice(colours[0]));
    c.addImg(3, slice(50));
    c.addImg(7, slice(colours[1]));
    c.addImg(7, slice(colours[2]));
    QCOMPARE(c.sliceNumbers(), (QList<int> { 3, 7, 7, 7 }));
    const QList<QImage> imgs = c.getQImages();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(qRed(imgs.at(i + 1).pixel(0, 0)), colours[i]);
}

void TestCtDisp::firstImageIsShown()
{
    CtDisp c;
    c.addImg(12, slice(12, 30, 20));
    QCOMPARE(c.seeker()->index(), 0);
    QCOMPARE(c.display()->img.size(), QSize(30, 20));
    QCOMPARE(shownNo(c), 12);
    QVERIFY(c.display()->scaleSet);
}

void TestCtDisp::seekingShowsEntries()
{
    CtDisp c;
    for (int no : { 30, 10, 20 })
        c.addImg(no, slice(no));
    auto *label = c.findChild<QLabel *>("sliceNo_");
    QCOMPARE(label->text(), QString("Slice 30"));
    c.seeker()->setIndex(0);
    QCOMPARE(shownNo(c), 10);
    // The seek box holds the index; the slice number stands beside it.
    QCOMPARE(label->text(), QString("Slice 10"));
    c.seeker()->inc();
    QCOMPARE(shownNo(c), 30);
    QCOMPARE(label->text(), QString("Slice 30"));
}

void TestCtDisp::clearAndRefill()
{
    CtDisp c;
    for (int no : { 3, 1, 2 })
        c.addImg(no, slice(no));
    c.clear();
    QCOMPARE(c.count(), 0);
    QVERIFY(c.getQImages().isEmpty());
    c.addImg(9, slice(9));
    QCOMPARE(c.count(), 1);
    QCOMPARE(c.seeker()->index(), 0);
    QCOMPARE(shownNo(c), 9);
}

QTEST_MAIN(TestCtDisp)
#include "tst_CtDisp.moc"
