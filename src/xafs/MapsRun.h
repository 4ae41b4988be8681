#pragma once

#include "SpectrumEdge.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

// Maps of a spectral stack: per voxel edge step, E0, half-height energy, white line, and with
// reference spectra the weight of each reference and the R-factor of the fit; optionally the
// normalised stack and float TIFF slices of every map. The stack is read by blocks of whole
// spectra within a memory budget and each block is analysed on several threads.
struct MapsOptions
{
    QString stackPath;
    QString outPath;
    SpectrumEdge::Params edge;
    bool preGiven = false; // edge.preFrom/preTo given; otherwise chosen from the energies
    bool postGiven = false; // likewise for the post-edge range
    QStringList references;
    bool sumToOne = false;
    double fitFrom = -std::numeric_limits<double>::infinity(); // eV, absolute
    double fitTo = std::numeric_limits<double>::infinity();
    int pcaComponents = 0; // 0: no denoising
    // Smallest edge step that counts as an edge; NaN: 5 x the standard error of the voxel's
    // step, from the scatter of its pre-edge about the line.
    double minStep = std::numeric_limits<double>::quiet_NaN();
    bool writeNormalised = false;
    QString tiffDir;
    int workers = 0; // 0: every hardware thread
    double memoryBudgetMiB = 1024; // for the blocks of spectra
};

struct MapsReport
{
    std::size_t energies = 0, slices = 0, rows = 0, columns = 0;
    double firstEnergy = 0, lastEnergy = 0; // eV
    double e0Guess = 0; // E0 of the mean spectrum of the middle slice, for the default ranges
    SpectrumEdge::Params edge; // the ranges used
    QStringList mapNames;
    double pcaExplained = std::numeric_limits<double>::quiet_NaN();
    std::size_t voxels = 0;
    std::size_t withoutEdge = 0; // voxels whose step was below the minimum
    std::size_t blockVoxels = 0;
    double readSeconds = 0, computeSeconds = 0, writeSeconds = 0;
    QStringList tiffFiles;
};

class MapsRun
{
public:
    // The names of the maps for these references, in file order.
    static QStringList mapNames(const QStringList &referenceStems);

    // Runs everything; false with `error` naming the file concerned. `log` receives progress
    // lines (may be empty).
    static bool run(const MapsOptions &options, MapsReport &report, QString &error,
        const std::function<void(const QString &)> &log = {});

    // The maps in a maps file (the NXdata groups of /entry with a 3-D "data"), in file order.
    static QStringList mapsIn(const QString &path);
    // One slice of one map: rows x columns values, row-major.
    static bool readMapSlice(const QString &path, const QString &name, std::size_t slice,
        std::vector<float> &out, std::size_t &rows, std::size_t &columns);

    // Writes a w x h float image as a single-page 32-bit float TIFF (atomically).
    static bool writeFloatTiff(const QString &path, const float *pixels, int w, int h,
        const QString &description, QString &error);
};
