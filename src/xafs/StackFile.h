#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

// One NeXus HDF5 file holding a CT-XAFS series as a spectral stack:
//   /entry                 NXentry
//   /entry/spectra         NXdata, signal "mu", axes ["energy", ".", ".", "."]
//     mu                   float32 (energies, slices, rows, columns)
//     energy               float64 (energies), units "eV"
//     cor                  float64 (energies), the centre of rotation of each energy
//     shift                float64 (energies, 3): slices, rows, columns, in pixels
//     slice_numbers        int32 (slices)
// It is written under a temporary name in the target folder and renamed into place by
// commit(), so a reader never sees half a stack. Chunk space is allocated when the file is
// made and no times (nor paths) are recorded, so the same stack gives the same bytes wherever
// and in whatever order its blocks are written.
class StackFile
{
public:
    struct Layout
    {
        int energies = 0;
        int slices = 0;
        int rows = 0;
        int cols = 0;
    };
    struct Axes
    {
        std::vector<double> energyEv;
        std::vector<double> cor;
        std::vector<std::array<double, 3>> shift;
        std::vector<int> sliceNumbers;
    };
    struct Notes
    {
        QString method; // the reconstruction method, "unknown" when not known
        QString filter;
        QString valueScale; // what a value of mu is
        QString alignment; // how the energies were aligned, "none" when they were not
    };

    StackFile() = default;
    ~StackFile();
    StackFile(const StackFile &) = delete;
    StackFile &operator=(const StackFile &) = delete;

    // Up to 8 energies x 1 slice x up to 32 x 32 pixels (each axis cut in equal parts): a
    // voxel's spectrum is a handful of chunks (one per 8 energies), and a slice of one energy
    // reads at most 8 times its own size, both in a few chunk reads.
    static std::array<int, 4> chunkShape(const Layout &layout);

    // `cacheBytes` bounds the chunk cache that gathers partly written chunks.
    bool create(const QString &path, const Layout &layout, qint64 cacheBytes, QString *error);
    // `count` energies from `firstEnergy` of one slice (index into the slices):
    // count x rows x cols floats.
    bool writeBlock(int firstEnergy, int count, int slice, const float *data, QString *error);
    bool writeAxes(const Axes &axes, const Notes &notes, QString *error);
    // Closes the file and renames it into place (an older file of that name is replaced).
    bool commit(QString *error);
    // Closes and removes the temporary file; nothing is left behind.
    void abort();

    QString temporaryPath() const { return tmpPath; }

private:
    void closeAll();

    QString target;
    QString tmpPath;
    Layout size;
    long long file = -1;
    long long muSet = -1;
    std::vector<float> chunkBuffer;
};
