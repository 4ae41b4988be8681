#pragma once

#include "DxchangeFile.h"

#include <QString>
#include <QStringList>

// One data set in an HDF5 file, whichever layout keeps it (DXchange or NXtomo): its
// description, with the angles in degrees, and the names of its images. The window, the
// batch commands and the tools open HDF5 files through it.
class Hdf5DataSet
{
public:
    QString file;
    QString layout; // "DXchange" or "NXtomo"
    // The name that stands for the data set's images: the file for DXchange, "FILE#/entry"
    // for an NXtomo entry (see DxchangeFile::address and NxtomoFile).
    QString base;
    DxchangeFile::Info info;

    // Opens the data set of `path`: a DXchange file, or an NXtomo entry (`entry` chooses one
    // of several). `thetaUnits` ("rad", "deg" or empty) overrides the units the file states;
    // angles without units that look like radians are refused (see ThetaUnits). False with
    // `error` naming the file and what is wrong with it.
    bool open(const QString &path, const QString &entry, const QString &thetaUnits, QString *error);

    QStringList projections() const;
    // The average of the flats (whites) or of the darks; empty when there are none.
    QString flat() const;
    QString dark() const;
};
