// Sequential execution in the real main window: a data folder of energy sub-folders written by
// the phantom generator, loaded and reconstructed set after set by the real workers, with the
// results saved per energy.
#include "Body.h"

#include "Batch.h"
#include "CtCalc.h"
#include "CtCalc2Ui.h"
#include "DispB.h"
#include "EnergyNaming.h"
#include "Failures.h"
#include "ImgDispWPV.h"
#include "Phantom.h"
#include "Projector.h"
#include "SelectDataDir.h"
#include "SelectDataFiles.h"
#include "SpectrumView.h"
#include "XafsBatch.h"
#include "xafs/AxisDriftSeries.h"

#include <QProgressBar>
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

// The debug log of the test's run, from any thread.
class LogLines
{
public:
    LogLines()
    {
        sink() = this;
        previous = qInstallMessageHandler(handler);
    }
    ~LogLines()
    {
        qInstallMessageHandler(previous);
        sink() = nullptr;
    }
    QStringList matching(const QString &part)
    {
        QMutexLocker lock(&mutex);
        return lines.filter(part);
    }

private:
    static LogLines *&sink()
    {
        static LogLines *s = nullptr;
        return s;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg)
    {
        if (LogLines *s = sink()) {
            QMutexLocker lock(&s->mutex);
            s->lines << msg;
        }
    }
    QMutex mutex;
    QStringList lines;
    QtMessageHandler previous = nullptr;
};

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeText(const QString &path, const QString &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Text) && f.write(text.toUtf8()) >= 0;
}

// Runs a batch file with the window's own interpreter and waits until it has stopped; the
// last line marks the end, so that a batch too quick to be seen running is not missed. The
// mark is put in the data offset field, which then goes back to what the batch left there:
// runs after the batch must save with that offset, not with none.
bool runBatch(Body &b, const QString &path, const QString &text)
{
    if (!writeText(path, text + "\nauto_save_data_offset batch-done\n"))
        return false;
    QString left = b.DataOffset->text();
    const auto c
        = QObject::connect(b.DataOffset, &QLineEdit::textChanged, [&left](const QString &t) {
              if (t != "batch-done")
                  left = t;
          });
    b.batchLoad(path);
    b.batchExec();
    const bool ended = QTest::qWaitFor(
        [&b] { return b.DataOffset->text() == "batch-done" && !b.batch->running; }, 120000);
    QObject::disconnect(c);
    b.DataOffset->setText(left);
    return ended;
}

QString regionText(const CtRegion &r)
{
    return QString("(%1, %2, %3, %4)").arg(r.x0).arg(r.z0).arg(r.x1).arg(r.z1);
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
    void conditionsHoldForEverySet_data();
    void conditionsHoldForEverySet();
    void readmeLoopRunsEveryEnergy();
    void corPerEnergyKeepsOneGrid_data();
    void corPerEnergyKeepsOneGrid();
    void stackOfTheSequence_data();
    void stackOfTheSequence();

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
    // The progress bar names each set's place in the sequence.
    QStringList steps;
    auto *bar = body.findChild<QProgressBar *>("RunProgress");
    QVERIFY(bar);
    connect(&body, &Body::calcFinished, this, [&] { steps << bar->format().section(':', 0, 0); });
    body.SeqCalc->click();
    QTRY_VERIFY_WITH_TIMEOUT(stages.endsWith("Finished"), 60000);
    QStringList expectedSteps;
    for (int i = 1; i <= done.size(); ++i)
        expectedSteps << QString("Energy %1 of %2").arg(i).arg(done.size());
    QCOMPARE(steps, expectedSteps);
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

void TestBodySeq::conditionsHoldForEverySet_data()
{
    // How the conditions are set before "Seq. Calc.": typed with no set loaded, or on a set
    // of `handLines` lines loaded by hand (the series' sets have 4).
    QTest::addColumn<int>("handLines");
    QTest::addColumn<bool>("kept");
    QTest::newRow("typed before any load") << 0 << true;
    QTest::newRow("set on a set of the same size") << 4 << true;
    QTest::newRow("set on a set of another size") << 6 << false;
}

void TestBodySeq::conditionsHoldForEverySet()
{
    QFETCH(int, handLines);
    QFETCH(bool, kept);
    QTemporaryDir data, out, hand;
    QStringList names;
    QVERIFY(makeDataFolder(data.path(), 3, names));
    Body body;
    prepare(body, data.path(), out.path(), 1, 3, true);
    body.CTFiles->setKeepConditions(false);
    if (handLines > 0) {
        Projector p;
        p.detector.width = 32;
        p.detector.height = handLines;
        p.projections = 12;
        QStringList files;
        QString error;
        QVERIFY2(p.writeProjections(
                     Phantom::head(p.detector), 8950.0, hand.path(), "h", 0, &files, &error),
            qPrintable(error));
        QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
        body.CTFiles->handleChosenFiles(files);
        QVERIFY(loaded.wait(10000));
    }
    // As the user does it: typed into the fields, a region drawn on the CT view.
    auto type = [&body](const char *field, const QString &text) {
        auto *edit = body.procCtrl->findChild<QLineEdit *>(field);
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    };
    type("Cor", "17.25");
    type("SliceFrom", "1");
    type("SliceTo", "2");
    type("SliceStep", "1");
    body.ctCalc2Uis.first()->setCR(3, 4, 25, 26);
    body.ctCalc2Uis.first()->setDR(3, 4, 25, 26);
    body.procCtrl->setRecord1(1, 17.0);

    struct Seen
    {
        double cor;
        int from, to;
        QString cr, dr;
    };
    QList<Seen> seen;
    connect(&body, &Body::finishedLoadingCTFiles, &body, [&] {
        seen << Seen { body.procCtrl->cor(), body.procCtrl->sliceFrom(), body.procCtrl->sliceTo(),
            regionText(body.ctCalc->cr()), regionText(body.ctCalc2Uis.last()->dr()) };
    });
    LogLines log;
    body.SeqCalc->click();
    QTRY_VERIFY_WITH_TIMEOUT(stages.endsWith("Finished"), 60000);
    QCOMPARE(seen.size(), 3);
    const QString region = regionText({ 3, 4, 25, 26 });
    for (const Seen &s : seen) {
        QCOMPARE(s.cor, kept ? 17.25 : 16.0);
        QCOMPARE(s.from, kept ? 1 : 0);
        QCOMPARE(s.to, kept ? 2 : 3);
        QCOMPARE(s.cr, kept ? region : regionText({ 0, 0, 31, 31 }));
        QCOMPARE(s.dr, kept ? region : regionText({ 0, 0, 31, 31 }));
    }
    QCOMPARE(body.procCtrl->recSlice1(), 1);
    QCOMPARE(body.procCtrl->recCor1(), 17.0);
    // A default that replaces a user's value says which, from what to what, once.
    const QString prefix = "The default for the new set of 32 x 4 images replaces the ";
    const QStringList said = log.matching(prefix);
    if (kept) {
        QCOMPARE(said, QStringList {});
    } else {
        QCOMPARE(said.size(), 3);
        QVERIFY(said.contains(prefix + "CoR set by the user: 17.25 -> 16"));
        QVERIFY(said.contains(prefix + "slice range set by the user: 1...2 -> 0...3"));
        QVERIFY(said.contains(
            prefix + "calculation region set by the user: (3, 4, 25, 26) -> (0, 0, 31, 31)"));
    }
    QStringList files;
    for (const QString &n : names)
        for (const char *no : kept ? QList<const char *> { "00001", "00002" }
                                   : QList<const char *> { "00000", "00001", "00002", "00003" })
            files << QString("%1/scan-%1-%2.dat").arg(n, no);
    files.sort();
    QTRY_COMPARE(datFilesBelow(out.path()), files);
}

void TestBodySeq::readmeLoopRunsEveryEnergy()
{
    // The loop exactly as the README shows it, on the data its phantom command writes (fewer
    // lines and projections), with only the folders put in the temporary ones.
    QFile readme(VEXA_README);
    QVERIFY(readme.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(readme.readAll());
    const QRegularExpression block(
        "a CT-XAFS loop over energy sets looks like.*?```\\n(.*?)```.*?```\\n(.*?)```",
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = block.match(text);
    QVERIFY2(m.hasMatch(), "the README's CT-XAFS example is not where it was");
    QStringList phantomArgs = QProcess::splitCommand(m.captured(1).trimmed());
    QVERIFY(phantomArgs.size() > 2 && phantomArgs.takeFirst().endsWith("vexa2-phantom"));
    QString loop = m.captured(2);

    QTemporaryDir tmp;
    const QString data = tmp.filePath("scan");
    const QString recon = tmp.filePath("recon");
    phantomArgs.replaceInStrings("/data/scan", data);
    phantomArgs << "--height"
                << "4"
                << "-n"
                << "24"
                << "--noise"
                << "--seed"
                << "7";
    QProcess phantom;
    phantom.start(
        qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/tools/phantom/vexa2-phantom", phantomArgs);
    QVERIFY(phantom.waitForFinished(120000));
    QCOMPARE(phantom.exitCode(), 0);
    const QStringList energies
        = QDir(data).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QCOMPARE(energies.size(), 3);

    Body body;
    loop.replace("/data/scan", data).replace("/data/recon", recon);
    QVERIFY(runBatch(body, tmp.filePath("loop.bat"), loop));

    // Each energy by hand, with its own I0 image and the loop's CoR: the loop must have
    // written the very same files.
    const QString cor = QRegularExpression("ct_cor\\s+(\\S+)").match(loop).captured(1);
    QVERIFY(!cor.isEmpty());
    const QString ref = tmp.filePath("ref");
    QString byHand = QString("ct_rot_ax_is_v 1\nbg_load \"%1/BG.img\"\nct_auto_exec 1\n"
                             "auto_save_data_path \"%2\"\nauto_save_data 1\n"
                             "auto_save_in_sub_folders_of_energy 1\n")
                         .arg(data, ref);
    // The loop's filter too, when it names one.
    const QString filter = QRegularExpression("ct_filter\\s+(\\S+)").match(loop).captured(1);
    if (!filter.isEmpty())
        byHand += "ct_filter " + filter + "\n";
    for (const QString &e : energies)
        byHand += QString("ct_cor %1\ni0_load \"%2/I0-%3-00000.img\"\nauto_save_data_tag %3\n"
                          "images_load \"%2/%3\" *.img\ncalc_exec\n")
                      .arg(cor, data, e);
    Body check;
    QVERIFY(runBatch(check, tmp.filePath("ref.bat"), byHand));

    QStringList expected;
    for (const QString &e : energies)
        for (int slice = 0; slice < 4; ++slice)
            expected << QString("%1/%1-%2.dat").arg(e).arg(slice, 5, 10, QChar('0'));
    expected.sort();
    QTRY_COMPARE(datFilesBelow(recon), expected);
    QTRY_COMPARE(datFilesBelow(ref), expected);
    for (const QString &f : expected)
        QVERIFY2(contentOf(recon + '/' + f) == contentOf(ref + '/' + f), qPrintable(f));
}

void TestBodySeq::corPerEnergyKeepsOneGrid_data()
{
    QTest::addColumn<bool>("perEnergy");
    QTest::addColumn<bool>("byBatch"); // the batch loop, else the "Seq. Calc." button
    QTest::newRow("own centre per set, button") << true << false;
    QTest::newRow("own centre per set, batch loop") << true << true;
    // One fixed centre for a moving axis must blur the later sets: each set's own data.
    QTest::newRow("one centre, button") << false << false;
    QTest::newRow("one centre, batch loop") << false << true;
}

void TestBodySeq::corPerEnergyKeepsOneGrid()
{
    // The rotation axis moves by up to 2 px between the sets; the sample does not. With "CoR
    // per Energy" each set gets its own centre and its slices the first set's grid; without
    // it every set is reconstructed about the first set's axis.
    QFETCH(bool, perEnergy);
    QFETCH(bool, byBatch);
    LogLines log;
    QTemporaryDir data, out;
    const double axis = 32;
    // Whole pixels: a set whose axis sits half a pixel off the first's is resampled otherwise
    // (linear interpolation at another fraction) and differs by some 12 % however exact its
    // centre is.
    const QList<double> drifts { 0, 2.0, -1.0 };
    QVERIFY(writeAxisDriftSeries(data.path(), axis, drifts, 64, 3, 60));
    Body body;
    QVERIFY(runBatch(body, out.filePath("setup.bat"),
        QString("ct_rot_ax_is_v 1\nbg_load \"%1/BG.img\"\ni0_load \"%1/I0-07100_0eV-00000.img\"\n"
                "seq_cor_per_energy %2")
            .arg(data.path())
            .arg(perEnergy ? 1 : 0)));
    QCOMPARE(body.SeqCorPerEnergy->isChecked(), perEnergy);
    prepare(body, data.path(), out.path() + "/recon", 1, 3, false);
    if (byBatch) {
        QVERIFY(runBatch(body, out.filePath("loop.bat"),
            QString("seq_exec_select_i0 \"%1\" I0-*.img\nct_cor %2\nloop\nseq_exec_set\n"
                    "calc_exec\nseq_exec_next\n:ifok :goto loop")
                .arg(data.path())
                .arg(axis)));
    } else {
        body.setProcCor(axis);
        body.SeqCalc->click();
        QTRY_VERIFY_WITH_TIMEOUT(stages.endsWith("Finished"), 60000);
    }

    // The slices were saved with the default offset, taken off below.
    QCOMPARE(body.DataOffset->text(), QString("10"));
    std::vector<float> first;
    QPointF c0;
    int w0 = 0, h0 = 0;
    // The first slice's rotation axis lies on the middle sample of its sampling window.
    double axisPixel = 0;
    for (int k = 0; k < drifts.size(); ++k) {
        const QString tag = QString("%1_0eV").arg(7100 + 5 * k, 5, 10, QChar('0'));
        const QString path = QString("%1/recon/%2/scan-%2-00001.dat").arg(out.path(), tag);
        QTRY_VERIFY2(QFileInfo::exists(path), qPrintable(path));
        // The data file's pixels (x, z, value + offset 10), its region's size from its lines.
        const QList<QByteArray> lines = contentOf(path).split('\n');
        std::vector<float> v;
        int w = 0, h = 0;
        for (const QByteArray &line : lines) {
            const QList<QByteArray> items = line.split('\t');
            if (line.startsWith('#') || items.size() != 3)
                continue;
            if (v.empty())
                w = h = 0;
            v.push_back(items[2].toFloat() - 10.0f);
            w = std::max(w, items[0].toInt() + 1);
            h = std::max(h, items[1].toInt() + 1);
        }
        const int x0 = lines.value(1).split(':').value(1).trimmed().toInt();
        const int z0 = lines.value(2).split(':').value(1).trimmed().toInt();
        w -= x0;
        h -= z0;
        QCOMPARE(qsizetype(v.size()), qsizetype(w) * h);
        // Each set's centre is logged with it and follows its axis (a guess within 0.5 px).
        const QStringList said = log.matching("Centre of rotation").filter(tag);
        double cor = axis;
        if (perEnergy) {
            QCOMPARE(said.size(), 1);
            cor = QRegularExpression("Centre of rotation (\\S+)")
                      .match(said.first())
                      .captured(1)
                      .toDouble();
            QVERIFY2(std::abs(cor - (axis + drifts[k])) <= 0.5,
                qPrintable(
                    QString("%1: centre %2, axis at %3").arg(tag).arg(cor).arg(axis + drifts[k])));
        } else {
            QVERIFY(said.isEmpty());
        }
        const QPointF c = centroid(v, w, h);
        if (k == 0) {
            axisPixel = std::floor(std::min(cor, 63 - cor)) - 1 - x0;
            w0 = w;
            h0 = h;
            c0 = c;
            first = v;
            continue;
        }
        QCOMPARE(w, w0);
        QCOMPARE(h, h0);
        // Voxel by voxel the same slice: a wrong centre blurs the grains. Compared within 20
        // px of the axis (the sample reaches 14), which every set's window covers: beyond
        // its window's reach a set has no values of the sample to give.
        double diff = 0, norm = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (std::hypot(x - axisPixel, y - axisPixel) > 20)
                    continue;
                const size_t i = size_t(y) * w + x;
                diff += (v[i] - first[i]) * (v[i] - first[i]);
                norm += first[i] * first[i];
            }
        const double rel = std::sqrt(diff / norm);
        qInfo("%s: relative difference %.4f", qPrintable(tag), rel);
        if (!perEnergy) {
            // About the first set's axis, 1 or 2 px off: far from the first set's slice.
            QVERIFY2(rel > 0.2,
                qPrintable(QString("%1 is the first set's slice to %2 % with a moved axis")
                               .arg(tag)
                               .arg(100 * rel)));
            continue;
        }
        QVERIFY2(rel < 0.05,
            qPrintable(QString("%1 differs from the first set by %2 %").arg(tag).arg(100 * rel)));
        QVERIFY2(std::abs(c.x() - c0.x()) < 0.1 && std::abs(c.y() - c0.y()) < 0.1,
            qPrintable(QString("%1: centre of mass %2, %3; first set %4, %5")
                           .arg(tag)
                           .arg(c.x())
                           .arg(c.y())
                           .arg(c0.x())
                           .arg(c0.y())));
    }
}

void TestBodySeq::stackOfTheSequence_data()
{
    QTest::addColumn<bool>("align");
    QTest::addColumn<bool>("byButton"); // "Load Stack Just Made", else spectra_load alone
    QTest::addColumn<bool>("series"); // the data save folder holds the sequence's results
    QTest::addColumn<bool>("ct1"); // the click is on CT1's slice, else on a worker's
    QTest::newRow("plain, loaded by the batch, worker") << false << false << true << false;
    QTest::newRow("aligned, loaded by the button, CT1") << true << true << true << true;
    QTest::newRow("no series in the save folder") << false << false << false << false;
}

void TestBodySeq::stackOfTheSequence()
{
    // After a sequence, its result tree becomes one spectral stack on a thread of its own;
    // the Spectrum tab loads it, and a click on a voxel of a worker's slice shows that
    // voxel's spectrum: the values the runs saved for it, energy by energy.
    QFETCH(bool, align);
    QFETCH(bool, byButton);
    QFETCH(bool, series);
    QFETCH(bool, ct1);
    QTemporaryDir data, out;
    QStringList names;
    QVERIFY(makeDataFolder(data.path(), 3, names));
    Body body;
    // A calculation region away from the slice's corner: the stack's rows and columns count
    // from the region's corner, the view's pixels from the slice's.
    QVERIFY(runBatch(
        body, out.filePath("region.bat"), "ct_set_calc_region 5 3 25 27\ncalc_show_res 1"));
    prepare(body, data.path(), out.path() + "/recon", 1, 3, false);
    body.SeqCalc->click();
    QTRY_VERIFY_WITH_TIMEOUT(stages.endsWith("Finished"), 60000);
    const QString stack = out.filePath("made/stack.h5");
    QVERIFY(QDir().mkpath(out.filePath("made")));
    if (!series)
        body.SelectDataSaveDir->setFilePath(out.filePath("made"));
    const int failuresBefore = Failures::instance().count();
    QVERIFY(runBatch(body, out.filePath("stack.bat"),
        QString("seq_align %1\nseq_make_stack \"%2\"%3")
            .arg(align ? 1 : 0)
            .arg(stack, byButton ? QString() : QString("\nspectra_load"))));
    QVERIFY(!body.makingStack());
    QCOMPARE(body.SeqAlign->isChecked(), align);
    auto *made = body.spectrumView->findChild<QPushButton *>("LoadMadeStack");
    QVERIFY(made);
    if (!series) {
        // Counted, named, nothing written, nothing offered; the batch went on.
        QCOMPARE(Failures::instance().count(), failuresBefore + 2); // and spectra_load alone
        QVERIFY2(Failures::instance().messages().filter("stack.h5").size() == 1,
            qPrintable(Failures::instance().messages().join('\n')));
        QVERIFY(!QFileInfo::exists(stack));
        QVERIFY(!made->isEnabled());
        QVERIFY(!body.spectrumView->stack().isOpen());
        return;
    }
    QVERIFY2(Failures::instance().count() == failuresBefore,
        qPrintable(Failures::instance().messages().join('\n')));
    QVERIFY(QFileInfo::exists(stack));
    QCOMPARE(body.madeStack, QFileInfo(stack).absoluteFilePath());
    QCOMPARE(QFileInfo::exists(out.filePath("made/stack-shifts.txt")), align);
    QVERIFY(made->isEnabled());
    if (byButton) {
        QVERIFY(!body.spectrumView->stack().isOpen());
        made->click();
    }
    const SpectraReader &reader = body.spectrumView->stack();
    QVERIFY(reader.isOpen());
    QCOMPARE(QFileInfo(reader.path()).absoluteFilePath(), QFileInfo(stack).absoluteFilePath());
    QCOMPARE(reader.energyCount(), std::size_t(3));
    QCOMPARE(reader.sliceNumbers(), (std::vector<int> { 1, 2 }));

    // The worker's view shows its last slice, 2; CT1 is made to show slice 2 of the last set.
    // A click on one of the slice's pixels.
    CtCalc2Ui *view = body.ctCalc2Uis.first();
    QCOMPARE(view->shownSlice(), 2);
    if (ct1)
        QVERIFY(runBatch(body, out.filePath("ct1.bat"),
            "ct_auto_exec 0\ncalc_ct1 1\nct_proc_slice 2\ncalc_exec\nshow_ct1"));
    else
        QVERIFY(runBatch(body, out.filePath("show.bat"), "show_ct2 1"));
    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    ImgDispWPV *d = ct1 ? body.ctCalc->display() : view->display();
    QTRY_VERIFY(d->isVisible());
    DispB *canvas = d->dispB();
    // The picture of the run's last slice reaches the view through the event loop.
    QTRY_VERIFY(!d->img.isNull() && d->shownRect().width() > 0 && canvas->width() > 0);
    const QRectF shown = d->shownRect();
    const double k = shown.width() / canvas->width();
    const int x = 17, z = 12;
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier,
        QPoint(int((x + 0.5 - shown.x()) / k), int((z + 0.5 - shown.y()) / k)));
    QVERIFY(body.ImgsTab->currentWidget()->isAncestorOf(body.spectrumView));
    const CtRegion cr = ct1 ? body.ctCalc->cr() : view->cr();
    QCOMPARE(regionText(cr), QString("(5, 3, 25, 27)"));
    const int row = z - int(cr.z0), column = x - int(cr.x0);
    QCOMPARE(body.spectrumView->current().label,
        QString("voxel 1 %1 %2").arg(row).arg(column)); // slice index 1 holds slice 2
    // Against the saved data files: the value at (x, z) less the offset 10.
    const std::vector<double> &mu = body.spectrumView->current().mu;
    QCOMPARE(mu.size(), std::size_t(3));
    for (int e = 0; e < 3; ++e) {
        const QString file = QString("%1/recon/%2/scan-%2-00002.dat").arg(out.path(), names[e]);
        double saved = std::nan("");
        for (const QByteArray &line : contentOf(file).split('\n')) {
            const QList<QByteArray> items = line.split('\t');
            if (!line.startsWith('#') && items.size() == 3 && items[0].toInt() == x
                && items[1].toInt() == z)
                saved = items[2].toDouble() - 10.0;
        }
        QVERIFY2(std::isfinite(saved), qPrintable(file));
        // Aligned: resampled by a shift of a few hundredths of a pixel at most.
        QVERIFY2(std::abs(mu[size_t(e)] - saved) < (align ? 0.02 * std::abs(saved) + 1e-3 : 1e-5),
            qPrintable(QString("%1: %2 in the stack, %3 saved")
                           .arg(names[e])
                           .arg(mu[size_t(e)])
                           .arg(saved)));
    }
}

QTEST_MAIN(TestBodySeq)
#include "tst_BodySeq.moc"
