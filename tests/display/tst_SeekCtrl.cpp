#include "SeekCtrl.h"

#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

class TestSeekCtrl : public QObject
{
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
    void sliderAndIndexFollowEachOther();
    void setMaximumClamps();
};

void TestSeekCtrl::steps_data()
{
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("end");
    QTest::newRow("inc in the middle") << 100 << 50 << true << 60;
    QTest::newRow("inc near the end") << 100 << 95 << true << 100;
    QTest::newRow("inc at the end") << 100 << 100 << true << 100;
    QTest::newRow("dec in the middle") << 100 << 50 << false << 40;
    QTest::newRow("dec from 11") << 100 << 11 << false << 1;
    QTest::newRow("dec from 10") << 100 << 10 << false << 0;
    QTest::newRow("dec from 7") << 100 << 7 << false << 0;
    QTest::newRow("dec at 0") << 100 << 0 << false << 0;
    QTest::newRow("inc small range") << 3 << 1 << true << 3;
}

void TestSeekCtrl::steps()
{
    QFETCH(int, max);
    QFETCH(int, start);
    QFETCH(bool, up);
    QFETCH(int, end);
    SeekCtrl s;
    s.setMaximum(max);
    s.setIndex(start);
    QCOMPARE(s.index(), start);
    QSignalSpy spy(&s, &SeekCtrl::newIndex);
    QTest::mouseClick(s.findChild<QToolButton *>(up ? "Inc" : "Dec"), Qt::LeftButton);
    QCOMPARE(s.index(), end);
    QCOMPARE(s.findChild<QSlider *>("Seek")->value(), end);
    if (end == start) {
        QCOMPARE(spy.count(), 0);
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), end);
    }
}

void TestSeekCtrl::sliderAndIndexFollowEachOther()
{
    SeekCtrl s;
    s.setMaximum(50);
    auto *slider = s.findChild<QSlider *>("Seek");
    auto *box = s.findChild<QSpinBox *>("Index");
    QSignalSpy spy(&s, &SeekCtrl::newIndex);

    slider->setValue(17);
    QCOMPARE(box->value(), 17);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 17);

    box->setValue(33);
    QCOMPARE(slider->value(), 33);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 33);

    box->setValue(33); // no change, no announcement
    QCOMPARE(spy.count(), 2);
}

void TestSeekCtrl::setMaximumClamps()
{
    SeekCtrl s;
    s.setMaximum(20);
    s.setIndex(15);
    QSignalSpy spy(&s, &SeekCtrl::newIndex);
    s.setMaximum(4);
    QCOMPARE(s.maximum(), 4);
    QCOMPARE(s.index(), 4);
    QCOMPARE(s.findChild<QSlider *>("Seek")->value(), 4);
    QCOMPARE(s.findChild<QSlider *>("Seek")->maximum(), 4);
    QCOMPARE(spy.count(), 1);
    s.setIndex(99);
    QCOMPARE(s.index(), 4);
    s.setMaximum(-3);
    QCOMPARE(s.maximum(), 0);
}

QTEST_MAIN(TestSeekCtrl)
#include "tst_SeekCtrl.moc"
