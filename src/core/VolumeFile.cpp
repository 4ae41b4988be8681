#include "VolumeFile.h"

#include "CtTiffData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <hdf5.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

bool writeStringAttr(hid_t loc, const char *name, const QByteArray &value)
{
    // Variable-length UTF-8, which h5py and NeXus readers give back as text.
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, H5T_VARIABLE);
    H5Tset_cset(type, H5T_CSET_UTF8);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attr = H5Acreate2(loc, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    const char *text = value.constData();
    const bool ok = attr >= 0 && H5Awrite(attr, type, &text) >= 0;
    if (attr >= 0)
        H5Aclose(attr);
    H5Sclose(space);
    H5Tclose(type);
    return ok;
}

bool writeDoubleAttr(hid_t loc, const char *name, double value)
{
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attr = H5Acreate2(loc, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = attr >= 0 && H5Awrite(attr, H5T_NATIVE_DOUBLE, &value) >= 0;
    if (attr >= 0)
        H5Aclose(attr);
    H5Sclose(space);
    return ok;
}

hid_t makeGroup(hid_t parent, const char *name, const char *nxClass)
{
    // No times in the object headers: the file's bytes depend on its slices alone.
    const hid_t gcpl = H5Pcreate(H5P_GROUP_CREATE);
    H5Pset_obj_track_times(gcpl, false);
    const hid_t g = H5Gcreate2(parent, name, H5P_DEFAULT, gcpl, H5P_DEFAULT);
    H5Pclose(gcpl);
    if (g >= 0)
        writeStringAttr(g, "NX_class", nxClass);
    return g;
}

// Writes the file's bytes to the disk before the rename makes it visible.
bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

struct VolumeFile::Impl
{
    Format format = Format::Hdf5;
    Info info;
    QString target, temp;
    bool failed = false;
    // HDF5
    hid_t file = -1, dataset = -1, fileSpace = -1;
    // TIFF
    TIFF *tif = nullptr;

    void closeAll()
    {
        if (fileSpace >= 0)
            H5Sclose(fileSpace);
        if (dataset >= 0)
            H5Dclose(dataset);
        if (file >= 0)
            H5Fclose(file);
        fileSpace = dataset = file = -1;
        if (tif)
            TIFFClose(tif);
        tif = nullptr;
    }
};

VolumeFile::VolumeFile()
    : d(std::make_unique<Impl>())
{
}

VolumeFile::~VolumeFile()
{
    d->closeAll();
    if (!d->temp.isEmpty())
        QFile::remove(d->temp);
}

bool VolumeFile::formatOf(const QString &path, Format *format)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "h5" || suffix == "hdf5" || suffix == "nxs" || suffix == "hdf") {
        *format = Format::Hdf5;
        return true;
    }
    if (suffix == "tif" || suffix == "tiff") {
        *format = Format::TiffStack;
        return true;
    }
    return false;
}

double VolumeFile::centimetres(const QString &unit)
{
    const QString u = unit.trimmed();
    if (u == "nm")
        return 1e-7;
    if (u == "um" || u == QString::fromUtf8("µm") || u == QString::fromUtf8("μm")
        || u == "micron")
        return 1e-4;
    if (u == "mm")
        return 0.1;
    if (u == "cm")
        return 1;
    if (u == "m")
        return 100;
    return 0;
}

bool VolumeFile::open(const QString &path, Format format, const Info &info, QString *error)
{
    d->closeAll();
    added = 0;
    if (info.slices <= 0 || info.rows <= 0 || info.columns <= 0) {
        setError(error, QString("no volume to write to %1").arg(path));
        return false;
    }
    const QFileInfo fi(path);
    if (!QDir().mkpath(fi.absolutePath())) {
        setError(error, "Cannot create the folder " + fi.absolutePath());
        return false;
    }
    d->format = format;
    d->info = info;
    d->target = fi.absoluteFilePath();
    d->temp = QString("%1/.%2.part-%3")
                  .arg(fi.absolutePath(), fi.fileName())
                  .arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
    d->failed = false;
    const QByteArray tempName = QFile::encodeName(d->temp);

    if (format == Format::Hdf5) {
        d->file = H5Fcreate(tempName.constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        if (d->file < 0) {
            setError(error, "Cannot write the file " + path);
            d->temp.clear();
            return false;
        }
        const hid_t entry = makeGroup(d->file, "entry", "NXentry");
        const hid_t data = makeGroup(entry, "data", "NXdata");
        writeStringAttr(data, "signal", "data");
        const hsize_t dims[3] = { hsize_t(info.slices), hsize_t(info.rows), hsize_t(info.columns) };
        d->fileSpace = H5Screate_simple(3, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        const hsize_t chunk[3] = { 1, hsize_t(std::min(info.rows, 256)),
            hsize_t(std::min(info.columns, 256)) };
        H5Pset_chunk(dcpl, 3, chunk);
        H5Pset_obj_track_times(dcpl, false);
        d->dataset = H5Dcreate2(data, "data", H5T_IEEE_F32LE, d->fileSpace, H5P_DEFAULT, dcpl,
            H5P_DEFAULT);
        H5Pclose(dcpl);
        bool ok = d->dataset >= 0;
        if (ok) {
            ok &= writeStringAttr(d->dataset, "units", info.valueUnit.toUtf8());
            if (!info.method.isEmpty())
                ok &= writeStringAttr(d->dataset, "method", info.method.toUtf8());
            if (!info.filter.isEmpty())
                ok &= writeStringAttr(d->dataset, "filter", info.filter.toUtf8());
            ok &= writeDoubleAttr(d->dataset, "centre_of_rotation", info.cor);
            ok &= writeDoubleAttr(d->dataset, "first_slice", info.firstSlice);
            ok &= writeDoubleAttr(d->dataset, "slice_step", info.sliceStep);
            if (info.pixelSize > 0) {
                ok &= writeDoubleAttr(data, "pixel_size", info.pixelSize);
                ok &= writeStringAttr(data, "pixel_size_units", info.pixelUnit.toUtf8());
            }
        }
        H5Gclose(data);
        H5Gclose(entry);
        if (!ok) {
            setError(error, "Cannot write the file " + path);
            d->closeAll();
            QFile::remove(d->temp);
            d->temp.clear();
            return false;
        }
        return true;
    }

    // "8": BigTIFF, so a volume beyond 4 GiB is one file too.
    d->tif = TIFFOpen(tempName.constData(), "w8");
    if (!d->tif) {
        setError(error, "Cannot write the file " + path);
        d->temp.clear();
        return false;
    }
    return true;
}

bool VolumeFile::addSlice(const float *values, QString *error)
{
    const Info &info = d->info;
    if (d->failed || added >= info.slices || (d->file < 0 && !d->tif)) {
        setError(error, "Cannot write the file " + d->target);
        return false;
    }
    bool ok = true;
    if (d->format == Format::Hdf5) {
        const hsize_t start[3] = { hsize_t(added), 0, 0 };
        const hsize_t count[3] = { 1, hsize_t(info.rows), hsize_t(info.columns) };
        H5Sselect_hyperslab(d->fileSpace, H5S_SELECT_SET, start, nullptr, count, nullptr);
        const hid_t mem = H5Screate_simple(3, count, nullptr);
        ok = H5Dwrite(d->dataset, H5T_NATIVE_FLOAT, mem, d->fileSpace, H5P_DEFAULT, values) >= 0;
        H5Sclose(mem);
    } else {
        TIFF *t = d->tif;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(info.columns));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(info.rows));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(32));
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
        const int rowsPerStrip = std::max(1, std::min(info.rows, (1 << 20) / (4 * info.columns)));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip));
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
        TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(added), uint16_t(info.slices));
        const double cm = centimetres(info.pixelUnit);
        if (info.pixelSize > 0 && cm > 0) {
            // Pixels per centimetre; ImageJ reads the unit from the description below.
            const float perCm = float(1.0 / (info.pixelSize * cm));
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_CENTIMETER));
            TIFFSetField(t, TIFFTAG_XRESOLUTION, perCm);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, perCm);
        }
        if (added == 0) {
            // ImageJ takes a multi-page file with this description as a stack of `slices`.
            QString text = QString("ImageJ=1.53t\nimages=%1\nslices=%1\nloop=false\n")
                               .arg(info.slices);
            if (info.pixelSize > 0 && cm > 0) {
                const QString unit = info.pixelUnit == "um" ? QString("micron") : info.pixelUnit;
                text += QString("unit=%1\nspacing=%2\n").arg(unit).arg(info.pixelSize * info.sliceStep);
            }
            TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, text.toUtf8().constData());
        }
        for (int r = 0; r < info.rows && ok; ++r) {
            // libtiff takes a non-const buffer but does not change it without compression.
            ok = TIFFWriteScanline(t, const_cast<float *>(values + qint64(r) * info.columns),
                     uint32_t(r), 0)
                == 1;
        }
        ok = ok && TIFFWriteDirectory(t) == 1;
    }
    if (!ok) {
        d->failed = true;
        setError(error, "Cannot write the file " + d->target);
        return false;
    }
    ++added;
    return true;
}

bool VolumeFile::finish(QString *error)
{
    bool ok = !d->failed && added == d->info.slices && !d->temp.isEmpty();
    if (d->format == Format::Hdf5 && d->file >= 0)
        ok = H5Fflush(d->file, H5F_SCOPE_GLOBAL) >= 0 && ok;
    d->closeAll();
    if (ok)
        ok = syncFile(d->temp)
            && std::rename(QFile::encodeName(d->temp).constData(),
                   QFile::encodeName(d->target).constData())
                == 0;
    if (!ok) {
        if (!d->temp.isEmpty())
            QFile::remove(d->temp);
        d->temp.clear();
        setError(error,
            added < d->info.slices
                ? QString("Cannot write the file %1: %2 of its %3 slices were made")
                      .arg(d->target)
                      .arg(added)
                      .arg(d->info.slices)
                : "Cannot write the file " + d->target);
        return false;
    }
    d->temp.clear();
    return true;
}

bool VolumeFile::fromTiffSlices(
    const QStringList &slices, const QString &path, Format format, Info info, QString *error)
{
    if (slices.isEmpty()) {
        setError(error, QString("no slice for the volume %1").arg(path));
        return false;
    }
    std::vector<float> pixels;
    VolumeFile volume;
    for (int i = 0; i < slices.size(); ++i) {
        int w = 0, h = 0;
        QString why;
        if (!CtTiffData::read(slices.at(i), pixels, w, h, &why)) {
            setError(error, QString("Cannot read the slice file %1 (%2)").arg(slices.at(i), why));
            return false;
        }
        if (i == 0) {
            info.slices = int(slices.size());
            info.rows = h;
            info.columns = w;
            if (!volume.open(path, format, info, error))
                return false;
        } else if (w != info.columns || h != info.rows) {
            setError(error,
                QString("Cannot make the volume %1: the slice file %2 is %3 x %4, the first %5 x %6")
                    .arg(path, slices.at(i))
                    .arg(w)
                    .arg(h)
                    .arg(info.columns)
                    .arg(info.rows));
            return false;
        }
        if (!volume.addSlice(pixels.data(), error))
            return false;
    }
    return volume.finish(error);
}
