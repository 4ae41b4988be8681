#include "Config.h"
#include "InputTestUtil.h"
#include "SelectAFile.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The single-file selector: what a chosen name does in open and save mode, clearing, the
// status colours and the dialog it opens.
class tst_SelectAFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void setStat_data();
    void setStat();
    void openModeSelection();
    void saveModeCreatesFolder();
    void saveModeFolderCannotBeMade();
    void clear0();
    void dialogModes_data();
    void dialogModes();
    void nativeDialogKey_data();
    void nativeDialogKey();
    void dialogChoiceArrives();

private:
    QLineEdit *field(SelectAFile &s, const char *name) { return s.findChild<QLineEdit *>(name); }
    QTemporaryDir dir;
};

void tst_SelectAFile::initTestCase()
{
    QVERIFY(dir.isValid());
    dataRoot = dir.path();
}

void tst_SelectAFile::setStat_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("style");
    QTest::newRow("green") << true << "background-color: rgb(211, 255, 241);";
    QTest::newRow("red") << false << "background-color: rgb(255, 192, 192);";
}

void tst_SelectAFile::setStat()
{
    QFETCH(bool, ok);
    QFETCH(QString, style);
    SelectAFile s;
    s.setStat(!ok);
    s.setStat(ok);
    QCOMPARE(field(s, "FilePath")->styleSheet(), style);
}

void tst_SelectAFile::openModeSelection()
{
    SelectAFile s;
    QSignalSpy spy(&s, &SelectAFile::fileSelected);
    const QString f = dir.filePath("I0-8_98keV.001.img");
    s.fileSelected0(f);
    QCOMPARE(s.filePath(), f);
    QCOMPARE(s.name(), QString("I0-8_98keV"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), f);
    QVERIFY(!QFileInfo::exists(f)); // open mode never makes anything
}

void tst_SelectAFile::saveModeCreatesFolder()
{
    SelectAFile s;
    s.setMode(1);
    QSignalSpy spy(&s, &SelectAFile::fileSelected);
    const QString folder = dir.filePath("results/energy/slices");
    QVERIFY(!QFileInfo::exists(folder));
    s.fileSelected0(folder + "/ct.dat");
    // The folder exists at once, before anything is saved there.
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(s.filePath(), folder);
    QCOMPARE(s.name(), QString("ct"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), folder + "/ct.dat");

    // A relative name is taken against the working directory and shown absolute.
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    s.fileSelected0("rel/out.img");
    QDir::setCurrent(oldCwd);
    QCOMPARE(s.filePath(), dir.filePath("rel"));
    QVERIFY(QFileInfo(dir.filePath("rel")).isDir());
}

void tst_SelectAFile::saveModeFolderCannotBeMade()
{
    const QString blocker = dir.filePath("plainfile");
    QVERIFY(writeBytes(blocker, "x"));
    SelectAFile s;
    s.setMode(1);
    LogCapture cap;
    s.fileSelected0(blocker + "/sub/ct.dat");
    QCOMPARE(cap.lines, QStringList { "Can not make folder " + blocker + "/sub" });
    QCOMPARE(field(s, "FilePath")->styleSheet(), QString("background-color: rgb(255, 192, 192);"));
}

void tst_SelectAFile::clear0()
{
    SelectAFile s;
    s.setNameTagVisible(true);
    s.fileSelected0(dir.filePath("a.img"));
    s.setAddTag("tag");
    s.setStat(true);
    QSignalSpy spy(&s, &SelectAFile::clear);
    s.findChild<QPushButton *>("Clear")->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(s.filePath(), QString());
    QCOMPARE(s.name(), QString());
    QCOMPARE(s.addTag(), QString("tag"));
    QCOMPARE(field(s, "FilePath")->styleSheet(), QString());
}

void tst_SelectAFile::dialogModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("acceptMode");
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<QStringList>("filters");
    QTest::newRow("open") << 0 << int(QFileDialog::AcceptOpen) << int(QFileDialog::ExistingFile)
                          << QStringList { "Img file (*.img)", "Tiff file (*.tif *.tiff)",
                                 "Any file (* *.*)" };
    QTest::newRow("save") << 1 << int(QFileDialog::AcceptSave) << int(QFileDialog::AnyFile)
                          << QStringList { "Any file (* *.*)" };
}

void tst_SelectAFile::dialogModes()
{
    QFETCH(int, mode);
    QFETCH(int, acceptMode);
    QFETCH(int, fileMode);
    QFETCH(QStringList, filters);
    // Before and after the dialog exists, the mode decides how it is set up.
    for (bool early : { true, false }) {
        SelectAFile s;
        if (early)
            s.fileDialog();
        s.setMode(mode);
        QFileDialog *d = s.fileDialog();
        QCOMPARE(int(d->acceptMode()), acceptMode);
        QCOMPARE(int(d->fileMode()), fileMode);
        QCOMPARE(d->nameFilters(), filters);
        QCOMPARE(QDir(d->directory()).canonicalPath(), QDir(dataRoot).canonicalPath());
    }
}

void tst_SelectAFile::nativeDialogKey_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("toolkitDialog");
    QTest::newRow("absent") << QString() << true;
    QTest::newRow("1") << "1" << false;
    QTest::newRow("2") << "2" << true;
    QTest::newRow("text") << "yes" << true;
}

void tst_SelectAFile::nativeDialogKey()
{
    QFETCH(QString, value);
    QFETCH(bool, toolkitDialog);
    const Config saved = config;
    if (!value.isNull())
        config.set("Native_Dialog", value, value); // looked up without regard to case
    SelectAFile s;
    config = saved; // read once, when the selector was built
    QCOMPARE(s.fileDialog()->testOption(QFileDialog::DontUseNativeDialog), toolkitDialog);
}

void tst_SelectAFile::dialogChoiceArrives()
{
    const QString f = dir.filePath("chosen.img");
    QVERIFY(writeBytes(f, "IM"));
    SelectAFile s;
    QSignalSpy spy(&s, &SelectAFile::fileSelected);
    s.findChild<QPushButton *>("Select")->click();
    QFileDialog *d = s.fileDialog();
    QVERIFY(d->isVisible()); // shown, not run modally: the click returned
    d->selectFile(f);
    static_cast<QDialog *>(d)->accept(); // public in QDialog
    QCOMPARE(spy.count(), 1);
    QCOMPARE(s.filePath(), f);
    QVERIFY(!d->isVisible());
}

QTEST_MAIN(tst_SelectAFile)
#include "tst_SelectAFile.moc"
