#include "Failures.h"
#include "InputTestUtil.h"
#include "SelectDataFiles.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <tiffio.h>
#include <cstdio>

// The projection file selector: how a choice becomes the announced list (new or added,
// repeated first file), listing a folder, the list of loaded files and plain mode.
class tst_SelectDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void handleChosenFiles_data();
    void handleChosenFiles();
    void loadFromDir_data();
    void loadFromDir();
    void loadFromMissingDir();
    void flatsAndDarksInTheFolder_data();
    void flatsAndDarksInTheFolder();
    void stackStandsForItsPages();
    void loadFromDirKeepsUndecodableNames();
    void loadFileInfos();
    void appendAndStep();
    void expTime_data();
    void expTime();
    void plainMode();

private:
    QTemporaryDir dir;
    QString data; // folder with images, other files and sub-folders
};

void tst_SelectDataFiles::initTestCase()
{
    QVERIFY(dir.isValid());
    data = dir.filePath("data");
    QVERIFY(QDir().mkpath(data + "/sub.img"));
    QVERIFY(QDir().mkpath(data + "/folder"));
    for (const char *n : { "b.img", "A.img", "c.IMG", "note.txt", "a2.tif" })
        QVERIFY(writeBytes(data + "/" + n, "IM"));
}

void tst_SelectDataFiles::handleChosenFiles_data()
{
    QTest::addColumn<bool>("newFiles");
    QTest::addColumn<bool>("multi");
    QTest::addColumn<QString>("times");
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QStringList>("announced");
    const QStringList three { "/d/p1.img", "/d/p2.img", "/d/p3.img" };
    QTest::newRow("new") << true << false << "180" << three << three;
    QTest::newRow("add") << false << false << "180" << three << three;
    QTest::newRow("multi 180") << true << true << "180" << three << QStringList(180, "/d/p1.img");
    QTest::newRow("multi adds") << false << true << "2" << three
                                << QStringList { "/d/p1.img", "/d/p1.img" };
    QTest::newRow("multi not a number") << true << true << "lots" << three << QStringList();
    QTest::newRow("multi negative") << true << true << "-3" << three << QStringList();
    QTest::newRow("multi nothing chosen") << true << true << "5" << QStringList() << QStringList();
    QTest::newRow("multi cut") << true << true << "2000000000" << QStringList { "/d/p.img" }
                               << QStringList(SelectDataFiles::MaxMultiTimes, "/d/p.img");
}

void tst_SelectDataFiles::handleChosenFiles()
{
    QFETCH(bool, newFiles);
    QFETCH(bool, multi);
    QFETCH(QString, times);
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, announced);
    SelectDataFiles s;
    s.appendFile("/d/old.img");
    s.setLoadNewFiles(newFiles);
    s.setLoadMultiTimes(multi);
    s.findChild<QLineEdit *>("MultiTimes")->setText(times);
    QSignalSpy cleared(&s, &SelectDataFiles::filesCleared);
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    LogCapture cap;
    s.handleChosenFiles(chosen);
    QCOMPARE(cleared.count(), newFiles ? 1 : 0);
    QCOMPARE(s.count(), newFiles ? 0 : 1);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(), announced);
    QCOMPARE(selected.at(0).at(1).toBool(), newFiles);
    // The list shows loaded files only; choosing adds nothing to it.
    QCOMPARE(s.findChild<QLabel *>("Count")->text(), QString::number(s.count()));
}

void tst_SelectDataFiles::loadFromDir_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QStringList>("names");
    // Sorted without regard to case; folders never listed, even when a pattern matches.
    QTest::newRow("img") << QStringList { "*.img" } << QStringList { "A.img", "b.img", "c.IMG" };
    QTest::newRow("everything") << QStringList { "*" }
                                << QStringList { "A.img", "a2.tif", "b.img", "c.IMG", "note.txt" };
    QTest::newRow("no pattern") << QStringList()
                                << QStringList { "A.img", "a2.tif", "b.img", "c.IMG", "note.txt" };
    QTest::newRow("two patterns") << QStringList { "*.txt", "b*" }
                                  << QStringList { "b.img", "note.txt" };
    QTest::newRow("no match") << QStringList { "*.raw" } << QStringList();
}

void tst_SelectDataFiles::loadFromDir()
{
    QFETCH(QStringList, patterns);
    QFETCH(QStringList, names);
    SelectDataFiles s;
    s.appendFile("/d/old.img");
    QSignalSpy cleared(&s, &SelectDataFiles::filesCleared);
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    s.loadFromDir(data, patterns);
    QStringList expected;
    for (const QString &n : names)
        expected.append(QDir(data).absoluteFilePath(n));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(), expected);
    QCOMPARE(cleared.count(), 1); // "New" is checked by default
    QCOMPARE(s.count(), 0);
    QCOMPARE(QDir(s.fileDialog()->directory()).canonicalPath(), QDir(data).canonicalPath());
}

void tst_SelectDataFiles::loadFromMissingDir()
{
    SelectDataFiles s;
    s.setLoadNewFiles(false);
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    const QString missing = dir.filePath("nothing-here");
    LogCapture cap;
    s.loadFromDir(missing, { "*.img" });
    QCOMPARE(cap.lines, QStringList { "Can not find folder " + missing });
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(), QStringList());
}

void tst_SelectDataFiles::flatsAndDarksInTheFolder_data()
{
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QStringList>("flatNames"); // empty: the usual names
    QTest::addColumn<QStringList>("darkNames");
    QTest::addColumn<QStringList>("projections");
    QTest::addColumn<QStringList>("flats");
    QTest::addColumn<QStringList>("darks");
    const QStringList none;
    QTest::newRow("projections") << false << none << none << QStringList { "p1.img", "p2.img" }
                                 << QStringList { "flat_a.img", "Flat_b.img" }
                                 << QStringList { "BG_x.img", "dark.img" };
    // A beamline's own names: the usual ones are then projections like any other file.
    QTest::newRow("names of the beamline")
        << false << QStringList { "OB" } << QStringList { "closed", "bg" }
        << QStringList { "dark.img", "flat_a.img", "Flat_b.img", "p1.img", "p2.img" }
        << QStringList { "ob_1.img", "OB_2.img" } << QStringList { "BG_x.img", "closed.img" };
    // The I0 files of a series are listed as they are.
    QTest::newRow("plain mode") << true << none << none << QStringList() << none << none;
}

void tst_SelectDataFiles::flatsAndDarksInTheFolder()
{
    QFETCH(bool, plain);
    QFETCH(QStringList, flatNames);
    QFETCH(QStringList, darkNames);
    QFETCH(QStringList, projections);
    QFETCH(QStringList, flats);
    QFETCH(QStringList, darks);
    const QString folder = dir.filePath(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const QStringList all { "BG_x.img", "closed.img", "dark.img", "flat_a.img", "Flat_b.img",
        "ob_1.img", "OB_2.img", "p1.img", "p2.img" };
    for (const QString &n : all)
        QVERIFY(writeBytes(folder + "/" + n, "IM"));
    SelectDataFiles s;
    if (plain)
        s.setPlainMode();
    if (!flatNames.isEmpty())
        s.flatNames = flatNames;
    if (!darkNames.isEmpty())
        s.darkNames = darkNames;
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    QSignalSpy references(&s, &SelectDataFiles::referencesFound);
    s.loadFromDir(folder, { "*.img" });
    const auto paths = [&](const QStringList &names) {
        QStringList p;
        for (const QString &n : names)
            p << QDir(folder).absoluteFilePath(n);
        return p;
    };
    QCOMPARE(selected.count(), 1);
    if (plain) {
        QCOMPARE(selected.at(0).at(0).toStringList(), paths(all));
        QCOMPARE(references.count(), 0);
        return;
    }
    // Files of neither kind are projections (with the usual names, "closed" and "ob" too).
    QStringList expected = projections;
    if (flatNames.isEmpty())
        expected = QStringList { "closed.img", "ob_1.img", "OB_2.img" } + projections;
    expected.sort(Qt::CaseInsensitive);
    QCOMPARE(selected.at(0).at(0).toStringList(), paths(expected));
    QCOMPARE(references.count(), 1);
    QCOMPARE(references.at(0).at(0).toString(), paths(flats).join('|'));
    QCOMPARE(references.at(0).at(1).toString(), paths(darks).join('|'));
}

void tst_SelectDataFiles::stackStandsForItsPages()
{
    // A chosen TIFF stack of three pages is three projections, page by page.
    const QString stack = dir.filePath("stack.tif");
    TIFF *t = TIFFOpen(QFile::encodeName(stack).constData(), "w");
    QVERIFY(t);
    for (int p = 0; p < 3; ++p) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, quint32(4));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, quint32(2));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, quint16(16));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_MINISBLACK));
        const quint16 px[8] = { quint16(p), 1, 2, 3, 4, 5, 6, 7 };
        QVERIFY(TIFFWriteEncodedStrip(t, 0, const_cast<quint16 *>(px), sizeof px) >= 0);
        QVERIFY(TIFFWriteDirectory(t));
    }
    TIFFClose(t);
    SelectDataFiles s;
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    s.handleChosenFiles({ data + "/b.img", stack });
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(),
        (QStringList { data + "/b.img", stack + "#0", stack + "#1", stack + "#2" }));
}

void tst_SelectDataFiles::loadFromDirKeepsUndecodableNames()
{
    // A Latin-1 name has no text that leads back to it: Qt's listing leaves it out. It is
    // listed under its escaped name, which no file has, so the set is incomplete, and said.
    const QString latin = dir.filePath("latin");
    QVERIFY(QDir().mkpath(latin));
    QVERIFY(writeBytes(latin + "/a.img", "IM"));
    const QByteArray raw = QFile::encodeName(latin) + "/caf\xe9.img";
    QFile f;
    QVERIFY(f.open(
        std::fopen(raw.constData(), "w"), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    f.close();
    SelectDataFiles s;
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    Failures::instance().reset();
    s.loadFromDir(latin, { "*.img" });
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(),
        (QStringList { latin + "/a.img", latin + "/caf\\xe9.img" }));
    QCOMPARE(Failures::instance().count(), 1);
    QVERIFY2(Failures::instance().last().contains("1 file name in " + latin
                 + " is not valid UTF-8 and cannot be read (rename them): caf\\xe9.img"),
        qPrintable(Failures::instance().last()));
}

void tst_SelectDataFiles::loadFileInfos()
{
    SelectDataFiles s;
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(data));
    s.loadFileInfos({ QFileInfo("b.img"), QFileInfo(data + "/A.img") });
    QDir::setCurrent(oldCwd);
    QCOMPARE(selected.at(0).at(0).toStringList(),
        (QStringList { QDir(data).absoluteFilePath("b.img"), data + "/A.img" }));
}

void tst_SelectDataFiles::appendAndStep()
{
    SelectDataFiles s;
    QSignalSpy changed(&s, &SelectDataFiles::currentIndexChanged);
    auto *count = s.findChild<QLabel *>("Count");
    for (const char *n : { "/d/0.img", "/d/1.img", "/d/2.img" })
        s.appendFile(n);
    QCOMPARE(s.files(), (QStringList { "/d/0.img", "/d/1.img", "/d/2.img" }));
    QCOMPARE(count->text(), QString("3"));
    QCOMPARE(s.currentIndex(), 0);
    QCOMPARE(changed.count(), 1); // the first entry became current
    s.prev();
    QCOMPARE(s.currentIndex(), 0);
    s.next();
    s.next();
    QCOMPARE(s.currentIndex(), 2);
    s.next();
    QCOMPARE(s.currentIndex(), 2);
    s.select(1);
    QCOMPARE(s.currentFile(), QString("/d/1.img"));
    s.select(3);
    s.select(-1);
    QCOMPARE(s.currentIndex(), 1);
    QCOMPARE(changed.count(), 4);
    QCOMPARE(changed.last().at(0).toInt(), 1);

    QSignalSpy cleared(&s, &SelectDataFiles::filesCleared);
    s.clearFiles();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(s.count(), 0);
    QCOMPARE(count->text(), QString("0"));
}

void tst_SelectDataFiles::expTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("number") << "0.25" << 0.25;
    QTest::newRow("not a number") << "fast" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
}

void tst_SelectDataFiles::expTime()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    SelectDataFiles s;
    s.findChild<QLineEdit *>("ExpTime")->setText(text);
    QCOMPARE(s.expTime(), value);
    s.setExpTime(1.0 / 3.0);
    QCOMPARE(s.findChild<QLineEdit *>("ExpTime")->text(), QString("0.333333"));
}

void tst_SelectDataFiles::plainMode()
{
    SelectDataFiles s;
    s.setLoadNewFiles(false);
    s.setPlainMode();
    for (const char *n : { "LoadNewFiles", "AddFiles", "KeepConditions", "LoadMultiTimes",
             "MultiTimes", "SepLine" }) {
        auto *w = s.findChild<QWidget *>(n);
        QVERIFY2(w && w->isHidden(), n);
    }
    QVERIFY(!s.findChild<QWidget *>("Selected")->isHidden());
    QVERIFY(!s.findChild<QWidget *>("Select")->isHidden());
    QVERIFY(s.loadNewFiles());
    // Every choice replaces the list.
    s.appendFile("/d/i0-7000eV.img");
    QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
    s.handleChosenFiles({ "/d/i0-7100eV.img" });
    QCOMPARE(s.count(), 0);
    QCOMPARE(selected.at(0).at(1).toBool(), true);
}

QTEST_MAIN(tst_SelectDataFiles)
#include "tst_SelectDataFiles.moc"
