#include "CorSweepJob.h"

#include <QMetaObject>

#include <new>
#include <system_error>

namespace {
enum Outcome : char { Untried, Made, Failed };
}

struct CorSweepJob::State
{
    CorSweep::SinogramFn sinogram;
    CtParams params;
    std::vector<double> cors;
    // One slot per centre, each written by the one thread that took its index.
    std::vector<CorSweep::Slice> slices;
    std::vector<char> outcome; // Untried, Made or Failed
    std::atomic<int> next { 0 };
    std::atomic<int> done { 0 };
    std::atomic<int> alive { 0 };
    std::atomic<bool> cancel { false };
};

CorSweepJob::CorSweepJob(QObject *parent)
    : QObject(parent)
{ }

CorSweepJob::~CorSweepJob()
{
    stopAndWait();
}

bool CorSweepJob::start(
    CorSweep::SinogramFn sinogram, const CtParams &p, std::vector<double> cors, int threadsWanted)
{
    if (running() || cors.empty() || !sinogram)
        return false;
    made.clear();
    failed.clear();
    cancelled = false;
    auto s = std::make_unique<State>();
    s->sinogram = std::move(sinogram);
    s->params = p;
    s->cors = std::move(cors);
    s->slices.resize(s->cors.size());
    s->outcome.assign(s->cors.size(), Untried);
    const int n = std::max(1, std::min(threadsWanted, int(s->cors.size())));
    ++generation;
    state = std::move(s);
    // Counted up front: a thread that ends before the next one starts must not take itself
    // for the last.
    state->alive = n;
    for (int i = 0; i < n; ++i) {
        try {
            threads.emplace_back(&CorSweepJob::work, state.get(), this, generation);
        } catch (const std::system_error &) {
            // Fewer threads do the same work; none at all cannot. When the refused ones were
            // the last counted, the threads that ran have ended without reaching 0.
            if (state->alive.fetch_sub(n - i) == n - i && !threads.empty())
                QMetaObject::invokeMethod(
                    this, [this, g = generation] { threadsEnded(g); }, Qt::QueuedConnection);
            break;
        }
    }
    if (threads.empty()) {
        state.reset();
        return false;
    }
    return true;
}

void CorSweepJob::work(State *s, QObject *owner, int generation)
{
    CorSweep sweep; // its own engine: engines are not shared between threads
    const int count = int(s->cors.size());
    for (;;) {
        if (s->cancel.load())
            break;
        const int i = s->next.fetch_add(1);
        if (i >= count)
            break;
        bool ok = false;
        try {
            ok = sweep.reconstruct(
                s->sinogram, s->params, s->cors[size_t(i)], s->slices[size_t(i)]);
        } catch (const std::bad_alloc &) {
            ok = false; // the centre is reported as failed; the others go on
        }
        s->outcome[size_t(i)] = ok ? Made : Failed;
        const int done = s->done.fetch_add(1) + 1;
        auto *job = static_cast<CorSweepJob *>(owner);
        // Queued: delivered on the job's thread, and dropped with the job if it is gone.
        QMetaObject::invokeMethod(
            owner,
            [job, done, count, generation] {
                if (job->generation == generation && job->running())
                    emit job->progress(done, count);
            },
            Qt::QueuedConnection);
    }
    if (s->alive.fetch_sub(1) == 1) {
        auto *job = static_cast<CorSweepJob *>(owner);
        QMetaObject::invokeMethod(
            owner, [job, generation] { job->threadsEnded(generation); }, Qt::QueuedConnection);
    }
}

void CorSweepJob::joinAll()
{
    for (std::thread &t : threads)
        if (t.joinable())
            t.join();
    threads.clear();
}

void CorSweepJob::threadsEnded(int g)
{
    if (g != generation || !state)
        return;
    joinAll();
    // The threads have ended: their slots are read here only. Centres left untried by a
    // cancel are neither made nor failed.
    cancelled = state->cancel.load() && state->done.load() < int(state->cors.size());
    for (size_t i = 0; i < state->cors.size(); ++i) {
        if (state->outcome[i] == Made)
            made.push_back(std::move(state->slices[i]));
        else if (state->outcome[i] == Failed)
            failed.push_back(state->cors[i]);
    }
    state.reset();
    emit finished();
}

void CorSweepJob::cancel()
{
    if (state)
        state->cancel = true;
}

void CorSweepJob::stopAndWait()
{
    if (!state)
        return;
    state->cancel = true;
    joinAll();
    ++generation; // whatever is still queued from these threads is ignored
    cancelled = true;
    state.reset();
}
