#pragma once

#include <QString>

#include <cstddef>
#include <vector>

// Read access to a spectral stack file: the NXdata group /entry/spectra with the dataset mu
// (float32, energies x slices x rows x columns) and energy (eV). Reads single spectra, the mean
// spectrum of a box, one slice of one energy, or a block of whole spectra; never the whole
// stack. HDF5 through its C interface; one object is used by one thread at a time.
class SpectraReader
{
public:
    SpectraReader() = default;
    ~SpectraReader();
    SpectraReader(const SpectraReader &) = delete;
    SpectraReader &operator=(const SpectraReader &) = delete;

    // False with error() naming the file and what is wrong with it.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return file_ >= 0; }
    QString path() const { return path_; }
    QString error() const { return error_; }

    std::size_t energyCount() const { return dims_[0]; }
    std::size_t slices() const { return dims_[1]; }
    std::size_t rows() const { return dims_[2]; }
    std::size_t columns() const { return dims_[3]; }
    const std::vector<double> &energies() const { return energies_; }
    // Slice numbers of the reconstruction (0, 1, ... when the file names none).
    const std::vector<int> &sliceNumbers() const { return sliceNumbers_; }
    // Chunk shape of mu (the whole shape when the dataset is not chunked).
    const std::size_t *chunk() const { return chunk_; }

    // The spectrum of voxel (slice, row, column): energyCount() values.
    bool readSpectrum(std::size_t slice, std::size_t row, std::size_t column, float *out);
    // The mean spectrum over the box [s0, s1) x [r0, r1) x [c0, c1).
    bool readMeanSpectrum(std::size_t s0, std::size_t s1, std::size_t r0, std::size_t r1,
        std::size_t c0, std::size_t c1, std::vector<double> &out);
    // One slice at one energy: rows() x columns() values, row-major.
    bool readImage(std::size_t energy, std::size_t slice, float *out);
    // All energies of slices [s0, s0 + ns), rows [r0, r0 + nr), every column, energy-major:
    // value (e, s, r, c) at out[((e * ns + s) * nr + r) * columns() + c].
    bool readBlock(std::size_t s0, std::size_t ns, std::size_t r0, std::size_t nr, float *out);

private:
    bool readBox(const unsigned long long *start, const unsigned long long *count, float *out);
    bool readChunks(const unsigned long long *start, const unsigned long long *count, float *out);

    QString path_;
    QString error_;
    long long file_ = -1;
    long long mu_ = -1;
    std::size_t dims_[4] = { 0, 0, 0, 0 };
    std::size_t chunk_[4] = { 0, 0, 0, 0 };
    std::vector<double> energies_;
    std::vector<int> sliceNumbers_;
    bool rawChunks_ = false;
    std::vector<float> chunkBuffer_;
};
