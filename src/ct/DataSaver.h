#pragma once

#include "SavingData.h"
#include "SavingImg.h"

#include <QMap>
#include <QObject>
#include <QStringList>

#include <atomic>

// Writes the workers' CT image data files and pictures on a thread of its own, so that no
// worker waits for the disk. Records arrive by queued signals and are written strictly in
// arrival order; each file is written under a temporary name in its folder and renamed into
// place, so a reader never sees half a file.
//
// Close-down: QThread::quit() alone would drop every record still queued (and leak it). The
// owner therefore calls shutDown() from its own thread after the producers have stopped
// sending; it drains the queue, then quits and waits for the saver's thread.
class DataSaver : public QObject
{
    Q_OBJECT
public:
    explicit DataSaver(QObject *parent = nullptr);

    // Makes "SavingData*" and "SavingImg*" known to the meta-type system (done by the
    // constructor; harmless to repeat).
    static void registerTypes();

    // Called from any thread but the saver's own: writes every record queued so far, then
    // quits and waits for the saver's thread. Starts the thread first if it never ran, so
    // records sent before it started are not lost either.
    void shutDown();

    // Folder flags: written by the GUI thread at each run start, read here for every record
    // (possibly while records of the previous run are still being written).
    std::atomic<bool> inSubFolders { true };
    std::atomic<bool> ofEnergy { false };
    std::atomic<bool> ofSlice { false };
    // Files written since the start (read from any thread for the run's report).
    std::atomic<qint64> written { 0 };
    // The float TIFF slices written since the last beginRun(), by slice number (the first
    // copy of each): what a volume of the run is made of. Saver's thread only.
    QMap<int, QString> runTiffSlices;
    void beginRun() { runTiffSlices.clear(); }

public slots:
    void saveDataWDiscard(SavingData *data);
    void saveData(SavingData *data);
    void saveImg(SavingImg *img);
    void saveImgWDiscard(SavingImg *img);
    // Runs in the saver's thread: delivers every record still waiting in its queue.
    void finish();

private:
    QStringList prepareFolders(const QString &path, const QString &tag, const QString &no);
};
