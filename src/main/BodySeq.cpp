// Sequential execution over the data sets of a data folder: the controller on its own thread,
// the main window's answers to its stages, and the stage read-out.
#include "Body.h"

#include "CtCalc.h"
#include "CtCalc2Ui.h"
#include "ImgDatas.h"
#include "ProcCtrl.h"
#include "RowWindow.h"
#include "ThreadStart.h"

#include "SelectDataDir.h"
#include "Sinogram.h"
#include "TextUtil.h"
#include "XafsBatch.h"

#include <QCheckBox>
#include <QPushButton>
#include <QThread>

namespace {

const QString IdleStyle = QStringLiteral("background-color: rgb(213, 245, 255);");
const QString RunningStyle = QStringLiteral("background-color: rgb(255, 255, 128);");

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
}

void Body::startingSeqCalc()
{
    SeqCalc->setStyleSheet(RunningStyle);
}

void Body::finishedSeqCalc()
{
    SeqCalc->setStyleSheet(IdleStyle);
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
