// Sequential execution in the real main window: a data folder of energy sub-folders written by
// the phantom generator, loaded and reconstructed set after set by the real workers, with the
// results saved per energy.
#include "Body.h"

#include "EnergyNaming.h"
#include "Phantom.h"
#include "Projector.h"
#include "SelectDataDir.h"
#include "SelectDataFiles.h"
#include "XafsBatch.h"

#include <QtTest>

namespace {

// One sub-folder of projection files per energy; name order is energy order.
bool makeDataFolder(const QString &dir, int sets, QStringList &names)
{
    Projector p;
    p.detector.width = 32;
    p.detector.height = 4;
    p.projections = 12;
    p.threads = 1;
    const Phantom phantom = Phantom::head(p.detector);
    const EnergyNaming naming = EnergyNaming::forEnergies({ 8960.0, 8960.0 + 10 * sets }, false);
    for (int k = 0; k < sets; ++k) {
        const double e = 8960.0 + 10 * k;
        names << naming.text(e);
        QString error;
        if (!QDir(dir).mkdir(names.last())
            || !p.writeProjections(phantom, e, dir + '/' + names.last(), "p", k, nullptr, &error))
            return false;
    }
    return true;
}

QStringList datFilesBelow(const QString &root)
{
    QStringList found;
    QDirIterator it(root, { "*.dat" }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

} // namespace

class TestBodySeq : public QObject
{
    Q_OBJECT
private slots:
    void runsTheChosenSets_data();
    void runsTheChosenSets();
    void stopLetsTheRunUnderWayFinish();

private:
    // Slices 1 and 2 of every set by one worker, data files per energy below `out`; the range
    // of sets is set before the folder is chosen.
    void prepare(Body &body, const QString &data, const QString &out, int from, int to, bool keep);
    QStringList stages; // ProgressMsg, in turn
    QStringList times; // DeltaET and TotalET of each stage
};

void TestBodySeq::prepare(
    Body &body, const QString &data, const QString &out, int from, int to, bool keep)
{
    stages.clear();
    times.clear();
    // The message is written first: when it changes, the times still show the stage before.
    connect(body.ProgressMsg, &QLineEdit::textChanged, &body, [this, &body](const QString &t) {
        if (!stages.isEmpty())
            times << body.DeltaET->text() << body.TotalET->text();
        stages << t;
    });
    body.procCtrl->findChild<QRadioButton *>("RotAxV")->click();
    body.CTFiles->setKeepConditions(true);
    body.procCtrl->setSliceFrom(1);
    body.setProcSliceTo(2);
    body.procCtrl->findChild<QSpinBox *>("Threads")->setValue(1);
    body.procCtrl->findChild<QCheckBox *>("AutoExecCtCalc")->setChecked(true);
    body.SelectDataSaveDir->setFilePath(out);
    body.SelectDataSaveDir->setName("scan");
    body.SubOfEnergy->setChecked(true);
    body.setAutoSaveData(true);
    body.SeqCalcFrom->setValue(from);
    body.SeqCalcTo->setValue(to);
    body.keepOnNewSet->setChecked(keep);
    body.SelDDir->setPattern("*.img");
    body.SelDDir->setDataDir(data);
}

void TestBodySeq::runsTheChosenSets_data()
{
    QTest::addColumn<int>("sets");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<QList<int>>("done"); // 1-based set numbers
    QTest::newRow("3 to 5 of 8") << 8 << 3 << 5 << true << QList<int> { 3, 4, 5 };
    QTest::newRow("to beyond the list") << 4 << 3 << 9 << true << QList<int> { 3, 4 };
    QTest::newRow("from above to") << 5 << 4 << 2 << true << QList<int> { 4 };
    QTest::newRow("from beyond the list") << 3 << 5 << 6 << true << QList<int> {};
    QTest::newRow("new folder resets the range") << 3 << 2 << 2 << false << QList<int> { 1, 2, 3 };
}

void TestBodySeq::runsTheChosenSets()
{
    QFETCH(int, sets);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, keep);
    QFETCH(QList<int>, done);
    QTemporaryDir data, out;
    QStringList names;
    QVERIFY(makeDataFolder(data.path(), sets, names));
    Body body;
    prepare(body, data.path(), out.path(), from, to, keep);
    QCOMPARE(body.SeqCalcTo->value(), keep ? to : sets);
    QSignalSpy runs(&body, &Body::calcFinished);
    body.SeqCalc->click();
    QTRY_VERIFY_WITH_TIMEOUT(stages.endsWith("Finished"), 60000);
    QTRY_COMPARE(body.SeqCalc->styleSheet(), QString("background-color: rgb(213, 245, 255);"));

    QStringList expected { "Data Loading", "Loading first Data Set" };
    for (int i = 0; i < done.size(); ++i)
        expected << "Calculating"
                 << "Finished Calc."
                 << "Loading next Data Set";
    QCOMPARE(stages, expected << "Finished");
    QCOMPARE(runs.count(), done.size());
    times << body.DeltaET->text() << body.TotalET->text();
    for (int i = 0; i < times.size(); i += 2) {
        bool okD = false, okT = false;
        QVERIFY(times[i].toDouble(&okD) >= 0.0 && okD);
        QVERIFY(times[i + 1].toInt(&okT) >= (i ? times[i - 1].toInt() : 0) && okT);
    }
    // Each set's files carry its own name as tag and sit in its own energy folder.
    QStringList files;
    for (int n : done)
        for (const char *no : { "00001", "00002" })
            files << QString("%1/scan-%1-%2.dat").arg(names[n - 1], no);
    files.sort();
    QTRY_COMPARE(datFilesBelow(out.path()), files);
}

void TestBodySeq::stopLetsTheRunUnderWayFinish()
{
    QTemporaryDir data, out;
    QStringList names;
    QVERIFY(makeDataFolder(data.path(), 4, names));
    Body body;
    prepare(body, data.path(), out.path(), 1, 4, true);
    connect(body.ProgressMsg, &QLineEdit::textChanged, &body, [&body](const QString &t) {
        if (t == "Calculating")
            body.SeqCalc->click();
    });
    QSignalSpy runs(&body, &Body::calcFinished);
    body.SeqCalc->click();
    QTRY_VERIFY_WITH_TIMEOUT(stages.endsWith("Finished"), 30000);
    QTRY_COMPARE(runs.count(), 1);
    const QString e = names[0];
    const QStringList expected { e + "/scan-" + e + "-00001.dat", e + "/scan-" + e + "-00002.dat" };
    QTRY_COMPARE(datFilesBelow(out.path()), expected);
    // The end of that run moves nothing on: no further set is loaded or reconstructed.
    QTest::qWait(300);
    QCOMPARE(stages,
        (QStringList { "Data Loading", "Loading first Data Set", "Calculating", "Finished" }));
    QCOMPARE(runs.count(), 1);
    QVERIFY(!body.xafsBatch->running);
    QCOMPARE(datFilesBelow(out.path()), expected);
}

QTEST_MAIN(TestBodySeq)
#include "tst_BodySeq.moc"
