#pragma once

#include <QByteArray>

struct CtParams;

// Writes a double exactly as a QTextStream with default settings does (6 significant digits,
// the shorter of fixed and scientific notation, no trailing zeros, "nan", "inf"), without
// the stream's per-number overhead. `out` needs room for 16 characters; returns the end.
char *writeStreamDouble(char *out, double v);

// The text of a CT image data file ("#VEXA-CTImg"): six header lines, then one line
// "x<TAB>z<TAB>value" per pixel of the calculation region [x0, x1) x [z0, z1), row by row.
// `values` is the row-major result (row z at values + z * cols). Pixels outside the result
// count as 0; values outside [lowerLimit, upperLimit] (and values that are not numbers)
// become 0; dataOffset is then added.
QByteArray makeCtImageData(const double *values, int rows, int cols, double x0, double z0,
    double x1, double z1, double lowerLimit, double upperLimit, double dataOffset);

// The same with the limits and the offset of the run's parameter block.
QByteArray makeCtImageData(const double *values, int rows, int cols, double x0, double z0,
    double x1, double z1, const CtParams &params);
