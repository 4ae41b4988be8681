#pragma once

#include <QString>
#include <QStringList>

// How a slice is reconstructed.
// - Fbp: the filtered back-projection, exact and in double precision; the default.
// - Gridding: direct Fourier inversion with gridding (CtGridding), the same values within a
//   fraction of a per cent of the slice's range, many times faster on large slices.
enum class CtMethod { Fbp, Gridding };

namespace CtMethods {
// Batch and setup-file names in the order of CtMethod: "fbp", "gridding".
QStringList names();
QString name(CtMethod method);
// Case-insensitive; false (and `method` untouched) for a name that is not a method.
bool fromName(const QString &name, CtMethod *method);
} // namespace CtMethods
