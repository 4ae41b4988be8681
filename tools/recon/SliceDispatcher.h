#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>

class CtCalc2;

// Hands a list of slices to idle reconstruction workers, one slice per worker at a
// time, and reports how many are done. A worker counts as taken from the moment a
// slice is addressed to it until it reports back, because its own busy flag is only raised
// when the queued request reaches its thread.
class SliceDispatcher : public QObject
{
    Q_OBJECT
public:
    SliceDispatcher(const QList<CtCalc2 *> &workers, bool rotAxIsV, double cor,
        const QList<int> &slices, QObject *parent = nullptr);

    void start();
    // Hands out no further slice; `finished` follows once the slices in progress are done.
    void stop();
    bool stopped() const { return stopping; }
    int slicesTotal() const { return total; }
    int slicesDone() const { return done; }
    qint64 elapsedMs() const { return timer.elapsed(); }

signals:
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg);
    void finished();
    // After every slice a worker has reported: the number of slices done so far.
    void progressed(int done);

private:
    void workerFinished(CtCalc2 *worker);
    void handOut();

    QList<CtCalc2 *> workers;
    QSet<CtCalc2 *> taken;
    bool rotAxIsV;
    double cor;
    QList<int> slices;
    qsizetype next = 0;
    int total;
    int done = 0;
    bool stopping = false;
    QElapsedTimer timer;
};
