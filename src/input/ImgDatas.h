#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "ImgData.h"

// The projection images of one measurement, in the order they were added, all of one size.
// The I0 and BG readers stay owned by their selectors: the set keeps the addresses where
// the selectors hold them, so it always sees their current reader.
//
// A listed file that cannot be used is left out, but not forgotten: the projections after it
// would otherwise be spread over the range at the wrong angles. The set keeps every refused
// file with the reason and counts as incomplete until it is cleared.
class ImgDatas : public QObject
{
    Q_OBJECT

public:
    int width = 0, height = 0;
    QList<ImgData *> imgs;
    ImgData **i0 = nullptr, **bg = nullptr;
    // I0(raw) / I0(I0 image): how much brighter the beam was while the projections were taken
    // than while the I0 image was. The I0 image's counts above the background are scaled by
    // it wherever the set's attenuation is formed. Written only while nobody reads the set.
    double i0Scale = 1.0;
    // The part of every image that `add` keeps (see ImgData::Window): a reconstruction that
    // streams its slices holds only their detector lines. The whole image by default.
    ImgData::Window window;

    struct Refusal
    {
        QString file; // path as listed
        QString reason; // a few words: "pixel block shorter than the image size"
    };
    // Files refused since the last clearImgs()/clear(), in the order they were listed.
    QList<Refusal> refused;
    // How many of `refused` have been reported to the user (by the owner of the set).
    qsizetype reportedRefusals = 0;

    ImgDatas() = default;
    ~ImgDatas() override;

    int count() const { return int(imgs.size()); }
    // Reader i, or nullptr outside 0 ... count() - 1.
    ImgData *at(int i) const { return i >= 0 && i < imgs.size() ? imgs.at(i) : nullptr; }

    // Memory that one more image like `reader` takes in the set: its pixels, its two line
    // buffers and its bookkeeping.
    static qint64 bytesPerImage(const ImgData &reader);
    // Bytes a pixel of `reader` takes in memory.
    static int bytesPerPixel(const ImgData &reader);
    // Whether `filePath` is an image a set can take (a known type that loads); `why` gets the
    // reason when it is not. Reads the file whole and keeps nothing.
    static bool readable(const QString &filePath, QString *why = nullptr);

    // Files listed since the last clear: loaded ones and refused ones.
    int listedCount() const { return int(imgs.size() + refused.size()); }
    bool isComplete() const { return refused.isEmpty(); }
    // "The image set is incomplete: 1 of 360 files could not be read (proj_00017.img: pixel
    // block shorter than the image size)"; empty for a complete set.
    QString incompleteText() const;
    // Every refused file and why: "proj_00017.img: pixel block shorter than the image size; …"
    QString refusedText() const;
    // For the I0 or BG reader (`which` is "I0" or "BG") of another size than the set: "The I0
    // image i0.img has 100 x 50 pixels, the projections 64 x 12: it is not used"; empty when
    // the reader is absent, not ready, or fits (or the set has no size yet).
    QString sizeMismatchText(const ImgData *reader, const QString &which) const;

signals:
    void imageUpdated();

private:
    QString lastRefusal; // said on the log while files are added (see ImgData::lastRefusal)

public slots:
    void clear();
    void clearImgs();
    bool add(QString filePath);
};
