#pragma once

#include "XafsI0Table.h"

#include <QString>

// The correction of the I0 image for the change of the beam between it and the projections
// (ring-current decay, monochromator drift): its counts above the BG image are scaled by
// I0(raw) / I0(I0 image). Each of the two I0 values is a fixed number, or the I0 of the
// beamline's XAFS scan at the energy written into the image file names. One object holds the
// settings of one side ("I0 of Raw Image" or "I0 of I0 Image"); the window's panels and
// vexa2-recon both go through it, so that their results agree.
class I0Correction
{
public:
    double value = 1.0; // the fixed I0
    bool fromXafs = false; // "Calc from XAFS file"
    XafsI0Table table;
    QString pattern = QStringLiteral("####_####"); // where the energy stands in the names

    // I0 for an image file: from the scan at the energy that `pattern` finds in the file name
    // (or else in the name of its folder) when fromXafs is set and the scan has points;
    // otherwise, and for a name without an energy (said on the log), the fixed value.
    double i0For(const QString &imageFileName) const;

    // The factor of the I0 image's counts above BG: i0Raw / i0Ref, or 1 (said on the log)
    // when that is not a positive number. The defaults (1.0 on both sides) give exactly 1.
    static double scale(double i0Raw, double i0Ref);
};
