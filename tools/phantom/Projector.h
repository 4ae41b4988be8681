#pragma once

#include "DetectorGeometry.h"

#include <QString>
#include <QStringList>

#include <random>
#include <vector>

class Phantom;

// Turns line integrals into camera images and writes them as ITEX files: the transmitted
// counts I = BG + (I0 - BG) exp(-integral), optionally with Poisson noise, rounded and
// clamped to 16 bits. Every image draws its noise from a generator seeded by (seed, kind,
// set, image), so a data set comes out the same whatever the number of threads.
class Projector
{
public:
    DetectorGeometry detector;
    int projections = 360;
    double rangeDeg = 180.0;
    double i0 = 30000.0;
    double bg = 100.0;
    bool noise = false;
    quint64 seed = 1;
    double exposureTime = 1.0;
    int threads = 0; // 0: one per hardware thread

    enum Kind { ProjectionImage = 0, I0Image = 1, BGImage = 2 };

    static double counts(double lineIntegral, double i0, double bg);
    static quint16 toPixel(double counts);

    // A Poisson-distributed count of the given mean (0 for a mean that is not positive).
    static qint64 poisson(double mean, std::mt19937_64 &rng);

    // Angle of projection i in radians: i * range / projections, the first at 0.
    double angle(int i) const;

    std::mt19937_64 generator(Kind kind, int set, int image) const;

    // Expected counts of detector lines (layout of Phantom::projectLines) into an image of
    // width x height pixels, with noise drawn from rng when `noise` is set.
    void toPixels(const double *lines, quint16 *pixels, std::mt19937_64 &rng) const;

    // "<prefix>-00000.img" ...: as many digits as the count needs, at least five.
    static QString fileName(const QString &prefix, int index, int count);

    // Writes all projections of `phantom` at `energy` (eV, 0 for none) into folder as
    // fileName(prefix, i, projections), on all threads. `set` keys the noise. The paths
    // written, in order, go to `written`; on failure `error` says what went wrong.
    bool writeProjections(const Phantom &phantom, double energy, const QString &folder,
        const QString &prefix, int set, QStringList *written, QString *error) const;

    // A flat image of constant expected counts (I0 or BG), noisy when `noise` is set and
    // kind is I0Image (the background is a constant offset, not a photon count).
    bool writeFlat(const QString &path, Kind kind, int set, double energy, QString *error) const;

    // The same CT data set (energy 0, set 0: projections, I0 and BG images equal to those
    // of writeProjections and writeFlat) as one DXchange HDF5 file: /exchange/data with one
    // gzip-compressed chunk per projection (`gzipLevel` 0: uncompressed), the I0 image as
    // data_white, the BG image as data_dark, and theta in degrees.
    bool writeHdf5(
        const Phantom &phantom, const QString &path, int gzipLevel, QString *error) const;

private:
    std::vector<quint16> flatPixels(Kind kind, int set) const;
    // Angle < 0 (flat images) is left out; so is energy <= 0.
    static QString headerExtra(double angleDeg, double energy);
};
