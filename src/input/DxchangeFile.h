#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Projection data sets kept the way most synchrotron facilities write them: one HDF5 file in
// the DXchange layout, with
//   /exchange/data        P x rows x columns projections (uint16, uint32 or float32),
//   /exchange/data_white  k x rows x columns flat-field images (optional),
//   /exchange/data_dark   k x rows x columns dark images (optional),
//   /exchange/theta       P angles in degrees (optional).
// The image set addresses one image of such a file as "FILE#i" (projection i), "FILE#white"
// or "FILE#dark" (the average of the white or dark images), so that every place that adds,
// lists or reloads images by name works with HDF5 projections as with camera files.
class DxchangeFile
{
public:
    enum class Part { Projection, White, Dark };
    // How an image's pixels are held: as stored (projections) or averaged (white, dark).
    enum class Pixel { UInt16, UInt32, Float32, Float64 };

    // What a valid file holds.
    struct Info
    {
        int projections = 0;
        int rows = 0;
        int columns = 0;
        int whites = 0; // images in data_white, 0 when absent
        int darks = 0;
        std::vector<double> theta; // degrees; empty when the file has none
    };

    // An open file with its projection dataset. Readers of one file share it, so that the
    // file is opened once and the decompressed chunks of one projection stay cached for the
    // next; it is closed with the last reader.
    class Source;
    using SourcePtr = std::shared_ptr<Source>;

    // True when the file starts with the HDF5 signature (at offset 0 or at one of the user
    // block offsets 512, 1024, 2048, ...).
    static bool isHdf5(const QString &path);
    // The file names the data-file dialog offers as HDF5 files.
    static QStringList nameFilters() { return { "*.h5", "*.hdf5", "*.nxs" }; }

    // Checks the layout (datasets, ranks, types, matching sizes) and reads theta. On failure
    // `error` holds a message naming the file and the dataset.
    static bool inspect(const QString &path, Info &info, QString *error);

    // Addresses of the images of a file.
    static QString address(const QString &path, int projection);
    static QString address(const QString &path, Part part);
    static QStringList projectionAddresses(const QString &path, int projections);
    // Splits an address into its file and part; false for a name that is not one (a plain
    // file, or a file that itself exists under the whole name).
    static bool splitAddress(const QString &name, QString &path, Part &part, int &index);

    // Whether theta is evenly spread: theta[i] = first + i * step within a small fraction of
    // the step. `first` and `step` are then set.
    static bool evenlySpread(const std::vector<double> &theta, double &first, double &step);

    // The data-set origin and range (degrees) that theta gives, range = step x projections;
    // `given` is false (and the two untouched) when the file has no theta. Theta that is not
    // evenly spread (or in another order): with `even` given, *even is set false, origin is the
    // first image's angle and range the span from the smallest to the largest angle plus the
    // median step between neighbouring angles (the caller then turns each projection by its
    // own angle); without it, false with `error` naming the file and the dataset. Angles that are
    // not numbers, or all alike, are refused either way.
    static bool angleRange(const QString &path, const Info &info, bool &given, double &origin,
        double &range, QString *error, bool *even = nullptr);

    // The shared open file (opened when no reader holds it); nullptr with `error` set when it
    // cannot be opened or is not a DXchange file.
    static SourcePtr open(const QString &path, QString *error);
    // Size of the images of an open file.
    static void imageSize(const SourcePtr &source, int &rows, int &columns);
    // Reads one image: projection `index`, or the average of all white or dark images, as
    // rows x columns values in row-major order into `pixels`, of the type given in `pixel`.
    // False with `error` naming file and dataset. A projection may be read in part: `rows`
    // rows from `row0`, `columns` columns from `column0` (a hyperslab; a negative count reads
    // the whole image), held the same way.
    struct Part2D
    {
        int row0 = 0, rows = -1, column0 = 0, columns = -1;
    };
    static bool readImage(const SourcePtr &source, Part part, int index, std::vector<char> &pixels,
        Pixel &pixel, QString *error, const Part2D &window);
    static bool readImage(const SourcePtr &source, Part part, int index, std::vector<char> &pixels,
        Pixel &pixel, QString *error)
    {
        return readImage(source, part, index, pixels, pixel, error, Part2D());
    }
};
