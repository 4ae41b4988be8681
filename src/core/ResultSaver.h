#pragma once

#include "PngFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class QThread;

// One result file on its way to the disk: a CT image data file or float TIFF slice as its
// complete bytes, or a grey picture that the writer encodes as a PNG file.
struct ResultRecord
{
    QString path; // target folder
    QString name; // name part of the file name, may be empty
    QString tag;
    QString no; // slice number, "%05d"
    QString ext = QStringLiteral("dat"); // "tif" for a float TIFF slice, "png" for a picture
    QByteArray data; // the complete file, for "dat" and "tif"
    // A picture: width x height grey levels, row after row.
    std::vector<unsigned char> grey;
    int width = 0;
    int height = 0;
    int dotsPerMetre = PngFile::ScreenDotsPerMetre;
};

// Writes result files on threads of its own, so that no reconstruction waits for the disk,
// with the window saver's naming and folders ("of Energy", "of Slice"). Each file is written
// under a temporary name in its folder and renamed into place, so a reader never sees half a
// file; a file that cannot be written is a counted failure naming it. With one writer the
// records are written in the order they were posted.
//
// Producers bound the queue with waitForRoom() before they make a record, so that results pile
// up in memory no further than the limit however slow the disk.
class ResultSaver
{
public:
    ResultSaver();
    // Writes whatever is still queued (finish()).
    ~ResultSaver();
    ResultSaver(const ResultSaver &) = delete;
    ResultSaver &operator=(const ResultSaver &) = delete;

    // Folder flags, as the window's automatic saving has them; set before the first record.
    bool inSubFolders = true;
    bool ofEnergy = false;
    bool ofSlice = false;

    // Starts `writers` writer threads (at least one). False, with the failure recorded, when
    // the system refuses the first; writers after the first that are refused are left out
    // (said on the log). Call once.
    bool start(int writers = 1);
    int writers() const { return int(threads.size()); }

    // At most this many records wait or are being written while producers that call
    // waitForRoom() go on (0: no bound).
    void setQueueLimit(int records);
    // Waits while the limit is reached. Never call it on the thread that would have to make
    // room. Gives up after `maxWait` (a disk that does not take anything must not stop the
    // run), returning false then.
    bool waitForRoom(std::chrono::milliseconds maxWait = std::chrono::minutes(10));
    // Queues a record for writing; any thread.
    void post(ResultRecord record);

    // Waits until every record posted so far is written, then ends the writers. Call from the
    // owner's thread once nothing posts any more.
    void finish();

    // Files written since the start; any thread.
    qint64 written() const { return writtenFiles.load(); }

private:
    void writerLoop();
    void write(const ResultRecord &record);

    std::vector<QThread *> threads;
    std::mutex mutex;
    std::condition_variable work; // a record came, or the writers are to end
    std::condition_variable room; // a record was written
    std::deque<ResultRecord> queue;
    int pending = 0; // queued or being written
    int limit = 0;
    bool closing = false;
    std::atomic<qint64> writtenFiles { 0 };
};
