#include "CtRegion.h"
#include "ImgDispWPV.h"
#include "ui_CtCalc.h"

#include <QFrame>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// The region logic on the real form that every reconstruction view uses.
struct Form
{
    Form()
    {
        ui.setupUi(&frame);
        regions = std::make_unique<CtRegions>(CtRegionFields(ui.Drx0, ui.Drz0, ui.Drx1, ui.Drz1),
            CtRegionFields(ui.Crx0, ui.Crz0, ui.Crx1, ui.Crz1));
    }
    QFrame frame;
    Ui_CtCalc ui;
    std::unique_ptr<CtRegions> regions;
};

QStringList texts(const CtRegionFields &f)
{
    QStringList t;
    for (QLineEdit *e : f.edits())
        t << e->text();
    return t;
}

} // namespace

class tst_CtRegion : public QObject
{
    Q_OBJECT

private slots:
    void formHoldsTheNamedObjects();
    void construction();
    void numbersInFields_data();
    void numbersInFields();
    void setCRSetsRegionSetOnlyOnChange();
    void setCRegion_data();
    void setCRegion();
    void defaultCR();
};

void tst_CtRegion::formHoldsTheNamedObjects()
{
    Form f;
    QCOMPARE(f.frame.windowTitle(), QString("CT Calc"));
    QCOMPARE(f.ui.label_4->text(), QString("Disp R."));
    QCOMPARE(f.ui.label_7->text(), QString("Cacl R."));
    QCOMPARE(f.ui.SetCRegion->text(), QString("Set To C. Region"));
    QCOMPARE(f.ui.SpentT->text(), QString("0"));
    QCOMPARE(f.ui.ShowSliceNo->text(), QString("0"));
    QCOMPARE(f.ui.StartT->text(), QString());
    QCOMPARE(f.ui.CalcAtOnce->text(), QString("At Once"));
    QVERIFY(qobject_cast<ImgDispWPV *>(f.ui.DispCt) != nullptr);
    const QString yellow = "background-color: rgb(255, 255, 232);";
    const QString white = "background-color: rgb(255, 255, 255);";
    for (QLineEdit *e :
        { f.ui.Drx0, f.ui.Drz1, f.ui.StartT, f.ui.EndT, f.ui.SpentT, f.ui.ShowSliceNo })
        QCOMPARE(e->styleSheet(), yellow);
    for (QLineEdit *e : { f.ui.Crx0, f.ui.Crz0, f.ui.Crx1, f.ui.Crz1 })
        QCOMPARE(e->styleSheet(), white);
}

void tst_CtRegion::construction()
{
    Form f;
    QCOMPARE(texts(f.regions->crEdits()), QStringList({ "0", "0", "2047", "2047" }));
    QVERIFY(!f.regions->regionSet());
    QCOMPARE(f.regions->cr(), (CtRegion { 0, 0, 2047, 2047 }));
}

void tst_CtRegion::numbersInFields_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("readBack");
    QTest::newRow("integer") << 2047.0 << "2047" << 2047.0;
    QTest::newRow("fraction") << 10.4 << "10.4" << 10.4;
    QTest::newRow("seven digits rounded") << 1234.5678 << "1234.57" << 1234.57;
    QTest::newRow("large") << 12345678.0 << "1.23457e+07" << 12345700.0;
    QTest::newRow("negative") << -3.25 << "-3.25" << -3.25;
}

void tst_CtRegion::numbersInFields()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QFETCH(double, readBack);
    QCOMPARE(regionText(value), text);
    QCOMPARE(regionValue(text), readBack);
    QCOMPARE(regionValue("abc"), 0.0);
    QCOMPARE(regionValue(""), 0.0);
    QCOMPARE(regionValue("nan"), 0.0);
    QCOMPARE(regionValue("inf"), 0.0);
}

void tst_CtRegion::setCRSetsRegionSetOnlyOnChange()
{
    Form f;
    QVERIFY(!f.regions->setCR(CtRegion { 0, 0, 2047, 2047 }));
    QVERIFY(!f.regions->regionSet());
    QVERIFY(!f.regions->setCR(CtRegion { std::nan(""), 0, 1, 1 }));
    QVERIFY(!f.regions->regionSet());
    QVERIFY(f.regions->setCR(CtRegion { 5, 6, 7, 8 }));
    QVERIFY(f.regions->regionSet());
    QCOMPARE(texts(f.regions->crEdits()), QStringList({ "5", "6", "7", "8" }));
    QVERIFY(!f.regions->setCR(CtRegion { 5, 6, 7, 8 }));
    QVERIFY(f.regions->regionSet());
}

void tst_CtRegion::setCRegion_data()
{
    QTest::addColumn<CtRegion>("dr");
    QTest::addColumn<CtRegion>("cr");
    QTest::newRow("fractional") << CtRegion { 10.4, 20.6, 99.2, 100.0 }
                                << CtRegion { 10, 20, 100, 100 };
    QTest::newRow("whole") << CtRegion { 0, 0, 512, 512 } << CtRegion { 0, 0, 512, 512 };
    QTest::newRow("negative start")
        << CtRegion { -3.5, -0.2, 40.01, 7 } << CtRegion { -4, -1, 41, 7 };
}

void tst_CtRegion::setCRegion()
{
    QFETCH(CtRegion, dr);
    QFETCH(CtRegion, cr);
    Form f;
    f.regions->setDR(dr);
    CtRegion got;
    QVERIFY(f.regions->setCRegion(&got));
    QCOMPARE(got, cr);
    QCOMPARE(f.regions->cr(), cr);
    QVERIFY(f.regions->regionSet());
    // Pressing the button again changes nothing.
    QVERIFY(!f.regions->setCRegion(&got));
}

void tst_CtRegion::defaultCR()
{
    Form f;
    QCOMPARE(f.regions->calcRegion(512), (CtRegion { 0, 0, 512, 512 }));
    QVERIFY(f.regions->setDefaultCR(512));
    QCOMPARE(f.regions->cr(), (CtRegion { 0, 0, 512, 512 }));
    // Once a CR is in place, the next slice keeps it, whatever its width.
    QVERIFY(f.regions->regionSet());
    QVERIFY(!f.regions->setDefaultCR(1024));
    QCOMPARE(f.regions->calcRegion(1024), (CtRegion { 0, 0, 512, 512 }));

    Form g;
    QVERIFY(g.regions->setCR(CtRegion { 10, 10, 30, 30 }));
    QVERIFY(!g.regions->setDefaultCR(512));
    QCOMPARE(g.regions->cr(), (CtRegion { 10, 10, 30, 30 }));
}

QTEST_MAIN(tst_CtRegion)
#include "tst_CtRegion.moc"
