#include "DxchangeWriter.h"

#include <QFile>

#include <hdf5.h>

#include <mutex>

struct DxchangeWriter::Impl
{
    QString path;
    hid_t file = H5I_INVALID_HID;
    hid_t data = H5I_INVALID_HID;
    int projections = 0;
    int rows = 0;
    int columns = 0;
    std::mutex mutex;
};

namespace {

bool fail(QString *error, const QString &path, const QString &what)
{
    if (error)
        *error = QString("Cannot write the file %1: %2").arg(path, what);
    return false;
}

} // namespace

DxchangeWriter::DxchangeWriter()
    : d(std::make_unique<Impl>())
{ }

DxchangeWriter::~DxchangeWriter()
{
    close(nullptr);
}

bool DxchangeWriter::create(
    const QString &path, int projections, int rows, int columns, int gzipLevel, QString *error)
{
    close(nullptr);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    d->path = path;
    d->projections = projections;
    d->rows = rows;
    d->columns = columns;
    d->file
        = H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (d->file < 0)
        return fail(error, path, "the file cannot be created");
    const hid_t group = H5Gcreate2(d->file, "/exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    if (group < 0)
        return fail(error, path, "group /exchange cannot be created");
    H5Gclose(group);
    const hsize_t dims[3] = { hsize_t(projections), hsize_t(rows), hsize_t(columns) };
    const hsize_t chunk[3] = { 1, hsize_t(rows), hsize_t(columns) };
    const hid_t space = H5Screate_simple(3, dims, nullptr);
    const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(dcpl, 3, chunk);
    if (gzipLevel > 0) {
        H5Pset_deflate(dcpl, unsigned(gzipLevel));
    }
    d->data = H5Dcreate2(
        d->file, "/exchange/data", H5T_STD_U16LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    H5Pclose(dcpl);
    H5Sclose(space);
    if (d->data < 0)
        return fail(error, path, "dataset /exchange/data cannot be created");
    return true;
}

bool DxchangeWriter::writeProjection(int index, const quint16 *pixels, QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    if (d->data < 0 || index < 0 || index >= d->projections)
        return fail(error, d->path, QString("no place for projection %1").arg(index));
    const hsize_t start[3] = { hsize_t(index), 0, 0 };
    const hsize_t count[3] = { 1, hsize_t(d->rows), hsize_t(d->columns) };
    const hid_t fileSpace = H5Dget_space(d->data);
    const hid_t memSpace = H5Screate_simple(3, count, nullptr);
    const bool ok
        = H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0
        && H5Dwrite(d->data, H5T_NATIVE_UINT16, memSpace, fileSpace, H5P_DEFAULT, pixels) >= 0;
    H5Sclose(memSpace);
    H5Sclose(fileSpace);
    return ok || fail(error, d->path, QString("projection %1 cannot be written").arg(index));
}

bool DxchangeWriter::writeStack(const char *name, const quint16 *pixels, int count, QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    if (d->file < 0 || count < 1)
        return fail(error, d->path, QString("dataset %1 cannot be written").arg(name));
    const hsize_t dims[3] = { hsize_t(count), hsize_t(d->rows), hsize_t(d->columns) };
    const hid_t space = H5Screate_simple(3, dims, nullptr);
    const hid_t set
        = H5Dcreate2(d->file, name, H5T_STD_U16LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok
        = set >= 0 && H5Dwrite(set, H5T_NATIVE_UINT16, H5S_ALL, H5S_ALL, H5P_DEFAULT, pixels) >= 0;
    if (set >= 0)
        H5Dclose(set);
    H5Sclose(space);
    return ok || fail(error, d->path, QString("dataset %1 cannot be written").arg(name));
}

bool DxchangeWriter::writeWhite(const quint16 *pixels, int count, QString *error)
{
    return writeStack("/exchange/data_white", pixels, count, error);
}

bool DxchangeWriter::writeDark(const quint16 *pixels, int count, QString *error)
{
    return writeStack("/exchange/data_dark", pixels, count, error);
}

bool DxchangeWriter::writeTheta(const std::vector<double> &degrees, QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hsize_t n = degrees.size();
    const hid_t space = H5Screate_simple(1, &n, nullptr);
    const hid_t set = d->file < 0 ? H5I_INVALID_HID
                                  : H5Dcreate2(d->file, "/exchange/theta", H5T_IEEE_F64LE, space,
                                      H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = set >= 0
        && H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, degrees.data()) >= 0;
    if (set >= 0)
        H5Dclose(set);
    H5Sclose(space);
    return ok || fail(error, d->path, "dataset /exchange/theta cannot be written");
}

bool DxchangeWriter::close(QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    bool ok = true;
    if (d->data >= 0)
        ok = H5Dclose(d->data) >= 0;
    d->data = H5I_INVALID_HID;
    if (d->file >= 0)
        ok = H5Fclose(d->file) >= 0 && ok;
    else
        return true;
    d->file = H5I_INVALID_HID;
    return ok || fail(error, d->path, "the file cannot be completed");
}
