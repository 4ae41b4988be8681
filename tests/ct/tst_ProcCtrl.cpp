#include "CtParams.h"
#include "ProcCtrl.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

template <class W> W *child(ProcCtrl &p, const char *name)
{
    W *w = p.findChild<W *>(name);
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// What the user does: replace the text, then leave the field.
void type(ProcCtrl &p, const char *field, const QString &text)
{
    QLineEdit *e = child<QLineEdit>(p, field);
    e->setText(text);
    emit e->editingFinished();
}

// Every signal of the panel, counted.
struct AllSignals
{
    explicit AllSignals(ProcCtrl &p)
    {
        const QMetaObject *mo = p.metaObject();
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
            if (mo->method(i).methodType() == QMetaMethod::Signal)
                spies.emplace_back(std::make_unique<QSignalSpy>(&p, mo->method(i)));
        }
    }
    int total() const
    {
        int n = 0;
        for (const auto &s : spies)
            n += int(s->count());
        return n;
    }
    std::vector<std::unique_ptr<QSignalSpy>> spies;
};

} // namespace

class TestProcCtrl : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void sliceEdits_data();
    void sliceEdits();
    void corChanges();
    void rotationAxisSignalsOnlyChanges();
    void recordsAndCorLine();
    void textOnlySettersStayQuiet();
    void partialDataSetBox();
    void partialDataSetFromAnotherThread();
    void snapshot_data();
    void snapshot();
    void hardwareThreads_data();
    void hardwareThreads();
};

void TestProcCtrl::defaults()
{
    ProcCtrl p;
    const char *fields[][2] = { { "SliceNo", "1000" }, { "Cor", "1000" }, { "AngleOriginDeg", "0" },
        { "DataSetImages", "0" }, { "DataSetRangeDeg", "180" }, { "DataSetStartImageNo", "0" },
        { "DataSetUsingImages", "180" }, { "SliceFrom", "0" }, { "SliceTo", "2047" },
        { "SliceStep", "1" }, { "RecordedCoR1", "" }, { "RecordedCoR2", "" } };
    for (const auto &f : fields)
        QCOMPARE(child<QLineEdit>(p, f[0])->text(), QString(f[1]));
    QCOMPARE(p.slice(), 1000);
    QCOMPARE(p.cor(), 1000.0);
    QVERIFY(!p.rotAxIsV());
    QVERIFY(child<QRadioButton>(p, "RotAxH")->isChecked());
    QCOMPARE(p.recSlice1(), -1);
    QCOMPARE(p.recSlice2(), -1);
    QVERIFY(!child<QFrame>(p, "UsePartialDataSetParams")->isVisibleTo(&p));
}

void TestProcCtrl::sliceEdits_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("slice");
    QTest::addColumn<int>("emitted");
    QTest::newRow("same number") << "1000" << 1000 << 0;
    QTest::newRow("same number, blanks") << " 1000 " << 1000 << 0;
    QTest::newRow("new number") << "1200" << 1200 << 1;
    QTest::newRow("not a number reads 0") << "abc" << 0 << 1;
    QTest::newRow("too large reads 0") << "99999999999" << 0 << 1;
}

void TestProcCtrl::sliceEdits()
{
    QFETCH(QString, typed);
    QFETCH(int, slice);
    QFETCH(int, emitted);
    ProcCtrl p;
    QSignalSpy spy(&p, &ProcCtrl::sliceNoUpdated);
    type(p, "SliceNo", typed);
    QCOMPARE(spy.count(), emitted);
    QCOMPARE(p.slice(), slice);
    // Setting the value it already has is silent too.
    p.setSliceNo(slice);
    QCOMPARE(spy.count(), emitted);
    p.setSliceNo(slice + 1);
    QCOMPARE(spy.count(), emitted + 1);
    QCOMPARE(child<QLineEdit>(p, "SliceNo")->text(), QString::number(slice + 1));
}

void TestProcCtrl::corChanges()
{
    ProcCtrl p;
    QSignalSpy spy(&p, &ProcCtrl::corUpdated);
    p.setCor(1000);
    QCOMPARE(spy.count(), 0);
    p.setCor(1000.5);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(child<QLineEdit>(p, "Cor")->text(), QString("1000.5"));
    type(p, "Cor", "1000.50"); // same value, other text
    QCOMPARE(spy.count(), 1);
    type(p, "Cor", "1023.25");
    QCOMPARE(spy.count(), 2);
    QCOMPARE(p.cor(), 1023.25);
    p.setCor(1234.56789);
    QCOMPARE(child<QLineEdit>(p, "Cor")->text(), QString("1234.57"));
    QCOMPARE(p.cor(), 1234.56789);
}

void TestProcCtrl::rotationAxisSignalsOnlyChanges()
{
    ProcCtrl p;
    QSignalSpy spy(&p, &ProcCtrl::rotAxUpdated);
    auto *v = child<QRadioButton>(p, "RotAxV");
    v->click();
    v->click();
    QCOMPARE(spy.count(), 1);
    QVERIFY(p.rotAxIsV());
    QVERIFY(!child<QRadioButton>(p, "RotAxH")->isChecked());
    child<QRadioButton>(p, "RotAxH")->click();
    QCOMPARE(spy.count(), 2);
    QVERIFY(!p.rotAxIsV());
}

void TestProcCtrl::recordsAndCorLine()
{
    ProcCtrl p;
    auto *record = child<QPushButton>(p, "RecCoR");
    p.setSliceNo(500);
    p.setCor(1023.5);
    record->click();
    QCOMPARE(child<QLineEdit>(p, "RecordedCoR1")->text(), QString("1023.5 at 500"));
    QCOMPARE(child<QLineEdit>(p, "RecordedCoR2")->text(), QString());
    QCOMPARE(p.corAtSlice(2500), 1023.5); // one record: no line yet
    p.setSliceNo(1500);
    p.setCor(1025);
    record->click();
    QCOMPARE(child<QLineEdit>(p, "RecordedCoR1")->text(), QString("1025 at 1500"));
    QCOMPARE(child<QLineEdit>(p, "RecordedCoR2")->text(), QString("1023.5 at 500"));
    QCOMPARE(p.recSlice1(), 1500);
    QCOMPARE(p.recCor2(), 1023.5);

    p.setCor(900); // the line goes through the records, not through the current CoR
    QCOMPARE(p.corAtSlice(2500), 1026.5);
    QCOMPARE(p.corAtSlice(1000), 1024.25);
    QCOMPARE(p.corAtSlice(-500), 1022.0);

    child<QPushButton>(p, "ClearRecCoR")->click();
    QCOMPARE(child<QLineEdit>(p, "RecordedCoR1")->text(), QString());
    QCOMPARE(child<QLineEdit>(p, "RecordedCoR2")->text(), QString());
    QCOMPARE(p.recSlice1(), -1);
    QCOMPARE(p.recSlice2(), -1);
    QCOMPARE(p.corAtSlice(2500), 900.0);
}

void TestProcCtrl::textOnlySettersStayQuiet()
{
    ProcCtrl p;
    AllSignals all(p);
    p.setSliceFrom(10);
    p.setSliceTo(20);
    p.setSliceStep(-3);
    p.setAngleOriginDeg(12.3456789);
    p.setDataSetImages(1800);
    p.setDataSetRangeDeg(360);
    p.setDataSetUsingImages(900);
    p.setDataSetStartImageNo(450);
    QCOMPARE(all.total(), 0);
    QCOMPARE(child<QLineEdit>(p, "AngleOriginDeg")->text(), QString("12.3457"));
    QCOMPARE(p.sliceStep(), -3);
    QCOMPARE(p.dataSetImages(), 1800);
    QCOMPARE(p.dataSetRangeDeg(), 360.0);
    QCOMPARE(p.dataSetStartImageNo(), 450);
}

void TestProcCtrl::partialDataSetBox()
{
    ProcCtrl p;
    QSignalSpy spy(&p, &ProcCtrl::usePartialDataSetUpdated);
    // Listeners (the sinogram rebuilds at once) must already see the new settings.
    QList<bool> seen;
    connect(
        &p, &ProcCtrl::usePartialDataSetUpdated, this, [&] { seen << p.partialDataSet().enabled; });
    auto *frame = child<QFrame>(p, "UsePartialDataSetParams");
    p.setUsePartialDataSet(false); // unchanged: the box does not toggle
    QCOMPARE(spy.count(), 0);
    p.setUsePartialDataSet(true);
    QCOMPARE(spy.count(), 1);
    QVERIFY(frame->isVisibleTo(&p));
    QVERIFY(p.partialDataSet().enabled);
    child<QCheckBox>(p, "UsePartialDataSet")->click();
    QCOMPARE(spy.count(), 2);
    QVERIFY(!frame->isVisibleTo(&p));
    QCOMPARE(seen, QList<bool>({ true, false }));

    QSignalSpy using_(&p, &ProcCtrl::dataSetUsingImagesUpdated);
    QSignalSpy start(&p, &ProcCtrl::dataSetStartImageNoUpdated);
    type(p, "DataSetUsingImages", "360");
    type(p, "DataSetStartImageNo", "12");
    QCOMPARE(using_.count(), 1);
    QCOMPARE(start.count(), 1);
    const PartialDataSet typed = p.partialDataSet();
    QVERIFY(!typed.enabled);
    QCOMPARE(typed.usingImages, 360);
    QCOMPARE(typed.startImageNo, 12);
    p.setDataSetUsingImages(90); // text-only setters are followed as well
    p.setDataSetStartImageNo(-1);
    QCOMPARE(p.partialDataSet().usingImages, 90);
    QCOMPARE(p.partialDataSet().startImageNo, -1);
}

void TestProcCtrl::partialDataSetFromAnotherThread()
{
    ProcCtrl p;
    p.setDataSetStartImageNo(0);
    std::atomic<bool> stop { false };
    std::atomic<int> inconsistent { 0 };
    std::atomic<int> reads { 0 };
    // The GUI thread writes usingImages, then startImageNo, so every state the panel passes
    // through has usingImages - startImageNo of 100 or 101; a reader must never see another.
    p.setDataSetUsingImages(100);
    std::unique_ptr<QThread> reader(QThread::create([&] {
        while (!stop) {
            const PartialDataSet d = p.partialDataSet();
            const int gap = d.usingImages - d.startImageNo;
            if (gap != 100 && gap != 101)
                ++inconsistent;
            ++reads;
        }
    }));
    reader->start();
    for (int i = 1; i <= 2000; ++i) {
        p.setDataSetUsingImages(100 + i);
        p.setDataSetStartImageNo(i);
        p.setUsePartialDataSet(i % 2);
    }
    while (reads < 1000)
        QThread::yieldCurrentThread();
    stop = true;
    QVERIFY(reader->wait(10000));
    QCOMPARE(inconsistent.load(), 0);
    const PartialDataSet last = p.partialDataSet();
    QVERIFY(!last.enabled);
    QCOMPARE(last.startImageNo, 2000);
    QCOMPARE(last.usingImages, 2100);
}

void TestProcCtrl::snapshot_data()
{
    QTest::addColumn<bool>("partial");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("usingImages");
    QTest::addColumn<int>("startImageNo");
    QTest::addColumn<int>("sliceStep");
    QTest::newRow("whole set, upward") << false << 0 << 2047 << 5 << 1800 << 0 << 5;
    QTest::newRow("downward makes step negative") << false << 2047 << 0 << 5 << 1800 << 0 << -5;
    QTest::newRow("upward makes step positive") << false << 0 << 2047 << -5 << 1800 << 0 << 5;
    QTest::newRow("downward negative step") << false << 10 << 3 << -2 << 1800 << 0 << -2;
    QTest::newRow("partial") << true << 100 << 100 << 1 << 900 << 450 << 1;
}

void TestProcCtrl::snapshot()
{
    QFETCH(bool, partial);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(int, usingImages);
    QFETCH(int, startImageNo);
    QFETCH(int, sliceStep);
    ProcCtrl p;
    p.setHardwareThreads(8);
    p.setSliceNo(321);
    p.setCor(1011.5);
    child<QRadioButton>(p, "RotAxV")->click();
    p.setAngleOriginDeg(-90);
    p.setDataSetImages(1800);
    p.setDataSetRangeDeg(360);
    p.setUsePartialDataSet(partial);
    p.setDataSetUsingImages(900);
    p.setDataSetStartImageNo(450);
    child<QCheckBox>(p, "AutoExecCtCalc")->setChecked(true);
    p.setSliceFrom(from);
    p.setSliceTo(to);
    p.setSliceStep(step);
    child<QPushButton>(p, "RecCoR")->click();

    CtParams c;
    c.nextSlice = 77;
    c.upperLimit = 1; // replaced by the snapshot's defaults
    p.fillCtParams(c, false, true);
    QVERIFY(!c.calcCt1);
    QVERIFY(c.calcCt2);
    QVERIFY(c.rotAxIsV);
    QCOMPARE(c.slice, 321);
    QCOMPARE(c.cor, 1011.5);
    QCOMPARE(c.recSlice1, 321);
    QCOMPARE(c.recCor1, 1011.5);
    QCOMPARE(c.recSlice2, -1);
    QCOMPARE(c.angleOriginDeg, -90.0);
    QCOMPARE(c.dataSetImages, 1800);
    QCOMPARE(c.dataSetRangeDeg, 360.0);
    QCOMPARE(c.usePartialDataSet, partial);
    QCOMPARE(c.usingImages, usingImages);
    QCOMPARE(c.startImageNo, startImageNo);
    QVERIFY(c.sliceRange);
    QCOMPARE(c.sliceFrom, from);
    QCOMPARE(c.sliceTo, to);
    QCOMPARE(c.sliceStep, sliceStep);
    QCOMPARE(c.threads, 6);
    QCOMPARE(c.nextSlice, 77);
    QCOMPARE(c.upperLimit, 10.0);
    QCOMPARE(c.lowerLimit, -10.0);
    QCOMPARE(c.dataOffset, 10.0);
}

void TestProcCtrl::hardwareThreads_data()
{
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("value");
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("five") << 5 << 4;
    QTest::newRow("sixteen") << 16 << 12;
    QTest::newRow("sixty-four") << 64 << 51;
}

void TestProcCtrl::hardwareThreads()
{
    QFETCH(int, hardware);
    QFETCH(int, value);
    ProcCtrl p;
    p.setHardwareThreads(hardware);
    auto *spin = child<QSpinBox>(p, "Threads");
    QCOMPARE(spin->maximum(), hardware);
    QCOMPARE(spin->value(), value);
    QCOMPARE(p.threads(), value);
    QCOMPARE(child<QLabel>(p, "MaxThreads")->text(), QString("/%1").arg(hardware));
}

QTEST_MAIN(TestProcCtrl)
#include "tst_ProcCtrl.moc"
