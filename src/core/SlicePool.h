#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class ImgDatas;
class QThread;
class ResultSaver;
struct CtParams;

// What every slice of one run is made from and where its files go. The images, the parameter
// block and the saver stay unchanged while the run goes on.
struct SliceRunSetup
{
    const ImgDatas *images = nullptr;
    const CtParams *params = nullptr;
    bool rotAxIsV = true;
    double cor = 0;
    // The engines are sized for results of n x n pixels and this many projections at the
    // run's start, as a window's run sizes them; a slice that needs other sizes gets them.
    int engineN = 0;
    int engineProjections = 0;
    // The calculation region x0 <= x < x1, z0 <= z < z1; without one, the whole n x n result.
    bool regionSet = false;
    double x0 = 0, z0 = 0, x1 = 0, z1 = 0;
    // The files of each slice: folder, name and tag parts, and which files.
    QString path, name, tag;
    bool data = true;
    bool pictures = false;
    bool tiff = false;
    bool tiffZlib = false;
};

// Reconstruction workers without widgets: a pool of threads that make the slices of a list
// through the slice pipeline (sinogram, ring removal, angles, filter, engine of the run's
// method), each thread with its own sinogram record and engine, and post the result files
// (CT image data file, float TIFF slice, picture) to a ResultSaver. The slices are handed out
// one per idle worker at a time, in the order of the list. A slice that cannot be made is a
// counted failure naming it; the run goes on.
class SlicePool : public QObject
{
    Q_OBJECT
public:
    explicit SlicePool(ResultSaver *saver, QObject *parent = nullptr);
    // Ends the threads (shutDown()).
    ~SlicePool() override;

    // Starts up to `threads` workers, named "reconstruction worker N" when the system refuses
    // one: the first is essential (a counted failure), the others are left out. Returns how
    // many run.
    int start(int threads);
    int workers() const { return int(threads.size()); }

    // Makes `slices` with `setup` on the workers; returns at once. `progressed` follows every
    // slice done, `finished` the last one. Call only while no run is going on (after
    // `finished`).
    void run(const SliceRunSetup &setup, const QList<int> &slices);
    // Hands out no further slice, for this run and any later one; `finished` follows once
    // the slices in progress are done (and their files posted).
    void stop();
    int slicesDone() const;

    // Ends the worker threads, after the slices in progress.
    void shutDown();

signals:
    // Emitted on a worker's thread: connect with a receiver on the owner's thread.
    void progressed(int done);
    void finished();

private:
    struct Worker;
    void workerLoop(Worker *w);
    void makeSlice(Worker &w, const SliceRunSetup &setup, int slice);

    ResultSaver *saver;
    std::vector<QThread *> threads;
    std::vector<std::unique_ptr<Worker>> state;

    mutable std::mutex mutex;
    std::condition_variable work;
    SliceRunSetup setup;
    QList<int> slices;
    int generation = 0; // counts the runs
    qsizetype next = 0;
    int inProgress = 0;
    int done = 0;
    bool running = false; // a run whose `finished` has not been emitted
    bool stopping = false;
    bool quitting = false;
};
