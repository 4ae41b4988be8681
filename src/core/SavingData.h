#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// A result file (CT image data file or float TIFF slice) on its way from a worker to the saver.
// Sent as a pointer through a queued signal; with the "WDiscard" slots the saver becomes its owner
// and deletes it.
struct SavingData
{
    SavingData() { ++live; }
    SavingData(const SavingData &other)
        : path(other.path)
        , name(other.name)
        , tag(other.tag)
        , no(other.no)
        , data(other.data)
        , ext(other.ext)
    {
        ++live;
    }
    SavingData &operator=(const SavingData &) = default;
    ~SavingData()
    {
        --live;
        if (limit.load(std::memory_order_relaxed) > 0) {
            const std::lock_guard<std::mutex> lock(roomMutex);
            room.notify_all();
        }
    }

    // Records that exist right now; lets the owner check at close-down that none was lost.
    static int liveCount() { return live.load(); }

    // At most this many records wait for the saver while producers that call waitForRoom()
    // go on (0: no bound). Set by the owner of the workers before a run.
    static void setQueueLimit(int records) { limit = records; }
    static int queueLimit() { return limit.load(); }
    // Called by a worker thread before it makes a record: waits while the saver is behind by
    // the limit, so results pile up in memory no further than that. Never called on the GUI
    // thread. Gives up waiting after `maxWait` (a saver that cannot keep up at all must not
    // stop the run), returning false then.
    static bool waitForRoom(std::chrono::milliseconds maxWait = std::chrono::minutes(10))
    {
        const int cap = limit.load();
        if (cap <= 0 || live.load() < cap)
            return true;
        std::unique_lock<std::mutex> lock(roomMutex);
        return room.wait_for(lock, maxWait, [cap] { return live.load() < cap; });
    }

    QString path; // target folder
    QString name; // name part of the file name, may be empty
    QString tag;
    QString no; // slice number, "%05d"
    QByteArray data; // the complete file content
    QString ext = QStringLiteral("dat"); // "tif" for a float TIFF slice

private:
    static inline std::atomic<int> live { 0 };
    static inline std::atomic<int> limit { 0 };
    static inline std::mutex roomMutex;
    static inline std::condition_variable room;
};

Q_DECLARE_METATYPE(SavingData *)
