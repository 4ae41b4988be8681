#include "ResultSaver.h"

#include "Failures.h"
#include "PngFile.h"
#include "SaveNaming.h"
#include "ThreadStart.h"
#include "WholeFile.h"

#include <QThread>

#include <exception>
#include <new>
#include <utility>

ResultSaver::ResultSaver() = default;

ResultSaver::~ResultSaver()
{
    finish();
}

bool ResultSaver::start(int writers)
{
    for (int i = 0; i < std::max(1, writers); ++i) {
        QThread *t = QThread::create([this] { writerLoop(); });
        const QString what
            = i == 0 ? QStringLiteral("the file saver") : QString("file writer %1").arg(i + 1);
        if (!startThread(t, what, i == 0)) {
            delete t;
            break;
        }
        threads.push_back(t);
    }
    return !threads.empty();
}

void ResultSaver::setQueueLimit(int records)
{
    std::lock_guard<std::mutex> lock(mutex);
    limit = std::max(0, records);
}

bool ResultSaver::waitForRoom(std::chrono::milliseconds maxWait)
{
    std::unique_lock<std::mutex> lock(mutex);
    return room.wait_for(lock, maxWait, [this] { return limit <= 0 || pending < limit; });
}

void ResultSaver::post(ResultRecord record)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back(std::move(record));
        ++pending;
    }
    work.notify_one();
}

void ResultSaver::finish()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    work.notify_all();
    // The writers end only once the queue is empty: everything posted is written.
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    threads.clear();
}

void ResultSaver::writerLoop()
{
    for (;;) {
        ResultRecord record;
        {
            std::unique_lock<std::mutex> lock(mutex);
            work.wait(lock, [this] { return closing || !queue.empty(); });
            if (queue.empty())
                return;
            record = std::move(queue.front());
            queue.pop_front();
        }
        try {
            write(record);
        } catch (const std::bad_alloc &) {
            recordFailure(Failures::Memory,
                "Cannot write the file "
                    + saveFileName(record.name, record.tag, record.no, record.ext)
                    + " (not enough memory)");
        } catch (const std::exception &e) {
            recordFailure(Failures::FileWrite,
                "Cannot write the file "
                    + saveFileName(record.name, record.tag, record.no, record.ext) + " ("
                    + QString::fromLocal8Bit(e.what()) + ")");
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            --pending;
        }
        room.notify_all();
    }
}

void ResultSaver::write(const ResultRecord &r)
{
    const QString fileName = saveFileName(r.name, r.tag, r.no, r.ext);
    // A picture is encoded once, so that each copy is written and checked as a whole.
    const bool picture = r.ext == QLatin1String("png");
    const bool whole = r.width > 0 && r.height > 0
        && r.grey.size() == std::size_t(r.width) * std::size_t(r.height);
    const QByteArray png = picture && whole
        ? PngFile::grey(r.grey.data(), r.width, r.height, r.dotsPerMetre)
        : QByteArray();
    for (const QString &folder :
        makeSaveFolders(r.path, r.tag, r.no, inSubFolders, ofEnergy, ofSlice)) {
        const QString path = joinSaveFolder(folder, fileName);
        if (picture && png.isEmpty())
            recordFailure(Failures::FileWrite, "Cannot write the file " + path);
        else if (saveWholeFile(path, picture ? png : r.data))
            ++writtenFiles;
    }
}
