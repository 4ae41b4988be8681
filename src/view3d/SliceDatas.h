#pragma once

#include "SliceData.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

// One slice set of the 3D view: the slices of the selected files that fit together, their
// common value range and a histogram of all their values. The object lives on a loading
// thread of its own; `filesSelected` replaces the whole set there.
//
// Readers on other threads never see a set while it changes: a load builds a new `Set`
// aside and publishes it whole, and a reader holds the `Set` it took for as long as it
// reads, even if a newer one is published meanwhile.
class SliceDatas : public QObject
{
    Q_OBJECT
public:
    static constexpr int histBins = 50;
    static constexpr int histH = 100;

    // One complete, immutable state of the set.
    struct Set
    {
        bool loaded = false;
        std::vector<SliceData> slices;
        int sw = 0;
        int sh = 0;
        double vMin = 0;
        double vMax = 1;
        QList<int> hist;
        double binW = 1;
        double histMax = 0;
        QImage histImg;
        bool histReady = false;

        int ss() const { return int(slices.size()); }
        // Fills hist, binW, histMax and histImg from the slices and the range.
        void buildHistogram();
    };

    explicit SliceDatas(QObject *parent = nullptr);

    // The set as last published; safe from any thread.
    std::shared_ptr<const Set> current() const { return published.load(); }

    // The threshold window: (vMin, vMax) after a load, then written by the renderer from the
    // controls. Written and read on different threads, hence atomic.
    std::atomic<double> thLow { 0.0 };
    std::atomic<double> thHigh { 1.0 };

    // The data offset of CT image data files (see SliceData::dataOffset), for the next load.
    std::atomic<double> dataOffset { 10.0 };

    // Set by the owner before it ends the loading thread: a load in progress stops after the
    // file it is reading.
    std::atomic<bool> stopRequested { false };

signals:
    void cleared();
    void loadedNewFile(QString fname);
    void loadFilesFinished();
    // A selection with folders: the slice files found below them and those refused (each
    // with its reason), after cleared() and before the files are read.
    void foldersScanned(int found, QStringList refused);

public slots:
    // Files in the order given; a folder among them stands for every slice data file below
    // it (sub folders included), and the whole selection is then taken in slice order, one
    // file per slice number (the others are refused and named on the log).
    void filesSelected(QStringList files);

private:
    std::atomic<std::shared_ptr<const Set>> published;
};
