#pragma once

#include <QString>

// Small look-ups in an HDF5 file beside the readers: what a dataset says about itself
// before its values are read.
class Hdf5Probe
{
public:
    // The "units" attribute of a dataset, empty when it has none (or the file cannot be read).
    static QString units(const QString &path, const QString &dataset);
    // For a dataset whose compression this build of the HDF5 library cannot undo: a message
    // naming the file, the dataset and the filter ("LZF (filter 32000)"); empty otherwise.
    static QString missingFilter(const QString &path, const QString &dataset);
};
