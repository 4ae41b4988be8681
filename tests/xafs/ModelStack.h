#pragma once

// A small spectral stack file of model spectra, written with the HDF5 library as the stack
// tool lays it out: /entry/spectra/mu (energies x slices x rows x columns, float32, chunked),
// energy (eV) and slice_numbers.

#include "xafs/XafsModel.h"

#include <QFile>
#include <QString>
#include <QTextStream>

#include <hdf5.h>

#include <random>

namespace modelstack {

using namespace xafsmodel;

inline const int kSlices = 2, kRows = 6, kCols = 5;
inline const Species kA { 7112, 1.0, 1.0, 0.3, 4, 2 };
inline const Species kB { 7120, 1.2, 1.0, 0.9, 3, 2.5 };
inline const Background kBg;

// Column 0 air, 1 matrix without an edge, 2 species A, 3 species B, 4 a fraction of A that
// grows with the row (row / 5), the rest B. Slice 1 holds half the density of slice 0.
inline double voxelMu(int s, int r, int c, double e)
{
    const double density = s == 0 ? 1.0 : 0.5;
    switch (c) {
    case 0:
        return 0;
    case 1:
        return background(kBg, e);
    case 2:
        return background(kBg, e) + density * edgeOnly(kA, e);
    case 3:
        return background(kBg, e) + density * edgeOnly(kB, e);
    default: {
        const double f = r / 5.0;
        return background(kBg, e) + density * (f * edgeOnly(kA, e) + (1 - f) * edgeOnly(kB, e));
    }
    }
}

inline double fractionA(int r, int c)
{
    return c == 2 ? 1.0 : c == 3 ? 0.0 : r / 5.0;
}

inline bool writeStack(const QString &path, double noise)
{
    const std::vector<double> energies = scanEnergies();
    const hsize_t ne = energies.size();
    std::vector<float> mu(ne * kSlices * kRows * kCols);
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0, 1);
    for (hsize_t e = 0; e < ne; ++e)
        for (int s = 0; s < kSlices; ++s)
            for (int r = 0; r < kRows; ++r)
                for (int c = 0; c < kCols; ++c)
                    mu[((e * kSlices + s) * kRows + r) * kCols + c]
                        = float(voxelMu(s, r, c, energies[e]) + noise * gauss(rng));
    const hid_t f
        = H5Fcreate(path.toLocal8Bit().constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (f < 0)
        return false;
    const hid_t entry = H5Gcreate2(f, "entry", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const hid_t g = H5Gcreate2(entry, "spectra", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const hsize_t dims[4] = { ne, kSlices, kRows, kCols };
    const hsize_t chunk[4] = { ne, 1, 2, kCols };
    hid_t space = H5Screate_simple(4, dims, nullptr);
    const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(dcpl, 4, chunk);
    hid_t d = H5Dcreate2(g, "mu", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    bool ok = H5Dwrite(d, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, mu.data()) >= 0;
    H5Dclose(d);
    H5Pclose(dcpl);
    H5Sclose(space);
    space = H5Screate_simple(1, &ne, nullptr);
    d = H5Dcreate2(g, "energy", H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    ok = ok && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, energies.data()) >= 0;
    H5Dclose(d);
    H5Sclose(space);
    const hsize_t ns = kSlices;
    const int numbers[kSlices] = { 10, 11 };
    space = H5Screate_simple(1, &ns, nullptr);
    d = H5Dcreate2(g, "slice_numbers", H5T_STD_I32LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    ok = ok && H5Dwrite(d, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, numbers) >= 0;
    H5Dclose(d);
    H5Sclose(space);
    H5Gclose(g);
    H5Gclose(entry);
    return H5Fclose(f) >= 0 && ok;
}

// The normalised spectrum of a pure species as a user would prepare a reference file.
inline bool writeReference(const QString &path, const Species &sp)
{
    const std::vector<double> energies = scanEnergies();
    std::vector<double> mu;
    for (double e : energies)
        mu.push_back(background(kBg, e) + edgeOnly(sp, e));
    const double e0 = trueE0({ sp }, { 1.0 });
    double slope = 0;
    const double pre = fitAt(energies, mu, e0, -100, -30, 1, &slope);
    const double step = fitAt(energies, mu, e0, 30, 120, 2) - pre;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&f);
    out << "# energy/eV  normalised mu\n";
    for (std::size_t i = 0; i < energies.size(); ++i)
        out << QString::number(energies[i], 'f', 2) << ' '
            << QString::number((mu[i] - pre - slope * (energies[i] - e0)) / step, 'g', 10) << '\n';
    return true;
}

} // namespace modelstack
