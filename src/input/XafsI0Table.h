#pragma once

#include "Units.h"

#include <QString>
#include <QVector>

// The incident intensity I0 against energy, read from an XAFS scan file of the beamline:
// a header whose "Mode" line marks the I0 detector column and whose "Offset" line ends it,
// then one line per monochromator step (angle, counting time, counts of every detector).
class XafsI0Table
{
public:
    QVector<double> energies; // eV, ascending (sorted after reading)
    QVector<double> i0Values; // counts per second
    double dSpacing = Units::DefaultDSpacing; // lattice spacing of the crystal in ångström
    int i0Column = -1; // column of the I0 counts from the last "Mode" line, -1 without one

    // False when the file cannot be opened, or is not a regular file of at most MaxFileBytes
    // (reported on the debug log; the table is then left as it was).
    bool readXafs(const QString &fileName);
    static constexpr qint64 MaxFileBytes = qint64(64) << 20;
    void clear();
    // Puts the points in ascending order of energy, as i0At expects them.
    void sortByEnergy();

    // A table needs two points to describe I0 against energy.
    bool valid() const { return energies.size() > 1; }
    int count() const { return int(energies.size()); }

    // I0 at an energy in eV: linear through the two neighbouring points, continued with the
    // first or last pair outside the scan; the only value of a one-point table; 1 for an
    // empty table, so that dividing by it changes nothing.
    double i0At(double energy) const;

    // The energy in eV written into an image file name where `pattern` shows it: every "#"
    // of the pattern stands for one decimal digit, every other character for itself; of the
    // matched text only the digits count, with "_" as the decimal point ("####_####" finds
    // "8980_0000" and gives 8980). Digits at the ends of the pattern must not run on into
    // further digits of the name. The first match in the name (folder excluded) counts; ok is
    // false when there is none.
    static double energyFromName(const QString &fileName, const QString &pattern, bool *ok);
};
