#include "InputTestUtil.h"
#include "SelectDataDir.h"
#include "SelectDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The data-set selector: listing sub-folder sets and file-name sets with their list texts,
// announcing the current set, stepping through the list and the energy of a set.
class tst_SelectDataDir : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void subFolderSets();
    void zbxSets();
    void zbxEmptyFolderClearsSets();
    void emptySubFolderList();
    void modeToggleRelists();
    void staleFileSetsNeverAnnounced();
    void setNextSet_data();
    void setNextSet();
    void setFirstSet_data();
    void setFirstSet();
    void stepping();
    void subFolderEnergy_data();
    void subFolderEnergy();

private:
    QString mkdirs(const QString &name, const QStringList &subs);
    QTemporaryDir dir;
    QString subs7; // seven sub-folders
    QString zbx; // file-name sets
};

QString tst_SelectDataDir::mkdirs(const QString &name, const QStringList &subs)
{
    const QString d = dir.filePath(name);
    QDir().mkpath(d);
    for (const QString &s : subs)
        QDir().mkpath(d + "/" + s);
    return d;
}

void tst_SelectDataDir::initTestCase()
{
    QVERIFY(dir.isValid());
    subs7 = mkdirs("subs7", { "b", "A", "a", "7112eV", "C", "d", "e" });
    QVERIFY(writeBytes(subs7 + "/file.img", "IM")); // a file is no set
    zbx = mkdirs("zbx", { "Fe-1keV-folder.img" }); // a folder is no file of a set
    for (const char *n : { "Fe-8_98keV-001.img", "Fe-8_98keV-002.img", "Fe-9_00keV-001.img",
             "Zn-9_00keV-001.img", "Zn-9_00keV-002.img", "notes.txt" })
        QVERIFY(writeBytes(zbx + "/" + n, "IM"));
}

void tst_SelectDataDir::subFolderSets()
{
    SelectDataDir s;
    s.setPattern("  *.img   *.tif ");
    QSignalSpy newSets(&s, &SelectDataDir::newSets);
    s.setDataDir(subs7);
    // Sorted with letter case significant: capitals first.
    QCOMPARE(s.entryTexts(),
        (QStringList { "1 : 7112eV", "2 : A", "3 : C", "4 : a", "5 : b", "6 : d", "7 : e" }));
    QCOMPARE(newSets.count(), 1);
    QCOMPARE(newSets.at(0).at(0).toInt(), 7);
    QCOMPARE(s.currentIndex(), 0);
    QCOMPARE(s.dirSelector()->dirName(), subs7);

    s.next();
    QSignalSpy selected(&s, &SelectDataDir::selected);
    QSignalSpy noMore(&s, &SelectDataDir::noMoreSets);
    s.findChild<QPushButton *>("Set")->click();
    QCOMPARE(noMore.count(), 0);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toString(), subs7 + QDir::separator() + "A");
    QCOMPARE(selected.at(0).at(1).toStringList(), (QStringList { "*.img", "*.tif" }));
    QCOMPARE(s.currentSetName(), QString("A"));
}

void tst_SelectDataDir::zbxSets()
{
    SelectDataDir s;
    s.setIsZBXStandard(true);
    QSignalSpy newSets(&s, &SelectDataDir::newSets);
    s.setDataDir(zbx);
    // The repeated sample name is blanked with as many blanks as it has characters.
    QCOMPARE(s.entryTexts(),
        (QStringList { "1 : Fe (8.98[keV], 2)", "2 :    (9[keV], 1)", "3 : Zn (9[keV], 2)" }));
    QCOMPARE(newSets.last().at(0).toInt(), 3);
    QCOMPARE(int(s.fileSets.size()), 3);
    QCOMPARE(s.currentEnergy(), 8980.0);
    QCOMPARE(s.currentSetName(), QString("8_98keV"));

    QSignalSpy infos(&s, &SelectDataDir::selectedFileInfoList);
    QSignalSpy selected(&s, &SelectDataDir::selected);
    s.set();
    QCOMPARE(selected.count(), 0);
    QCOMPARE(infos.count(), 1);
    const auto files = infos.at(0).at(0).value<QFileInfoList>();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.at(0).fileName(), QString("Fe-8_98keV-001.img"));
    QCOMPARE(files.at(1).fileName(), QString("Fe-8_98keV-002.img"));

    QVERIFY(s.advance());
    QCOMPARE(s.currentEnergy(), 9000.0);
    QCOMPARE(s.currentSetName(), QString("9_00keV"));
}

void tst_SelectDataDir::zbxEmptyFolderClearsSets()
{
    SelectDataDir s;
    s.setIsZBXStandard(true);
    s.setDataDir(zbx);
    s.next();
    const QString empty = mkdirs("empty", {});
    QSignalSpy newSets(&s, &SelectDataDir::newSets);
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QString("No files matching *.img in %1: the data sets are cleared").arg(empty)));
    s.setDataDir(empty);
    // The previous folder's sets are gone: "Set" loads nothing of them under the new name.
    QCOMPARE(s.count(), 0);
    QCOMPARE(int(s.fileSets.size()), 0);
    QCOMPARE(newSets.count(), 1);
    QCOMPARE(newSets.at(0).at(0).toInt(), 0);
    QSignalSpy noMore(&s, &SelectDataDir::noMoreSets);
    QSignalSpy infos(&s, &SelectDataDir::selectedFileInfoList);
    s.set();
    QCOMPARE(noMore.count(), 1);
    QCOMPARE(infos.count(), 0);

    // Only the whole pattern field counts as one pattern in this mode.
    s.setDataDir(zbx);
    QCOMPARE(s.count(), 3);
    s.setPattern("*.img *.txt");
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(
            QString("No files matching *.img *.txt in %1: the data sets are cleared").arg(zbx)));
    s.setDataDir(zbx);
    QCOMPARE(s.count(), 0);
    s.setPattern("*.txt");
    s.setDataDir(zbx);
    QCOMPARE(s.entryTexts(), QStringList { "1 : notes.txt (0[], 1)" });
}

void tst_SelectDataDir::emptySubFolderList()
{
    SelectDataDir s;
    s.setDataDir(subs7);
    s.setDataDir(mkdirs("empty2", {}));
    QCOMPARE(s.count(), 0);
    QCOMPARE(s.currentSetName(), QString());
    QCOMPARE(s.currentEnergy(), 0.0);
    QSignalSpy noMore(&s, &SelectDataDir::noMoreSets);
    QSignalSpy selected(&s, &SelectDataDir::selected);
    s.set();
    QCOMPARE(noMore.count(), 1);
    QCOMPARE(selected.count(), 0);
    QVERIFY(!s.advance());
}

void tst_SelectDataDir::modeToggleRelists()
{
    SelectDataDir s;
    QSignalSpy newSets(&s, &SelectDataDir::newSets);
    // Without a folder, toggling lists nothing (not the working directory).
    s.findChild<QCheckBox *>("isZBXStd_")->setChecked(true);
    s.findChild<QCheckBox *>("isZBXStd_")->setChecked(false);
    QCOMPARE(s.count(), 0);
    s.setDataDir(zbx);
    QCOMPARE(s.entryTexts(), QStringList { "1 : Fe-1keV-folder.img" });
    s.findChild<QCheckBox *>("isZBXStd_")->setChecked(true);
    QVERIFY(s.isZBXStandard());
    QCOMPARE(s.count(), 3);
    QCOMPARE(newSets.last().at(0).toInt(), 3);
    s.setIsZBXStandard(false);
    QCOMPARE(s.count(), 1);
    QCOMPARE(newSets.count(), 5);
}

void tst_SelectDataDir::staleFileSetsNeverAnnounced()
{
    SelectDataDir s;
    s.setIsZBXStandard(true);
    s.setDataDir(zbx);
    QCOMPARE(s.count(), 3);
    // Sub-folders only, no file of the pattern: ZBX mode finds no set here.
    s.setIsZBXStandard(false);
    s.setDataDir(mkdirs("onlySubs", { "x", "y" }));
    QCOMPARE(s.count(), 2);
    s.setIsZBXStandard(true);
    QCOMPARE(s.count(), 0);
    QCOMPARE(s.currentEnergy(), 0.0);
    QSignalSpy infos(&s, &SelectDataDir::selectedFileInfoList);
    QSignalSpy noMore(&s, &SelectDataDir::noMoreSets);
    s.set();
    QCOMPARE(infos.count(), 0);
    QCOMPARE(noMore.count(), 1);
}

void tst_SelectDataDir::setNextSet_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("lastIdx");
    QTest::addColumn<int>("after"); // -1: noMoreSets and no move
    QTest::newRow("inside range") << 0 << 2 << 1;
    QTest::newRow("reaches last of range") << 1 << 2 << 2;
    QTest::newRow("at end of range") << 2 << 2 << -1;
    QTest::newRow("current equals lastIdx") << 5 << 5 << -1;
    QTest::newRow("beyond range") << 4 << 3 << -1;
    QTest::newRow("last entry") << 6 << 10 << -1;
}

void tst_SelectDataDir::setNextSet()
{
    QFETCH(int, current);
    QFETCH(int, lastIdx);
    QFETCH(int, after);
    SelectDataDir s;
    s.setDataDir(subs7);
    s.findChild<QComboBox *>("SubDirs")->setCurrentIndex(current);
    QSignalSpy noMore(&s, &SelectDataDir::noMoreSets);
    QSignalSpy selected(&s, &SelectDataDir::selected);
    s.setNextSet(lastIdx);
    if (after < 0) {
        QCOMPARE(noMore.count(), 1);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(s.currentIndex(), current);
    } else {
        QCOMPARE(noMore.count(), 0);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(s.currentIndex(), after);
        QCOMPARE(selected.at(0).at(0).toString(), subs7 + QDir::separator() + s.subDirs.at(after));
    }
}

void tst_SelectDataDir::setFirstSet_data()
{
    QTest::addColumn<bool>("zbxMode");
    QTest::addColumn<int>("first");
    QTest::addColumn<bool>("announced");
    QTest::newRow("sub-folder first") << false << 0 << true;
    QTest::newRow("sub-folder middle") << false << 3 << true;
    QTest::newRow("sub-folder beyond") << false << 7 << false;
    QTest::newRow("sub-folder negative") << false << -1 << false;
    QTest::newRow("zbx last") << true << 2 << true;
    QTest::newRow("zbx beyond") << true << 3 << false;
}

void tst_SelectDataDir::setFirstSet()
{
    QFETCH(bool, zbxMode);
    QFETCH(int, first);
    QFETCH(bool, announced);
    SelectDataDir s;
    s.setIsZBXStandard(zbxMode);
    s.setDataDir(zbxMode ? zbx : subs7);
    s.next();
    QSignalSpy noMore(&s, &SelectDataDir::noMoreSets);
    QSignalSpy selected(&s, &SelectDataDir::selected);
    QSignalSpy infos(&s, &SelectDataDir::selectedFileInfoList);
    s.setFirstSet(first);
    QCOMPARE(noMore.count(), announced ? 0 : 1);
    QCOMPARE(selected.count() + infos.count(), announced ? 1 : 0);
    if (announced)
        QCOMPARE(s.currentIndex(), first);
}

void tst_SelectDataDir::stepping()
{
    SelectDataDir s;
    s.setDataDir(subs7);
    QSignalSpy selected(&s, &SelectDataDir::selected);
    for (int i = 1; i < 7; ++i) {
        QVERIFY(s.advance());
        QCOMPARE(s.currentIndex(), i);
    }
    QVERIFY(!s.advance());
    s.findChild<QPushButton *>("Next")->click();
    QCOMPARE(s.currentIndex(), 6);
    QCOMPARE(selected.count(), 0); // moving announces nothing
}

void tst_SelectDataDir::subFolderEnergy_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<double>("energy");
    QTest::newRow("eV") << "7112eV" << 7112.0;
    QTest::newRow("keV") << "8_98keV" << 8980.0;
    QTest::newRow("number") << "0001" << 1.0;
    QTest::newRow("no number") << "dark" << 0.0;
}

void tst_SelectDataDir::subFolderEnergy()
{
    QFETCH(QString, folder);
    QFETCH(double, energy);
    const QString d = mkdirs("energy-" + folder, { folder });
    SelectDataDir s;
    s.setDataDir(d);
    QCOMPARE(s.currentSetName(), folder);
    QCOMPARE(s.currentEnergy(), energy);
}

QTEST_MAIN(tst_SelectDataDir)
#include "tst_SelectDataDir.moc"
