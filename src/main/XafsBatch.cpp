#include "XafsBatch.h"

#include <QMutexLocker>

XafsBatch::XafsBatch(QObject *parent)
    : QObject(parent)
{ }

qint64 XafsBatch::splitTime()
{
    const QMutexLocker lock(&mutex);
    if (!clock.isValid())
        return 0;
    const qint64 now = clock.elapsed();
    const qint64 dEt = now - lastSplit;
    lastSplit = now;
    return dEt;
}

qint64 XafsBatch::elapsed() const
{
    const QMutexLocker lock(&mutex);
    return clock.isValid() ? clock.elapsed() : 0;
}

void XafsBatch::announce(const QString &msg)
{
    emit stage(msg, splitTime());
}

void XafsBatch::start()
{
    // The same button starts and stops.
    if (running) {
        finish();
        return;
    }
    running = true;
    {
        const QMutexLocker lock(&mutex);
        clock.start();
        lastSplit = 0;
    }
    waiting = Waiting::Load;
    emit starting();
    announce(tr("Data Loading"));
    emit setFirstImageSet();
}

void XafsBatch::loadedDataSet()
{
    if (!running || waiting != Waiting::Load)
        return;
    waiting = Waiting::Calc;
    announce(tr("Calculating"));
    emit execCalculation();
}

void XafsBatch::calcFinished()
{
    if (!running || waiting != Waiting::Calc)
        return;
    waiting = Waiting::Load;
    announce(tr("Finished Calc."));
    emit setNextImageSet();
}

void XafsBatch::noMoreSets()
{
    // The selector answers a request for a set; a stray answer (the user pressing "Set" on
    // an empty list during a run) does not end the sequence.
    if (running && waiting == Waiting::Load)
        finish();
}

void XafsBatch::finish()
{
    running = false;
    waiting = Waiting::Nothing;
    announce(tr("Finished"));
    emit finished();
}
