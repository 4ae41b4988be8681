#include "Config.h"
#include "SelectDir.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The folder selector: a chosen folder is shown and announced; its dialog picks existing
// folders and opens in the data root, later where the last folder was.
class tst_SelectDir : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chooseAndSet();
    void dialog();

private:
    QTemporaryDir dir;
};

void tst_SelectDir::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath("root")));
    QVERIFY(QDir().mkpath(dir.filePath("data/set1")));
    dataRoot = dir.filePath("root");
}

void tst_SelectDir::chooseAndSet()
{
    SelectDir s;
    QSignalSpy spy(&s, &SelectDir::aDirSelected);
    s.setDirName(dir.filePath("data"));
    QCOMPARE(s.dirName(), dir.filePath("data"));
    QCOMPARE(spy.count(), 0);
    s.chooseDir(dir.filePath("data/set1"));
    QCOMPARE(s.findChild<QLineEdit *>("SelectedDir")->text(), dir.filePath("data/set1"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), dir.filePath("data/set1"));
}

void tst_SelectDir::dialog()
{
    SelectDir s;
    QCOMPARE(s.findChild<QPushButton *>("Select")->text(), QString("Sel. Dir"));
    QFileDialog *d = s.fileDialog();
    QCOMPARE(d->fileMode(), QFileDialog::Directory);
    QCOMPARE(d->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(QDir(d->directory()).canonicalPath(), QDir(dataRoot).canonicalPath());
    s.setDirName(dir.filePath("data"));
    QCOMPARE(QDir(d->directory()).canonicalPath(), QDir(dir.filePath("data")).canonicalPath());

    // A folder accepted in the dialog arrives like any other choice.
    QSignalSpy spy(&s, &SelectDir::aDirSelected);
    s.findChild<QPushButton *>("Select")->click();
    QVERIFY(d->isVisible());
    d->selectFile(dir.filePath("data/set1"));
    static_cast<QDialog *>(d)->accept(); // public in QDialog
    QCOMPARE(spy.count(), 1);
    QCOMPARE(QDir(s.dirName()).canonicalPath(), QDir(dir.filePath("data/set1")).canonicalPath());
}

QTEST_MAIN(tst_SelectDir)
#include "tst_SelectDir.moc"
