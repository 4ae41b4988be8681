#pragma once

#include <QString>

#include <memory>
#include <vector>

// Writes a CT data set as one HDF5 file in the DXchange layout: /exchange/data (P x rows x
// columns, uint16, one chunk per projection, gzip-compressed when asked), /exchange/data_white
// and /exchange/data_dark (k x rows x columns, uint16) and /exchange/theta (degrees).
// Projections may be written in any order, one at a time, so a set larger than memory can
// be written.
class DxchangeWriter
{
public:
    DxchangeWriter();
    ~DxchangeWriter();

    // Creates (or replaces) the file with an empty projection dataset. `gzipLevel` 0 stores
    // the projections uncompressed. False with `error` set on failure.
    bool create(
        const QString &path, int projections, int rows, int columns, int gzipLevel, QString *error);
    // Thread-safe: one projection of rows x columns pixels.
    bool writeProjection(int index, const quint16 *pixels, QString *error);
    // `count` images of rows x columns pixels, one after the other.
    bool writeWhite(const quint16 *pixels, int count, QString *error);
    bool writeDark(const quint16 *pixels, int count, QString *error);
    bool writeTheta(const std::vector<double> &degrees, QString *error);
    // Closes the file; false when the last writes could not be completed.
    bool close(QString *error);

private:
    bool writeStack(const char *name, const quint16 *pixels, int count, QString *error);
    struct Impl;
    std::unique_ptr<Impl> d;
};
