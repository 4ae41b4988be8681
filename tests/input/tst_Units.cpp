#include "Units.h"

#include <QTest>

#include <cmath>

// The unit table's conversions between energy, wavelength and monochromator angle.
class tst_Units : public QObject
{
    Q_OBJECT

private slots:
    void toEv_data();
    void toEv();
    void roundTrip_data();
    void roundTrip();
};

void tst_Units::toEv_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("ev");
    QTest::newRow("eV") << int(Units::EV) << 7112.0 << 7112.0;
    QTest::newRow("keV") << int(Units::KEV) << 8.98 << 8980.0;
    QTest::newRow("1 A") << int(Units::A) << 1.0 << 12398.424360387684;
    QTest::newRow("2 A") << int(Units::A) << 2.0 << 6199.212180193842;
    // Worked out by hand: hc / (2 d sin 14 deg), the file's value of pi.
    QTest::newRow("14 deg") << int(Units::DEG) << 14.0 << 8172.41409314261;
}

void tst_Units::toEv()
{
    QFETCH(int, unit);
    QFETCH(double, value);
    QFETCH(double, ev);
    QVERIFY2(std::abs(Units().toEv(value, Units::Unit(unit)) - ev) < 1e-8,
        qPrintable(QString::number(Units().toEv(value, Units::Unit(unit)), 'g', 17)));
}

void tst_Units::roundTrip_data()
{
    QTest::addColumn<int>("unit");
    QTest::newRow("keV") << int(Units::KEV);
    QTest::newRow("A") << int(Units::A);
    QTest::newRow("deg") << int(Units::DEG);
}

void tst_Units::roundTrip()
{
    QFETCH(int, unit);
    const Units u(3.13553);
    for (double e : { 4000.0, 7112.0, 25000.0 }) {
        const double v = u.fromEv(e, Units::Unit(unit));
        QVERIFY(std::abs(u.toEv(v, Units::Unit(unit)) - e) < 1e-6);
    }
}

QTEST_APPLESS_MAIN(tst_Units)
#include "tst_Units.moc"
