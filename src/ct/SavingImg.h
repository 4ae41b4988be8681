#pragma once

#include <QImage>
#include <QMetaType>
#include <QString>

#include <atomic>

// A result picture on its way from a worker to the saver; same ownership rules as SavingData.
struct SavingImg
{
    SavingImg() { ++live; }
    SavingImg(const SavingImg &other)
        : path(other.path)
        , name(other.name)
        , tag(other.tag)
        , no(other.no)
        , img(other.img)
    {
        ++live;
    }
    SavingImg &operator=(const SavingImg &) = default;
    ~SavingImg() { --live; }

    // Records that exist right now; lets the owner check at close-down that none was lost.
    static int liveCount() { return live.load(); }

    QString path;
    QString name;
    QString tag;
    QString no; // slice number, "%05d"
    QImage img; // a copy of the worker's picture

private:
    static inline std::atomic<int> live { 0 };
};

Q_DECLARE_METATYPE(SavingImg *)
