#pragma once

#include <QList>
#include <QObject>
#include <QString>

class ColorBar;
class ImgData;
class QImage;

// The projection images of one measurement, in the order they were added, all of one size.
// The I0 and BG readers stay owned by their selectors: the set keeps the addresses where
// the selectors hold them, so it always sees their current reader.
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

    ImgDatas() = default;
    ~ImgDatas() override;

    int count() const { return int(imgs.size()); }
    // Reader i, or nullptr outside 0 ... count() - 1.
    ImgData *at(int i) const { return i >= 0 && i < imgs.size() ? imgs.at(i) : nullptr; }
    bool toImage(int index, QImage &img, ColorBar *bar);

signals:
    void imageUpdated();

public slots:
    void clear();
    void clearImgs();
    bool add(QString filePath);
};
