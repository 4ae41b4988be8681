#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

// One reconstructed volume in one file, for programs that want a stack rather than thousands
// of slice files (Fiji/ImageJ, napari, Avizo, Dragonfly):
// - HDF5 (NeXus): /entry (NXentry) / data (NXdata, signal "data"), dataset "data", float32,
//   slices x rows x columns, chunked by (1, up to 256, up to 256) so that one slice or a small
//   sub-volume is a cheap read;
// - a multi-page 32-bit float BigTIFF, one page a slice, with an ImageJ description so that
//   ImageJ opens it as a stack, and the pixel size in the resolution tags.
// Slices are added in order, one at a time, so only one slice is ever held here. The file
// is written under a temporary name in the target folder and renamed into place by
// finish(), so a reader never sees half a volume; a writer destroyed before finish() removes
// its temporary file.
class VolumeFile
{
public:
    enum class Format { Hdf5, TiffStack };

    struct Info
    {
        int slices = 0, rows = 0, columns = 0;
        int firstSlice = 0, sliceStep = 1; // detector lines the slices were made of
        double pixelSize = 0; // 0: not known
        QString pixelUnit; // "um", "nm", "mm", "cm"
        QString valueUnit; // what a value means ("2 mu per pixel", "1/cm")
        QString method, filter;
        double cor = 0;
    };

    VolumeFile();
    ~VolumeFile();
    VolumeFile(const VolumeFile &) = delete;
    VolumeFile &operator=(const VolumeFile &) = delete;

    // The format a file name asks for: ".h5", ".hdf5", ".nxs" give HDF5, ".tif", ".tiff" a
    // TIFF stack. False for any other name.
    static bool formatOf(const QString &path, Format *format);

    // Starts the file. False (with `error` set) when the sizes are not positive or the
    // temporary file cannot be made.
    bool open(const QString &path, Format format, const Info &info, QString *error);
    // Appends the next slice: rows x columns values, row-major.
    bool addSlice(const float *values, QString *error);
    // Closes the file and renames it into place; false when a slice is missing or a write
    // failed (the temporary file is then removed).
    bool finish(QString *error);

    int slicesAdded() const { return added; }

    // The volume of float TIFF slice files (one page each, all of one size), in the order
    // given; the sizes in `info` are taken from the first file. False (with `error` naming
    // the file) when a slice cannot be read or has another size.
    static bool fromTiffSlices(const QStringList &slices, const QString &path, Format format,
        Info info, QString *error);

    // Length of `unit` in centimetres ("nm", "um", "µm", "mm", "cm", "m"); 0 when unknown.
    static double centimetres(const QString &unit);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    int added = 0;
};
