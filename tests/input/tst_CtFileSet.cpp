#include "CtFileSet.h"

#include <QTest>

// Data sets under the facility's naming standard: what a file name says about its set, and
// how a name-ordered list of files falls into sets.
class tst_CtFileSet : public QObject
{
    Q_OBJECT

private slots:
    void fields_data();
    void fields();
    void readNameNumber_data();
    void readNameNumber();
    void group_data();
    void group();
};

void tst_CtFileSet::fields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("energyText");
    QTest::addColumn<double>("energy");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("ev");
    QTest::newRow("keV with _ as point") << "Fe2O3-8_98keV-0001.img"
                                         << "Fe2O3-8_98keV"
                                         << "Fe2O3"
                                         << "8_98keV" << 8.98 << "keV" << 8980.0;
    QTest::newRow("eV, dash in sample") << "cell-A-7112eV-0003.img"
                                        << "cell-A-7112eV"
                                        << "cell-A"
                                        << "7112eV" << 7112.0 << "eV" << 7112.0;
    QTest::newRow("KEV upper case") << "s-1_5KEV-01.img"
                                    << "s-1_5KEV"
                                    << "s"
                                    << "1_5KEV" << 1.5 << "KEV" << 1500.0;
    QTest::newRow("no unit") << "s-7112-01.img"
                             << "s-7112"
                             << "s"
                             << "7112" << 7112.0 << "" << 7112.0;
    QTest::newRow("no dash") << "sample.img"
                             << "sample.img"
                             << "sample.img"
                             << "sample.img" << 0.0 << "" << 0.0;
    QTest::newRow("one dash") << "Fe-001.img"
                              << "Fe"
                              << "Fe"
                              << "Fe" << 0.0 << "" << 0.0;
    QTest::newRow("letters before number") << "s-E8_98keV-1.img"
                                           << "s-E8_98keV"
                                           << "s"
                                           << "E8_98keV" << 0.0 << "keV" << 0.0;
}

void tst_CtFileSet::fields()
{
    QFETCH(QString, name);
    QFETCH(QString, key);
    QFETCH(QString, sample);
    QFETCH(QString, energyText);
    QFETCH(double, energy);
    QFETCH(QString, unit);
    QFETCH(double, ev);
    const CtFileSet set(QFileInfo("/data/run/" + name));
    QCOMPARE(set.firstName, name);
    QCOMPARE(set.setKey, key);
    QCOMPARE(set.sampleName, sample);
    QCOMPARE(set.energyText, energyText);
    QCOMPARE(set.energy, energy);
    QCOMPARE(set.unit, unit);
    QCOMPARE(set.energyEv(), ev);
    QCOMPARE(set.files.size(), 1);
    QCOMPARE(set.files.first().filePath(), "/data/run/" + name);
}

void tst_CtFileSet::readNameNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("underscore point") << "8_98keV" << 8.98;
    QTest::newRow("integer") << "7112" << 7112.0;
    QTest::newRow("dot point") << "12.5eV" << 12.5;
    QTest::newRow("letters between digits") << "1a2" << 0.0;
    QTest::newRow("two points") << "1_2_3eV" << 0.0;
    QTest::newRow("no digit") << "keV" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("non-ASCII digit ends nothing") << QString::fromUtf8("8_9８") << 8.9;
}

void tst_CtFileSet::readNameNumber()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(CtFileSet::readNameNumber(text), value);
}

void tst_CtFileSet::group_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("two energies") << QStringList { "Fe-8_98keV-001.img", "Fe-8_98keV-002.img",
        "Fe-9_00keV-001.img" } << QStringList { "Fe-8_98keV", "Fe-9_00keV" }
                                  << QList<int> { 2, 1 };
    // A set must be a run of adjacent names: a file of another set in between splits it.
    QTest::newRow("interrupted set")
        << QStringList { "a-1eV-1.img", "a-1eV-5-x.img", "a-1eV-9.img" }
        << QStringList { "a-1eV", "a-1eV-5", "a-1eV" } << QList<int> { 1, 1, 1 };
    QTest::newRow("keys are case-sensitive")
        << QStringList { "S-1eV-1.img", "s-1eV-1.img" } << QStringList { "S-1eV", "s-1eV" }
        << QList<int> { 1, 1 };
    QTest::newRow("none") << QStringList() << QStringList() << QList<int>();
}

void tst_CtFileSet::group()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, keys);
    QFETCH(QList<int>, sizes);
    QFileInfoList infos;
    for (const QString &n : names)
        infos.append(QFileInfo("/d/" + n));
    const auto sets = CtFileSet::group(infos);
    QCOMPARE(int(sets.size()), int(keys.size()));
    int next = 0;
    for (size_t i = 0; i < sets.size(); ++i) {
        QCOMPARE(sets[i]->setKey, keys.at(int(i)));
        QCOMPARE(int(sets[i]->files.size()), sizes.at(int(i)));
        QCOMPARE(sets[i]->firstName, names.at(next));
        for (const QFileInfo &fi : sets[i]->files)
            QCOMPARE(fi.fileName(), names.at(next++));
    }
    QCOMPARE(next, int(names.size()));
}

QTEST_APPLESS_MAIN(tst_CtFileSet)
#include "tst_CtFileSet.moc"
