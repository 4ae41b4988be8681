#include "InputTestUtil.h"
#include "XafsI0Table.h"
#include "XafsTestUtil.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>

// Reading the I0 column of an XAFS scan file and I0 at any energy from it.
class tst_XafsI0Table : public QObject
{
    Q_OBJECT

private slots:
    void readsPoints();
    void skippedLines_data();
    void skippedLines();
    void i0Column_data();
    void i0Column();
    void unreadableFileKeepsTable_data();
    void unreadableFileKeepsTable();
    void downwardScanIsSorted();
    void i0At_data();
    void i0At();
    void energyFromName_data();
    void energyFromName();

private:
    QTemporaryDir dir;
};

// Energies worked out by hand (Bragg's law with d = 3.13553 A and the file's pi).
static constexpr double E14 = 8172.41409314261;
static constexpr double E13 = 8788.960402099028;

void tst_XafsI0Table::readsPoints()
{
    const QString f = dir.filePath("scan.dat");
    // Column 4 is I0 (Mode 1); columns 3 and 5 are other detectors.
    QVERIFY(writeXafsFile(f, "Mode   0   0   0   1   2",
        { " 14.0001  14.0000   2.0   777   5000   9", "  13.0001  13.0000\t0.5  888  2000  9" }));
    XafsI0Table t;
    QVERIFY(t.readXafs(f));
    QCOMPARE(t.i0Column, 4);
    QCOMPARE(t.count(), 2);
    QVERIFY(t.valid());
    QVERIFY(std::abs(t.energies[0] - E14) < 1e-8);
    QVERIFY(std::abs(t.energies[1] - E13) < 1e-8);
    QCOMPARE(t.i0Values[0], 2500.0);
    QCOMPARE(t.i0Values[1], 4000.0);

    // A second file replaces the points of the first.
    const QString g = dir.filePath("scan2.dat");
    QVERIFY(writeXafsFile(g, "Mode 0 0 1", { "14 14 1 10 20 30" }));
    QVERIFY(t.readXafs(g));
    QCOMPARE(t.count(), 1);
    QVERIFY(!t.valid());
    QCOMPARE(t.i0Values[0], 10.0); // column 3 this time
}

void tst_XafsI0Table::skippedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("too few items") << "14 14 2 5";
    QTest::newRow("angle not a number") << "14 x 2 5 100";
    QTest::newRow("counts not a number") << "14 14 2 5 lots";
    QTest::newRow("zero counting time") << "14 14 0 5 100";
    QTest::newRow("zero angle") << "0 0 2 5 100";
    QTest::newRow("blank line") << "   ";
}

void tst_XafsI0Table::skippedLines()
{
    QFETCH(QString, line);
    const QString f = dir.filePath("skip.dat");
    QVERIFY(writeXafsFile(f, "Mode 0 0 0 1", { "13 13 1 5 100", line, "14 14 2 5 100" }));
    XafsI0Table t;
    QVERIFY(t.readXafs(f));
    QCOMPARE(t.count(), 2);
    // In order of energy: 14 degrees first.
    QCOMPARE(t.i0Values[0], 50.0);
    QCOMPARE(t.i0Values[1], 100.0);
    for (double e : t.energies)
        QVERIFY(std::isfinite(e));
}

void tst_XafsI0Table::i0Column_data()
{
    QTest::addColumn<QString>("modeLine");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("points");
    QTest::newRow("last of two wins") << "Mode 0 0 1 1 0" << 4 << 1;
    QTest::newRow("column 2 gives no data") << "Mode 0 1 0 0" << 2 << 0;
    QTest::newRow("column beyond the data") << "Mode 0 0 0 0 0 0 1" << 7 << 0;
    QTest::newRow("no I0 column") << "Mode 0 0 2 3" << -1 << 0;
    QTest::newRow("1.0 is not the integer 1") << "Mode 0 0 0 1.0" << -1 << 0;
}

void tst_XafsI0Table::i0Column()
{
    QFETCH(QString, modeLine);
    QFETCH(int, column);
    QFETCH(int, points);
    const QString f = dir.filePath("mode.dat");
    QVERIFY(writeXafsFile(f, modeLine, { "14 14 2 6 8 10" }));
    XafsI0Table t;
    QVERIFY(t.readXafs(f));
    QCOMPARE(t.i0Column, column);
    QCOMPARE(t.count(), points);
    if (points == 1)
        QCOMPARE(t.i0Values[0], 4.0); // column 4 holds 8, time 2
}

void tst_XafsI0Table::unreadableFileKeepsTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("said");
    QTest::newRow("missing") << dir.filePath("missing.dat") << "Can't open : ";
    // Read whole, these would fill the memory before the first line ends.
    QTest::newRow("a device") << "/dev/zero"
                              << "Not an XAFS scan file";
    QTest::newRow("larger than any scan") << dir.filePath("huge.dat") << "Not an XAFS scan file";
}

void tst_XafsI0Table::unreadableFileKeepsTable()
{
    QFETCH(QString, name);
    QFETCH(QString, said);
    if (name.endsWith("huge.dat")) {
        QFile f(name); // sparse: takes no room on the disk
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(XafsI0Table::MaxFileBytes + 1));
    }
    XafsI0Table t;
    t.energies = { 1.0, 2.0 };
    t.i0Values = { 3.0, 4.0 };
    LogCapture cap;
    QVERIFY(!t.readXafs(name));
    QCOMPARE(cap.lines.size(), 1);
    QVERIFY2(cap.lines.first().startsWith(said) && cap.lines.first().endsWith(name),
        qPrintable(cap.lines.first()));
    QCOMPARE(t.count(), 2);
}

void tst_XafsI0Table::downwardScanIsSorted()
{
    // Rising angles: the scan goes downward in energy. 13.5 degrees lies between 13 and 14.
    const QString f = dir.filePath("down.dat");
    QVERIFY(writeXafsFile(
        f, "Mode 0 0 0 1", { "13 13 1 0 100", "13.5 13.5 1 0 100", "14 14 1 0 400" }));
    XafsI0Table t;
    QVERIFY(t.readXafs(f));
    QCOMPARE(t.count(), 3);
    QVERIFY(t.energies[0] < t.energies[1] && t.energies[1] < t.energies[2]);
    QCOMPARE(t.i0Values, (QVector<double> { 400, 100, 100 }));
    // Half-way between the points of 14 and 13.5 degrees.
    QVERIFY(std::abs(t.i0At((t.energies[0] + t.energies[1]) / 2) - 250.0) < 1e-9);
}

void tst_XafsI0Table::i0At_data()
{
    QTest::addColumn<QVector<double>>("energies");
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<double>("energy");
    QTest::addColumn<double>("expected");
    const QVector<double> e { 1000, 2000, 3000 };
    const QVector<double> v { 10, 20, 40 };
    QTest::newRow("empty") << QVector<double>() << QVector<double>() << 1500.0 << 1.0;
    QTest::newRow("single point") << QVector<double> { 1000 } << QVector<double> { 7 } << 5.0
                                  << 7.0;
    QTest::newRow("inside first pair") << e << v << 1500.0 << 15.0;
    QTest::newRow("inside second pair") << e << v << 2500.0 << 30.0;
    QTest::newRow("on a point") << e << v << 2000.0 << 20.0;
    QTest::newRow("below the scan") << e << v << 500.0 << 5.0;
    QTest::newRow("above the scan") << e << v << 4000.0 << 60.0;
    QTest::newRow("on the last point") << e << v << 3000.0 << 40.0;
    QTest::newRow("repeated energy")
        << QVector<double> { 1000, 1000 } << QVector<double> { 10, 30 } << 500.0 << 20.0;
}

void tst_XafsI0Table::i0At()
{
    QFETCH(QVector<double>, energies);
    QFETCH(QVector<double>, values);
    QFETCH(double, energy);
    QFETCH(double, expected);
    XafsI0Table t;
    t.energies = energies;
    t.i0Values = values;
    QCOMPARE(t.i0At(energy), expected);
}

void tst_XafsI0Table::energyFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("energy");
    QTest::newRow("standard") << "/d/Fe-8980_0000-001.img"
                              << "####_####" << true << 8980.0;
    QTest::newRow("fraction") << "a7112_1234b.img"
                              << "####_####" << true << 7112.1234;
    QTest::newRow("marked") << "run_E7112_s2.img"
                            << "E####" << true << 7112.0;
    QTest::newRow("first match") << "8980_0000-9000_0000.img"
                                 << "####_####" << true << 8980.0;
    QTest::newRow("folder is not searched") << "/d/8980_0000/x.img"
                                            << "####_####" << false << 0.0;
    QTest::newRow("too few digits") << "Fe-898_0000.img"
                                    << "####_####" << false << 0.0;
    QTest::newRow("digits run on in front") << "a-12345_67890.img"
                                            << "####_####" << false << 0.0;
    QTest::newRow("digits run on behind") << "Fe-8980_00001.img"
                                          << "####_####" << false << 0.0;
    QTest::newRow("a later match stands alone") << "x12345_6789-8980_0000.img"
                                                << "####_####" << true << 8980.0;
    QTest::newRow("empty pattern") << "8980.img"
                                   << "" << false << 0.0;
}

void tst_XafsI0Table::energyFromName()
{
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QFETCH(bool, ok);
    QFETCH(double, energy);
    bool found = !ok;
    const double e = XafsI0Table::energyFromName(name, pattern, &found);
    QCOMPARE(found, ok);
    QCOMPARE(e, energy);
}

QTEST_GUILESS_MAIN(tst_XafsI0Table)
#include "tst_XafsI0Table.moc"
