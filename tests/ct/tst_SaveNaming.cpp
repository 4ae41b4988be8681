#include "SaveNaming.h"

#include <QtTest>

class TestSaveNaming : public QObject
{
    Q_OBJECT
private slots:
    void fileName_data();
    void fileName();
    void folders_data();
    void folders();
};

void TestSaveNaming::fileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("slice");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name and tag") << "scan"
                                  << "7112eV" << 42 << "dat"
                                  << "scan-7112eV-00042.dat";
    QTest::newRow("no name") << ""
                             << "7112eV" << 42 << "dat"
                             << "7112eV-00042.dat";
    QTest::newRow("empty tag kept") << "scan"
                                    << "" << 42 << "png"
                                    << "scan--00042.png";
    QTest::newRow("neither") << ""
                             << "" << 7 << "png"
                             << "-00007.png";
    QTest::newRow("six digits not cut") << "a"
                                        << "b" << 123456 << "dat"
                                        << "a-b-123456.dat";
    QTest::newRow("percent signs stay") << "%2"
                                        << "%1" << 3 << "dat"
                                        << "%2-%1-00003.dat";
    // Tags come from file and folder names: they never lead out of the chosen folder.
    QTest::newRow("separators in name and tag") << "a/b"
                                                << "..\\c" << 1 << "dat"
                                                << "a_b-.._c-00001.dat";
    QTest::newRow("tag of two dots") << ""
                                     << ".." << 1 << "dat"
                                     << "__-00001.dat";
}

void TestSaveNaming::fileName()
{
    QFETCH(QString, name);
    QFETCH(QString, tag);
    QFETCH(int, slice);
    QFETCH(QString, ext);
    QFETCH(QString, expected);
    QCOMPARE(saveFileName(name, tag, saveSliceNo(slice), ext), expected);
}

void TestSaveNaming::folders_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("inSub");
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QStringList>("expected");
    // The flag combinations themselves are exercised through the saver (tst_DataSaver).
    QTest::newRow("both boxes") << "/data/out" << true << true << true << "7112eV"
                                << QStringList { "/data/out/7112eV", "/data/out/00042" };
    QTest::newRow("trailing separator")
        << "/data/out/" << true << false << true << "7112eV" << QStringList { "/data/out/00042" };
    // An empty folder means the working folder, never the file-system root.
    QTest::newRow("empty folder") << "" << true << true << true << "7112eV"
                                  << QStringList { "7112eV", "00042" };
    QTest::newRow("empty folder flat")
        << "" << false << false << false << "7112eV" << QStringList { "" };
    // A tag taken from names stays one folder below the chosen one.
    QTest::newRow("tag of two dots")
        << "/data/out" << true << true << false << ".." << QStringList { "/data/out/__" };
    QTest::newRow("tag with a separator") << "/data/out" << true << true << false << "../../etc"
                                          << QStringList { "/data/out/.._.._etc" };
}

void TestSaveNaming::folders()
{
    QFETCH(QString, path);
    QFETCH(bool, inSub);
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QFETCH(QString, tag);
    QFETCH(QStringList, expected);
    QCOMPARE(saveFolders(path, tag, "00042", inSub, ofEnergy, ofSlice), expected);
}

QTEST_GUILESS_MAIN(TestSaveNaming)
#include "tst_SaveNaming.moc"
