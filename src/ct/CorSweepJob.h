#pragma once

#include "CorSweep.h"
#include "CtParams.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// A CoR sweep on threads of its own, so that the window goes on painting and answering while
// the slices are made: the centres are taken in turn by a few threads, each with its own
// CorSweep (and so its own engine); the slices come out in the order of the centres, each the
// same as CorSweep::reconstruct makes it alone. Progress and the end arrive as queued signals
// on the thread the job lives on.
class CorSweepJob : public QObject
{
    Q_OBJECT
public:
    explicit CorSweepJob(QObject *parent = nullptr);
    // Lets the threads finish the slices they are making and waits for them.
    ~CorSweepJob() override;

    // Starts the sweep over `cors` on up to `threads` threads (at least one). `sinogram` is
    // called on all of them at once: it may only read what stays unchanged until finished().
    // False when a sweep is running, there is no centre, or the system gives no thread.
    bool start(
        CorSweep::SinogramFn sinogram, const CtParams &p, std::vector<double> cors, int threads);
    // The threads take no further centre; finished() follows once their slices are made.
    void cancel();
    // As cancel, but waits here for the threads and emits nothing: for an owner that goes away
    // (the data the sinogram reads is freed next).
    void stopAndWait();

    bool running() const { return state != nullptr; }
    // Of the last sweep, valid from finished() until the next start.
    bool wasCancelled() const { return cancelled; }
    const std::vector<CorSweep::Slice> &slices() const { return made; }
    // The centres of the last sweep no slice could be made at.
    const std::vector<double> &failedCors() const { return failed; }
    int threadCount() const { return int(threads.size()); }

signals:
    // `done` of the `count` centres have been tried.
    void progress(int done, int count);
    void finished();

private:
    struct State;
    static void work(State *s, QObject *owner, int generation);
    void threadsEnded(int generation);
    void joinAll();

    std::unique_ptr<State> state;
    std::vector<std::thread> threads;
    int generation = 0;
    bool cancelled = false;
    std::vector<CorSweep::Slice> made;
    std::vector<double> failed;
};
