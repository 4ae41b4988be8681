#include "SliceDispatcher.h"

#include "CtCalc2.h"

#include <QTextStream>

#include <cstdlib>
#include <unistd.h>

SliceDispatcher::SliceDispatcher(const QList<CtCalc2 *> &workers_, bool rotAxIsV_, double cor_,
    int from_, int to_, int step_, QObject *parent)
    : QObject(parent)
    , workers(workers_)
    , rotAxIsV(rotAxIsV_)
    , cor(cor_)
    , from(from_)
    , to(to_)
    , step(step_ == 0 ? 1 : std::abs(step_) * (to_ < from_ ? -1 : 1))
    , next(from_)
    , total(std::abs(to_ - from_) / std::abs(step) + 1)
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

bool SliceDispatcher::inRange(int slice) const
{
    return step > 0 ? slice >= from && slice <= to : slice <= from && slice >= to;
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
        if (!inRange(next))
            break;
        if (taken.contains(w) || w->busy.load())
            continue;
        taken.insert(w);
        emit startCt(w, rotAxIsV, cor, next, false);
        next += step;
    }
    if (!inRange(next) && taken.isEmpty())
        emit finished();
}

void SliceDispatcher::workerFinished(CtCalc2 *worker)
{
    if (!taken.remove(worker))
        return;
    ++done;
    // On a terminal one line counts up; in a log file a line per tenth is enough.
    static const bool terminal = ::isatty(STDOUT_FILENO);
    const int tenth = 10 * done / total;
    if (terminal || tenth != 10 * (done - 1) / total) {
        QTextStream(stdout) << (terminal ? "\r" : "")
                            << QString("%1 of %2 slices done (%3 %)")
                                   .arg(done)
                                   .arg(total)
                                   .arg(100.0 * done / total, 0, 'f', 1)
                            << (!terminal || done == total ? "\n" : "") << Qt::flush;
    }
    handOut();
}
