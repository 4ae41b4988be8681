// Sequential execution over the data sets of a data folder: the controller on its own thread,
// the main window's answers to its stages, and the stage read-out.
#include "Body.h"

#include "ThreadStart.h"

#include "SelectDataDir.h"
#include "XafsBatch.h"

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
    connect(xafsBatch, &XafsBatch::execCalculation, this, &Body::startCalcCt);
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
