#pragma once

#include <QString>

#include <vector>

// The two kinds of reconstructed slice file a series run leaves, read back as floats.
namespace SliceFiles {

// What a float TIFF slice says about itself in its description (empty or NaN when it says
// nothing).
struct Description
{
    double cor = 0.0 / 0.0;
    QString method;
    QString filter;
};

// A single-channel 32-bit float TIFF slice: `pixels` row-major, w x h. False, with `error`
// naming what is wrong, for another pixel format or a damaged or cut file.
bool readFloatTiff(const QString &path, std::vector<float> &pixels, int &w, int &h, QString *error,
    Description *description = nullptr);

// A CT image data file ("#VEXA-CTImg", one "x<TAB>z<TAB>value" line per pixel of its region):
// `pixels` row-major over the region, each value less `dataOffset` (the offset the run
// added). False, with `error` set, for a file that is not one or is cut short.
bool readCtImageData(const QString &path, double dataOffset, std::vector<float> &pixels, int &w,
    int &h, QString *error);

// The energy in eV that a folder name carries: its last number, "_" or "." standing for the
// decimal point, times 1000 when "keV" follows ("08980_0eV" 8980, "08_980keV" 8980,
// "Cu-7112.5" 7112.5). NaN when the name holds no number.
double energyOfName(const QString &name);

} // namespace SliceFiles
