#include "StackFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <hdf5.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

bool setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// A scalar fixed-length ASCII string attribute, the form NeXus readers expect.
bool writeStringAttr(hid_t obj, const char *name, const QString &value)
{
    const QByteArray v = value.toUtf8();
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, std::max<size_t>(1, size_t(v.size())));
    H5Tset_strpad(type, H5T_STR_NULLTERM);
    H5Tset_cset(type, H5T_CSET_UTF8);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attr = H5Acreate2(obj, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = attr >= 0 && H5Awrite(attr, type, v.isEmpty() ? "" : v.constData()) >= 0;
    if (attr >= 0)
        H5Aclose(attr);
    H5Sclose(space);
    H5Tclose(type);
    return ok;
}

bool writeStringArrayAttr(hid_t obj, const char *name, const QStringList &values)
{
    size_t width = 1;
    for (const QString &s : values)
        width = std::max<size_t>(width, size_t(s.toUtf8().size()));
    std::vector<char> buf(width * size_t(values.size()), '\0');
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray v = values[i].toUtf8();
        std::copy(v.cbegin(), v.cend(), buf.begin() + std::ptrdiff_t(width) * i);
    }
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, width);
    H5Tset_strpad(type, H5T_STR_NULLPAD);
    const hsize_t n = hsize_t(values.size());
    const hid_t space = H5Screate_simple(1, &n, nullptr);
    const hid_t attr = H5Acreate2(obj, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = attr >= 0 && H5Awrite(attr, type, buf.data()) >= 0;
    if (attr >= 0)
        H5Aclose(attr);
    H5Sclose(space);
    H5Tclose(type);
    return ok;
}

hid_t makeGroup(hid_t parent, const char *name, const char *nxClass)
{
    const hid_t gcpl = H5Pcreate(H5P_GROUP_CREATE);
    H5Pset_obj_track_times(gcpl, false);
    const hid_t g = H5Gcreate2(parent, name, H5P_DEFAULT, gcpl, H5P_DEFAULT);
    H5Pclose(gcpl);
    if (g >= 0)
        writeStringAttr(g, "NX_class", QString::fromLatin1(nxClass));
    return g;
}

// A small contiguous dataset written in one go.
bool writeSmall(hid_t group, const char *name, hid_t memType, hid_t fileType, int rank,
    const hsize_t *dims, const void *data, const char *units = nullptr)
{
    const hid_t space = H5Screate_simple(rank, dims, nullptr);
    const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_obj_track_times(dcpl, false);
    const hid_t set = H5Dcreate2(group, name, fileType, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    bool ok = set >= 0 && H5Dwrite(set, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0;
    if (ok && units)
        ok = writeStringAttr(set, "units", QString::fromLatin1(units));
    if (set >= 0)
        H5Dclose(set);
    H5Pclose(dcpl);
    H5Sclose(space);
    return ok;
}

} // namespace

StackFile::~StackFile()
{
    abort();
}

std::array<int, 4> StackFile::chunkShape(const Layout &l)
{
    // At most `most` along an axis of `length`, in equal parts, so that the chunks at the far
    // end are not mostly padding.
    const auto part = [](int length, int most) {
        const int length1 = std::max(length, 1);
        const int pieces = (length1 + most - 1) / most;
        return (length1 + pieces - 1) / pieces;
    };
    return { part(l.energies, 8), 1, part(l.rows, 32), part(l.cols, 32) };
}

bool StackFile::create(const QString &path, const Layout &layout, qint64 cacheBytes, QString *error)
{
    abort();
    if (layout.energies < 1 || layout.slices < 1 || layout.rows < 1 || layout.cols < 1)
        return setError(error, "an empty stack cannot be written");
    size = layout;
    target = QFileInfo(path).absoluteFilePath();
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return setError(error, "cannot make the folder of " + target);
    tmpPath = QString("%1.%2.tmp").arg(target).arg(::getpid());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hid_t fcpl = H5Pcreate(H5P_FILE_CREATE);
    const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    // Readers of HDF5 1.8 and later read it.
    H5Pset_libver_bounds(fapl, H5F_LIBVER_EARLIEST, H5F_LIBVER_LATEST);
    file = H5Fcreate(QFile::encodeName(tmpPath).constData(), H5F_ACC_TRUNC, fcpl, fapl);
    H5Pclose(fcpl);
    H5Pclose(fapl);
    if (file < 0) {
        tmpPath.clear();
        return setError(error, "cannot create " + target + ".*.tmp");
    }
    const hid_t entry = makeGroup(file, "entry", "NXentry");
    const hid_t data = entry >= 0 ? makeGroup(entry, "spectra", "NXdata") : -1;
    bool ok = data >= 0;
    ok = ok && writeStringAttr(data, "signal", "mu");
    ok = ok && writeStringArrayAttr(data, "axes", { "energy", ".", ".", "." });
    const int energyIndex = 0;
    const hsize_t one = 1;
    if (ok) {
        const hid_t space = H5Screate_simple(1, &one, nullptr);
        const hid_t attr
            = H5Acreate2(data, "energy_indices", H5T_STD_I32LE, space, H5P_DEFAULT, H5P_DEFAULT);
        ok = attr >= 0 && H5Awrite(attr, H5T_NATIVE_INT, &energyIndex) >= 0;
        if (attr >= 0)
            H5Aclose(attr);
        H5Sclose(space);
    }
    if (ok) {
        const hsize_t dims[4] = { hsize_t(size.energies), hsize_t(size.slices), hsize_t(size.rows),
            hsize_t(size.cols) };
        const auto c = chunkShape(size);
        const hsize_t chunk[4] = { hsize_t(c[0]), hsize_t(c[1]), hsize_t(c[2]), hsize_t(c[3]) };
        const hid_t space = H5Screate_simple(4, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 4, chunk);
        H5Pset_obj_track_times(dcpl, false);
        // Every chunk has its place from the start, in index order, and is written only with
        // data: the file's bytes do not depend on the order of the writes.
        H5Pset_alloc_time(dcpl, H5D_ALLOC_TIME_EARLY);
        H5Pset_fill_time(dcpl, H5D_FILL_TIME_NEVER);
        // A chunk cache large enough for a row of chunks across the slice, so that partial
        // chunk writes do not go back to the disk.
        const hid_t dapl = H5Pcreate(H5P_DATASET_ACCESS);
        const size_t chunkBytes = size_t(c[0]) * c[1] * c[2] * c[3] * 4;
        const size_t perSlice
            = size_t((size.rows + c[2] - 1) / c[2]) * ((size.cols + c[3] - 1) / c[3]);
        H5Pset_chunk_cache(dapl, 100003,
            std::min<size_t>(perSlice * chunkBytes, size_t(std::max<qint64>(cacheBytes, 1 << 20))),
            1.0);
        muSet = H5Dcreate2(data, "mu", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, dapl);
        H5Pclose(dapl);
        H5Pclose(dcpl);
        H5Sclose(space);
        ok = muSet >= 0;
    }
    if (data >= 0)
        H5Gclose(data);
    if (entry >= 0)
        H5Gclose(entry);
    if (!ok) {
        abort();
        return setError(error,
            QString("cannot lay out the stack in %1 (%2 energies x %3 slices x %4 x %5)")
                .arg(target)
                .arg(layout.energies)
                .arg(layout.slices)
                .arg(layout.rows)
                .arg(layout.cols));
    }
    return true;
}

bool StackFile::writeBlock(int firstEnergy, int count, int slice, const float *data, QString *error)
{
    if (muSet < 0 || firstEnergy < 0 || count < 1 || firstEnergy + count > size.energies
        || slice < 0 || slice >= size.slices)
        return setError(error, "no such block of the stack");
    const auto c = chunkShape(size);
    // A block of whole chunks along the energies (the last ones may stop at the end of the
    // stack) is written chunk by chunk as it lies in the file: no chunk cache, no gathering
    // by the library. The part of an edge chunk beyond the stack is zero, as the library
    // leaves it.
    const bool wholeChunks = firstEnergy % c[0] == 0
        && (count == c[0] || firstEnergy + count == size.energies) && c[1] == 1
        && QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    if (wholeChunks) {
        const std::size_t area = std::size_t(size.rows) * size.cols;
        std::vector<float> &chunk = chunkBuffer;
        chunk.resize(std::size_t(c[0]) * c[2] * c[3]);
        for (int r0 = 0; r0 < size.rows; r0 += c[2])
            for (int c0 = 0; c0 < size.cols; c0 += c[3]) {
                const int nr = std::min(c[2], size.rows - r0);
                const int nc = std::min(c[3], size.cols - c0);
                if (count < c[0] || nr < c[2] || nc < c[3])
                    std::fill(chunk.begin(), chunk.end(), 0.0f);
                for (int e = 0; e < count; ++e)
                    for (int r = 0; r < nr; ++r)
                        std::copy_n(data + std::size_t(e) * area + std::size_t(r0 + r) * size.cols
                                + c0,
                            nc, chunk.data() + (std::size_t(e) * c[2] + r) * c[3]);
                const hsize_t offset[4]
                    = { hsize_t(firstEnergy), hsize_t(slice), hsize_t(r0), hsize_t(c0) };
                if (H5Dwrite_chunk(muSet, H5P_DEFAULT, 0, offset, chunk.size() * sizeof(float),
                        chunk.data())
                    < 0)
                    return setError(error, "cannot write to " + tmpPath + " (disk full?)");
            }
        return true;
    }
    const hsize_t start[4] = { hsize_t(firstEnergy), hsize_t(slice), 0, 0 };
    const hsize_t dims[4] = { hsize_t(count), 1, hsize_t(size.rows), hsize_t(size.cols) };
    const hid_t fileSpace = H5Dget_space(muSet);
    H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, dims, nullptr);
    const hid_t memSpace = H5Screate_simple(4, dims, nullptr);
    const bool ok = H5Dwrite(muSet, H5T_NATIVE_FLOAT, memSpace, fileSpace, H5P_DEFAULT, data) >= 0;
    H5Sclose(memSpace);
    H5Sclose(fileSpace);
    return ok ? true : setError(error, "cannot write to " + tmpPath + " (disk full?)");
}

bool StackFile::writeAxes(const Axes &axes, const Notes &notes, QString *error)
{
    if (file < 0)
        return setError(error, "the stack is not open");
    const size_t e = size_t(size.energies);
    if (axes.energyEv.size() != e || axes.cor.size() != e || axes.shift.size() != e
        || axes.sliceNumbers.size() != size_t(size.slices))
        return setError(error, "the axes do not fit the stack");
    const hid_t data = H5Gopen2(file, "entry/spectra", H5P_DEFAULT);
    bool ok = data >= 0;
    const hsize_t ne = e, ns = hsize_t(size.slices);
    const hsize_t shiftDims[2] = { ne, 3 };
    std::vector<double> shift;
    for (const auto &s : axes.shift)
        shift.insert(shift.end(), s.cbegin(), s.cend());
    ok = ok
        && writeSmall(
            data, "energy", H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, 1, &ne, axes.energyEv.data(), "eV");
    ok = ok
        && writeSmall(
            data, "cor", H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, 1, &ne, axes.cor.data(), "pixel");
    ok = ok
        && writeSmall(
            data, "shift", H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, 2, shiftDims, shift.data(), "pixel");
    ok = ok
        && writeSmall(
            data, "slice_numbers", H5T_NATIVE_INT, H5T_STD_I32LE, 1, &ns, axes.sliceNumbers.data());
    ok = ok && writeStringAttr(data, "method", notes.method.isEmpty() ? "unknown" : notes.method);
    ok = ok && writeStringAttr(data, "filter", notes.filter.isEmpty() ? "unknown" : notes.filter);
    ok = ok && writeStringAttr(data, "value_scale", notes.valueScale);
    ok = ok
        && writeStringAttr(data, "alignment", notes.alignment.isEmpty() ? "none" : notes.alignment);
    ok = ok && writeStringAttr(muSet, "long_name", "linear attenuation (" + notes.valueScale + ")");
    if (data >= 0)
        H5Gclose(data);
    return ok ? true : setError(error, "cannot write the axes into " + tmpPath);
}

void StackFile::closeAll()
{
    if (muSet >= 0)
        H5Dclose(muSet);
    muSet = -1;
    if (file >= 0)
        H5Fclose(file);
    file = -1;
}

bool StackFile::commit(QString *error)
{
    if (file < 0)
        return setError(error, "the stack is not open");
    bool ok = H5Fflush(file, H5F_SCOPE_GLOBAL) >= 0;
    closeAll();
    // rename() replaces an older stack in one step: a reader sees the old file or the new.
    ok = ok
        && std::rename(
               QFile::encodeName(tmpPath).constData(), QFile::encodeName(target).constData())
            == 0;
    if (!ok) {
        QFile::remove(tmpPath);
        tmpPath.clear();
        return setError(error, "cannot put the stack in place as " + target);
    }
    tmpPath.clear();
    return true;
}

void StackFile::abort()
{
    closeAll();
    if (!tmpPath.isEmpty())
        QFile::remove(tmpPath);
    tmpPath.clear();
}
