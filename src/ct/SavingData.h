#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <atomic>

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
    ~SavingData() { --live; }

    // Records that exist right now; lets the owner check at close-down that none was lost.
    static int liveCount() { return live.load(); }

    QString path; // target folder
    QString name; // name part of the file name, may be empty
    QString tag;
    QString no; // slice number, "%05d"
    QByteArray data; // the complete file content
    QString ext = QStringLiteral("dat"); // "tif" for a float TIFF slice

private:
    static inline std::atomic<int> live { 0 };
};

Q_DECLARE_METATYPE(SavingData *)
