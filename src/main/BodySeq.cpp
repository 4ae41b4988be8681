// Sequential execution over the data sets of a data folder: the controller on its own thread,
// the main window's answers to its stages, and the stage read-out.
#include "Body.h"

#include "CtCalc.h"
#include "CtCalc2Ui.h"
#include "ImgDatas.h"
#include "ProcCtrl.h"
#include "RowWindow.h"
#include "ThreadStart.h"

#include "DataSaver.h"
#include "Failures.h"
#include "SelectAFile.h"
#include "SelectDataDir.h"
#include "SeriesTree.h"
#include "Sinogram.h"
#include "SpectrumView.h"
#include "StackBuilder.h"
#include "TextUtil.h"
#include "XafsBatch.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

const QString IdleStyle = QStringLiteral("background-color: rgb(213, 245, 255);");
const QString RunningStyle = QStringLiteral("background-color: rgb(255, 255, 128);");

double offsetOf(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok ? v : 0.0;
}

} // namespace

void Body::setupXafsBatch()
{
    xafsBatchThread = new QThread;
    xafsBatchThread->setObjectName("XafsBatch");
    xafsBatch->moveToThread(xafsBatchThread);
    threadsStarted = startThread(xafsBatchThread, "the sequential execution") && threadsStarted;

    // The controller lives on its own thread: every connection below is queued both ways, so
    // each side acts on the other's signal only after the signal has been handed over.
    connect(SeqCalc, &QPushButton::clicked, xafsBatch, &XafsBatch::start);
    connect(xafsBatch, &XafsBatch::starting, this, &Body::startingSeqCalc);
    connect(xafsBatch, &XafsBatch::stage, this, &Body::noticedStage);
    connect(xafsBatch, &XafsBatch::setFirstImageSet, this, &Body::setFirstImageSet);
    connect(xafsBatch, &XafsBatch::setNextImageSet, this, &Body::setNextImageSet);
    connect(xafsBatch, &XafsBatch::execCalculation, this, &Body::startSeqCalculation);
    connect(xafsBatch, &XafsBatch::finished, this, &Body::finishedSeqCalc);
    connect(this, &Body::finishedLoadingCTFiles, xafsBatch, &XafsBatch::loadedDataSet);
    connect(this, &Body::calcFinished, xafsBatch, &XafsBatch::calcFinished);
    connect(SelDDir, &SelectDataDir::noMoreSets, xafsBatch, &XafsBatch::noMoreSets);
    connect(SeqMakeStack, &QPushButton::clicked, this, &Body::makeStackClicked);
}

void Body::startingSeqCalc()
{
    SeqCalc->setStyleSheet(RunningStyle);
}

void Body::finishedSeqCalc()
{
    SeqCalc->setStyleSheet(IdleStyle);
    seqStep.clear();
}

void Body::setFirstImageSet()
{
    // The first set of this sequence fixes the grid of "CoR per Energy" anew.
    seqGridSet = false;
    // The split clock is shared with the controller, which guards it itself.
    emit stage(tr("Loading first Data Set"), qulonglong(xafsBatch->splitTime()));
    emit setFirstSet(SeqCalcFrom->value() - 1);
}

void Body::setNextImageSet()
{
    emit stage(tr("Loading next Data Set"), qulonglong(xafsBatch->splitTime()));
    emit setNextSet(SeqCalcTo->value() - 1);
}

void Body::newSets(int count)
{
    // Another list is another series: its first set run fixes the grid of "CoR per Energy".
    seqGridSet = false;
    if (keepOnNewSet->isChecked())
        return;
    SeqCalcFrom->setValue(1);
    SeqCalcTo->setValue(count);
}

void Body::noticedStage(QString msg, qlonglong dEt)
{
    ProgressMsg->setText(msg);
    DeltaET->setText(QString::number(int(dEt / 100) / 10.0, 'g', 6));
    TotalET->setText(QString::number(xafsBatch->elapsed() / 1000));
}

void Body::startSeqCalculation()
{
    // The sets from "From" to "To" of the list; the one loaded now is the current entry.
    // A "From" above "To" runs the one set "From"; a "To" beyond the list ends with the list.
    const int first = SeqCalcFrom->value() - 1;
    const int count = std::max(first + 1, std::min(SeqCalcTo->value(), SelDDir->count())) - first;
    seqStep = tr("Energy %1 of %2").arg(SelDDir->currentIndex() - first + 1).arg(count);
    if (SeqCorPerEnergy->isChecked() && imgDatas->count() > 0)
        useCorOfThisSet();
    startCalcCt();
}

void Body::useCorOfThisSet()
{
    const bool v = procCtrl->rotAxIsV();
    const int length = v ? imgDatas->width : imgDatas->height;
    // Guessed from the middle of the line, as for the first set, whatever the last set had.
    procCtrl->setCor(length / 2.0);
    sinogram->guessCor();
    const double cor = procCtrl->cor();
    const int half = makeRowWindow(v, length, cor).half;
    if (!seqGridSet) {
        seqGridSet = true;
        seqGridHalf = half;
        seqGridCr = ctCalc->cr();
    }
    // The axis lies at pixel half - 1 of a set's result: the region moves with it.
    const double o = half - seqGridHalf;
    const CtRegion r { seqGridCr.x0 + o, seqGridCr.z0 + o, seqGridCr.x1 + o, seqGridCr.z1 + o };
    ctCalc->setCR(r.x0, r.z0, r.x1, r.z1);
    for (CtCalc2Ui *view : std::as_const(ctCalc2Uis))
        view->setCR(r.x0, r.z0, r.x1, r.z1);
    logLine(QString("Centre of rotation %1 (guessed), calculation region (%2, %3, %4, %5) of")
                .arg(cor)
                .arg(r.x0)
                .arg(r.z0)
                .arg(r.x1)
                .arg(r.z1),
        SelDDir->dataDir() + " " + SelectDataSaveDir->addTag());
}

// ---- the spectral stack of the series just run ------------------------------------------

void Body::makeStackClicked()
{
    const QString folder = SelectDataSaveDir->filePath();
    const QString file = QFileDialog::getSaveFileName(this, tr("Spectral stack"),
        QDir(folder.isEmpty() ? QStringLiteral(".") : folder).absoluteFilePath("stack.h5"),
        tr("HDF5 files (*.h5)"));
    if (!file.isEmpty())
        makeStack(file);
}

bool Body::makeStack(const QString &file)
{
    if (stackThread) {
        recordFailure(
            Failures::Command, QString("A stack is being made already: %1 is not made").arg(file));
        return false;
    }
    // The series' result tree is where the runs saved their data files: one folder per
    // energy below the data save folder.
    const QString root = SelectDataSaveDir->filePath();
    const double offset = offsetOf(DataOffset);
    StackBuilder::Options options;
    options.output = file;
    options.align = SeqAlign->isChecked();
    if (options.align) {
        const QFileInfo fi(file);
        options.tablePath = fi.absoluteDir().filePath(fi.completeBaseName() + "-shifts.txt");
    }
    logLine(QString("Making the spectral stack %1%2 from the series in")
                .arg(file, options.align ? QStringLiteral(" (aligned)") : QString()),
        root);
    SeqMakeStack->setEnabled(false);
    SeqMakeStack->setStyleSheet(RunningStyle);
    // The thread gets copies of everything it reads; it hands its outcome back queued to
    // this object, which is still alive then (shutDown waits for the thread).
    stackThread = QThread::create([this, root, offset, options] {
        SeriesTree tree;
        QString error;
        StackBuilder::Result result;
        bool ok = tree.scan(root, offset, &error);
        if (ok) {
            logLine(QString("Series of %1 energies, %2 slices of %3 x %4 %5 in")
                        .arg(tree.energies.size())
                        .arg(tree.slices.size())
                        .arg(tree.cols)
                        .arg(tree.rows)
                        .arg(tree.formatText()),
                tree.root);
            StackBuilder builder;
            builder.log = [](const QString &line) { logLine(line); };
            ok = builder.build(tree, options, result, &error);
        }
        QMetaObject::invokeMethod(
            this,
            [this, ok, file = options.output, error, suspect = result.suspect] {
                finishedStack(ok, file, error, suspect);
            },
            Qt::QueuedConnection);
    });
    stackThread->setObjectName("Stack");
    // The last run's slices may still wait in the saver's queue: the stack starts once the
    // saver has come to this request, behind every record queued before it.
    QMetaObject::invokeMethod(
        dataSaver,
        [this, t = stackThread] {
            QMetaObject::invokeMethod(
                this,
                [this, t] {
                    if (stackThread == t)
                        t->start();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void Body::finishedStack(
    bool ok, const QString &file, const QString &error, const QStringList &suspect)
{
    if (stackThread) {
        stackThread->wait();
        delete stackThread;
        stackThread = nullptr;
    }
    SeqMakeStack->setEnabled(true);
    SeqMakeStack->setStyleSheet(QString());
    if (ok) {
        const QString path = QFileInfo(file).absoluteFilePath();
        report(QString("Stack written: %1").arg(path), SeqMakeStack);
        if (!suspect.isEmpty())
            recordFailure(Failures::Other,
                QString("The alignment of %1 has likely failed: the shift of %2 is beyond "
                        "the maximum (see the table of shifts)")
                    .arg(path, suspect.join(", ")));
        madeStack = path;
        spectrumView->offerStack(path);
    } else {
        recordFailure(
            Failures::FileWrite, QString("Cannot make the stack %1: %2").arg(file, error));
        SeqMakeStack->setToolTip(error);
    }
    if (std::exchange(stackHoldsBatch, false))
        emit callBatchCheckEnd();
}

bool Body::showSpectrumOf(const CtRegion &cr, int slice, int x, int z)
{
    if (!spectrumView->stack().isOpen())
        return false;
    // The saved slices hold the calculation region, from its corner on: so does the stack.
    const int row = z - int(std::trunc(cr.z0));
    const int column = x - int(std::trunc(cr.x0));
    if (!spectrumView->showSliceVoxel(slice, row, column)) {
        logLine(QString("The voxel clicked (slice %1, row %2, column %3) is not in the stack")
                    .arg(slice)
                    .arg(row)
                    .arg(column),
            spectrumView->stack().path());
        return false;
    }
    for (int i = 0; i < ImgsTab->count(); ++i)
        if (ImgsTab->widget(i)->isAncestorOf(spectrumView) || ImgsTab->widget(i) == spectrumView)
            ImgsTab->setCurrentIndex(i);
    return true;
}
