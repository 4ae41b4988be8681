#include "SpectraReader.h"

#include <hdf5.h>

#include <QFile>
#include <QSysInfo>

#include <algorithm>

SpectraReader::~SpectraReader()
{
    close();
}

void SpectraReader::close()
{
    if (mu_ >= 0)
        H5Dclose(hid_t(mu_));
    if (file_ >= 0)
        H5Fclose(hid_t(file_));
    mu_ = file_ = -1;
    rawChunks_ = false;
    std::fill(dims_, dims_ + 4, 0);
    energies_.clear();
    sliceNumbers_.clear();
}

bool SpectraReader::open(const QString &path)
{
    close();
    path_ = path;
    error_.clear();
    auto fail = [&](const QString &what) {
        error_ = QStringLiteral("%1: %2").arg(path, what);
        close();
        return false;
    };
    H5E_auto2_t oldFunc = nullptr;
    void *oldData = nullptr;
    H5Eget_auto2(H5E_DEFAULT, &oldFunc, &oldData);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    struct Restore
    {
        H5E_auto2_t f;
        void *d;
        ~Restore() { H5Eset_auto2(H5E_DEFAULT, f, d); }
    } restore { oldFunc, oldData };

    if (!QFile::exists(path))
        return fail(QStringLiteral("no such file"));
    const hid_t file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (file < 0)
        return fail(QStringLiteral("not an HDF5 file"));
    file_ = file;
    // A cache that holds a row of chunks, so that reading spectrum after spectrum along a
    // row does not inflate the same chunk again.
    const hid_t dapl = H5Pcreate(H5P_DATASET_ACCESS);
    H5Pset_chunk_cache(dapl, 12421, 64 << 20, 1.0);
    const hid_t mu = H5Dopen2(file, "/entry/spectra/mu", dapl);
    H5Pclose(dapl);
    if (mu < 0)
        return fail(QStringLiteral("no dataset /entry/spectra/mu"));
    mu_ = mu;
    const hid_t space = H5Dget_space(mu);
    hsize_t dims[4] = { 0, 0, 0, 0 };
    const int rank = H5Sget_simple_extent_ndims(space);
    if (rank == 4)
        H5Sget_simple_extent_dims(space, dims, nullptr);
    H5Sclose(space);
    if (rank != 4)
        return fail(QStringLiteral("/entry/spectra/mu is not energies x slices x rows x columns"));
    for (int i = 0; i < 4; ++i)
        dims_[i] = chunk_[i] = std::size_t(dims[i]);
    const hid_t dcpl = H5Dget_create_plist(mu);
    if (H5Pget_layout(dcpl) == H5D_CHUNKED) {
        hsize_t c[4];
        if (H5Pget_chunk(dcpl, 4, c) == 4)
            for (int i = 0; i < 4; ++i)
                chunk_[i] = std::size_t(c[i]);
    }
    H5Pclose(dcpl);

    const hid_t energy = H5Dopen2(file, "/entry/spectra/energy", H5P_DEFAULT);
    if (energy < 0)
        return fail(QStringLiteral("no dataset /entry/spectra/energy"));
    const hid_t es = H5Dget_space(energy);
    const hssize_t ne = H5Sget_simple_extent_npoints(es);
    H5Sclose(es);
    if (ne != hssize_t(dims_[0])) {
        H5Dclose(energy);
        return fail(QStringLiteral("%1 energies for %2 images per voxel").arg(ne).arg(dims_[0]));
    }
    energies_.resize(dims_[0]);
    const herr_t st
        = H5Dread(energy, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, energies_.data());
    H5Dclose(energy);
    if (st < 0)
        return fail(QStringLiteral("cannot read /entry/spectra/energy"));
    for (std::size_t i = 1; i < energies_.size(); ++i)
        if (!(energies_[i] > energies_[i - 1]))
            return fail(QStringLiteral("energies do not increase at index %1").arg(i));

    sliceNumbers_.resize(dims_[1]);
    for (std::size_t i = 0; i < dims_[1]; ++i)
        sliceNumbers_[i] = int(i);
    if (H5Lexists(file, "/entry/spectra/slice_numbers", H5P_DEFAULT) > 0) {
        const hid_t sn = H5Dopen2(file, "/entry/spectra/slice_numbers", H5P_DEFAULT);
        const hid_t ss = H5Dget_space(sn);
        std::vector<int> numbers(dims_[1]);
        if (H5Sget_simple_extent_npoints(ss) == hssize_t(dims_[1])
            && H5Dread(sn, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, numbers.data()) >= 0)
            sliceNumbers_ = numbers;
        H5Sclose(ss);
        H5Dclose(sn);
    }
    return true;
}

bool SpectraReader::readBox(
    const unsigned long long *start, const unsigned long long *count, float *out)
{
    if (mu_ < 0)
        return false;
    for (int i = 0; i < 4; ++i)
        if (count[i] == 0 || start[i] + count[i] > dims_[i]) {
            error_ = QStringLiteral("%1: a read outside the stack").arg(path_);
            return false;
        }
    const hsize_t st[4] = { start[0], start[1], start[2], start[3] };
    const hsize_t ct[4] = { count[0], count[1], count[2], count[3] };
    const hid_t fs = H5Dget_space(hid_t(mu_));
    H5Sselect_hyperslab(fs, H5S_SELECT_SET, st, nullptr, ct, nullptr);
    const hid_t ms = H5Screate_simple(4, ct, nullptr);
    const herr_t r = H5Dread(hid_t(mu_), H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, out);
    H5Sclose(ms);
    H5Sclose(fs);
    if (r < 0)
        error_ = QStringLiteral("%1: cannot read /entry/spectra/mu").arg(path_);
    return r >= 0;
}

bool SpectraReader::readSpectrum(std::size_t slice, std::size_t row, std::size_t column, float *out)
{
    const unsigned long long st[4] = { 0, slice, row, column };
    const unsigned long long ct[4] = { dims_[0], 1, 1, 1 };
    return readBox(st, ct, out);
}

bool SpectraReader::readImage(std::size_t energy, std::size_t slice, float *out)
{
    const unsigned long long st[4] = { energy, slice, 0, 0 };
    const unsigned long long ct[4] = { 1, 1, dims_[2], dims_[3] };
    return readBox(st, ct, out);
}

bool SpectraReader::readBlock(
    std::size_t s0, std::size_t ns, std::size_t r0, std::size_t nr, float *out)
{
    const unsigned long long st[4] = { 0, s0, r0, 0 };
    const unsigned long long ct[4] = { dims_[0], ns, nr, dims_[3] };
    if (rawChunks_ && mu_ >= 0 && ns > 0 && nr > 0 && s0 + ns <= dims_[1] && r0 + nr <= dims_[2]
        && readChunks(st, ct, out))
        return true;
    return readBox(st, ct, out);
}

bool SpectraReader::readChunks(
    const unsigned long long *start, const unsigned long long *count, float *out)
{
    // Every chunk the box touches, read whole and copied into place run by run; a chunk
    // that cannot be read so (not yet written, say) leaves the box to the library.
    H5E_auto2_t oldFunc = nullptr;
    void *oldData = nullptr;
    H5Eget_auto2(H5E_DEFAULT, &oldFunc, &oldData);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const std::size_t *c = chunk_;
    chunkBuffer_.resize(c[0] * c[1] * c[2] * c[3]);
    float *buf = chunkBuffer_.data();
    bool ok = true;
    const auto first = [&](int i) { return start[i] / c[i] * c[i]; };
    for (std::size_t e0 = first(0); ok && e0 < start[0] + count[0]; e0 += c[0])
        for (std::size_t s0 = first(1); ok && s0 < start[1] + count[1]; s0 += c[1])
            for (std::size_t r0 = first(2); ok && r0 < start[2] + count[2]; r0 += c[2])
                for (std::size_t k0 = first(3); ok && k0 < start[3] + count[3]; k0 += c[3]) {
                    const hsize_t offset[4] = { e0, s0, r0, k0 };
                    uint32_t filters = 0;
                    ok = H5Dread_chunk(hid_t(mu_), H5P_DEFAULT, offset, &filters, buf) >= 0
                        && filters == 0;
                    if (!ok)
                        break;
                    const std::size_t ea = std::max<std::size_t>(e0, start[0]),
                                      eb = std::min<std::size_t>(e0 + c[0], start[0] + count[0]);
                    const std::size_t sa = std::max<std::size_t>(s0, start[1]),
                                      sb = std::min<std::size_t>(s0 + c[1], start[1] + count[1]);
                    const std::size_t ra = std::max<std::size_t>(r0, start[2]),
                                      rb = std::min<std::size_t>(r0 + c[2], start[2] + count[2]);
                    const std::size_t ka = std::max<std::size_t>(k0, start[3]),
                                      kb = std::min<std::size_t>(k0 + c[3], start[3] + count[3]);
                    for (std::size_t e = ea; e < eb; ++e)
                        for (std::size_t s = sa; s < sb; ++s)
                            for (std::size_t r = ra; r < rb; ++r)
                                std::copy_n(
                                    buf + (((e - e0) * c[1] + (s - s0)) * c[2] + (r - r0)) * c[3]
                                        + (ka - k0),
                                    kb - ka,
                                    out
                                        + (((e - start[0]) * count[1] + (s - start[1])) * count[2]
                                              + (r - start[2]))
                                            * count[3]
                                        + (ka - start[3]));
                }
    H5Eset_auto2(H5E_DEFAULT, oldFunc, oldData);
    return ok;
}

bool SpectraReader::readMeanSpectrum(std::size_t s0, std::size_t s1, std::size_t r0, std::size_t r1,
    std::size_t c0, std::size_t c1, std::vector<double> &out)
{
    s1 = std::min(s1, dims_[1]);
    r1 = std::min(r1, dims_[2]);
    c1 = std::min(c1, dims_[3]);
    if (s1 <= s0 || r1 <= r0 || c1 <= c0)
        return false;
    const std::size_t nv = (r1 - r0) * (c1 - c0);
    out.assign(dims_[0], 0.0);
    std::vector<float> buf(dims_[0] * nv);
    for (std::size_t s = s0; s < s1; ++s) {
        const unsigned long long st[4] = { 0, s, r0, c0 };
        const unsigned long long ct[4] = { dims_[0], 1, r1 - r0, c1 - c0 };
        if (!readBox(st, ct, buf.data()))
            return false;
        for (std::size_t e = 0; e < dims_[0]; ++e) {
            double sum = 0;
            for (std::size_t v = 0; v < nv; ++v)
                sum += buf[e * nv + v];
            out[e] += sum;
        }
    }
    const double inv = 1.0 / double(nv * (s1 - s0));
    for (double &v : out)
        v *= inv;
    return true;
}
