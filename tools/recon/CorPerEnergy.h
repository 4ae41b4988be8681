#pragma once

#include <QList>
#include <QString>

struct SeriesSet;

// A centre of rotation per energy of a series, and the one grid every energy is reconstructed
// on so that voxels correspond across energies.
namespace CorPerEnergy {

// The centres of a table file of "energy cor" lines (energy in eV; blank lines and text after
// '#' are ignored), one per set, matched by energy within 0.05 eV. Empty, with `error` naming
// the file and line or the set without a centre, otherwise.
QList<double> fromTable(const QString &path, const QList<SeriesSet> &sets, QString *error);

// Each energy's result is cut from its own n x n grid (n = 2 * half - 2, the axis at pixel
// half - 1, half set by its centre) as the largest square all of them have, centred on the
// axis: `size` x `size` pixels with the axis at pixel size / 2; `offset[k]` is where that
// square begins in energy k's grid, the same for columns and rows.
struct Grid
{
    int size = 0;
    QList<int> offset;
};
Grid commonGrid(bool rotAxIsV, int lineLength, const QList<double> &cors);

} // namespace CorPerEnergy
