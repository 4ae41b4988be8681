#pragma once

#include "DxchangeFile.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Projection data sets in the NeXus NXtomo layout (ESRF, Diamond, PSI, ...): in an entry
// (a group of class NXentry at the top of the file, or named "entry..."), one stack of frames
//   <entry>/data/data or <entry>/instrument/detector/data   frames x rows x columns,
// with an optional image_key beside it (0 projection, 1 flat, 2 dark, 3 invalid) and
// rotation_angle (in <entry>/sample or <entry>/data, one per frame or per projection) with
// its units. An entry is named by its path ("/entry", "/entry1"); the images of entry E of
// FILE are "FILE#E#i" (projection i), "FILE#E#white" (the average of the flats) and
// "FILE#E#dark" (of the darks), so that "FILE#E" stands where a DXchange file's name stands.
class NxtomoFile
{
public:
    struct Entry
    {
        QString name; // "/entry"
        QString data; // the path of the frames
        int rows = 0, columns = 0;
        std::vector<int> projections, flats, darks; // frame numbers
        std::vector<double> theta; // of the projections, as stored; empty when none
        QString thetaUnits; // as stored, empty when none
        QString thetaPath;
    };

    // Whether the file is HDF5 and holds at least one NXtomo entry.
    static bool isNxtomo(const QString &path);
    // The entries of a file that hold frames, in file order.
    static QStringList entries(const QString &path, QString *error);
    // Reads an entry's layout: `entry` empty takes the only one (a file with several names
    // them in the error and asks for --entry).
    static bool inspect(const QString &path, const QString &entry, Entry &e, QString *error);
    // The entry as a DXchange-like description (angles turned into degrees by ThetaUnits
    // with `chosenUnits`), and the name that stands for the entry's images ("FILE#E").
    static bool describe(const QString &path, const QString &entry, const QString &chosenUnits,
        DxchangeFile::Info &info, QString &base, QString *error);

    // "FILE#E#..." names.
    static bool isAddress(const QString &name);
    static bool splitAddress(
        const QString &name, QString &file, QString &entry, DxchangeFile::Part &part, int &index);

    // Reads one image as rows x columns doubles: projection `index`, or the average of the
    // flats or darks. `singleExact` tells whether the values fit a float without loss (the
    // frames hold integers of up to 16 bits, or float32, and the image is no average).
    // False with `error` naming file and dataset.
    static bool readImage(const QString &file, const QString &entry, DxchangeFile::Part part,
        int index, std::vector<double> &pixels, int &rows, int &columns, bool &singleExact,
        QString *error);
};
