#include "SliceDispatcher.h"

#include "CtCalc2.h"

SliceDispatcher::SliceDispatcher(const QList<CtCalc2 *> &workers_, bool rotAxIsV_, double cor_,
    const QList<int> &slices_, QObject *parent)
    : QObject(parent)
    , workers(workers_)
    , rotAxIsV(rotAxIsV_)
    , cor(cor_)
    , slices(slices_)
    , total(int(slices_.size()))
{
    for (CtCalc2 *w : workers) {
        // Queued: the worker lives on its own thread, the dispatcher on the GUI thread.
        connect(this, &SliceDispatcher::startCt, w,
            qOverload<CtCalc2 *, bool, double, int, bool>(&CtCalc2::startCt));
        connect(w, &CtCalc2::calcFinished, this, [this, w] { workerFinished(w); });
    }
}

void SliceDispatcher::start()
{
    timer.start();
    handOut();
}

void SliceDispatcher::stop()
{
    if (stopping)
        return;
    stopping = true;
    if (taken.isEmpty() && timer.isValid())
        emit finished();
}

void SliceDispatcher::handOut()
{
    if (stopping) {
        if (taken.isEmpty())
            emit finished();
        return;
    }
    for (CtCalc2 *w : std::as_const(workers)) {
        if (next >= slices.size())
            break;
        if (taken.contains(w) || w->busy.load())
            continue;
        taken.insert(w);
        emit startCt(w, rotAxIsV, cor, slices.at(next++), false);
    }
    if (next >= slices.size() && taken.isEmpty())
        emit finished();
}

void SliceDispatcher::workerFinished(CtCalc2 *worker)
{
    if (!taken.remove(worker))
        return;
    ++done;
    emit progressed(done);
    handOut();
}
