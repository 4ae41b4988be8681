#pragma once

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

// Sequences a run over numbered data sets (one per X-ray energy): load a set, reconstruct it,
// go on with the next, until the data-set selector has no more. Lives on a thread of its own
// and talks to the main window only through queued signals; the main window does the loading
// and reconstructing. Every stage is announced with the time spent in the stage before it.
//
// The split clock is shared with the main window, which announces the loading stages itself.
// The two sides mostly take turns, but a stop from the user can arrive on this thread while
// the main window is announcing a stage, so the clock and the last split are kept under a
// small mutex rather than trusting the turns.
class XafsBatch : public QObject
{
    Q_OBJECT
public:
    explicit XafsBatch(QObject *parent = nullptr);

    // Written on this object's thread only; atomic so that others may look.
    std::atomic<bool> running { false };

    // Milliseconds since the previous stage of whichever side announced it, taking this
    // reading as the new previous stage; 0 before the first run. Safe from any thread.
    qint64 splitTime();
    // Milliseconds since the start of the current (or last) run; 0 before the first run.
    // Safe from any thread.
    qint64 elapsed() const;

signals:
    void stage(QString msg, qlonglong dEt);
    void starting();
    void setFirstImageSet();
    void setNextImageSet();
    void execCalculation();
    void finished();

public slots:
    void start();
    void loadedDataSet();
    void calcFinished();
    void noMoreSets();
    void finish();

private:
    // Which completion the sequence waits for. Loads and runs outside the sequence (the user
    // loading a file or pressing "Calc" while it waits for the other) must not move it on.
    enum class Waiting { Nothing, Load, Calc };

    void announce(const QString &msg);

    mutable QMutex mutex;
    QElapsedTimer clock; // guarded by mutex
    qint64 lastSplit = 0; // guarded by mutex
    Waiting waiting = Waiting::Nothing;
};
