#pragma once

#include "SeriesTree.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <limits>
#include <vector>

// Turns a series result tree into one spectral stack file, optionally aligning the energies'
// volumes first: each energy's volume is registered onto its neighbour's (towards the
// reference energy) on a central sub-volume, the shifts are summed up to the reference, and
// the volumes are resampled by those shifts as they are written. Works slice by slice within
// a memory budget: the 4-D array is never held whole.
class StackBuilder
{
public:
    struct Options
    {
        QString output;
        bool align = false;
        // The energy the others are aligned to (the nearest one is taken); NaN: the first.
        double alignRefEv = std::numeric_limits<double>::quiet_NaN();
        double maxShift = 10.0; // pixels between neighbours; more is reported as suspect
        qint64 memoryBytes = qint64(2) << 30;
        int subVolume = 128; // edge of the central sub-volume the shifts are measured on
        QString tablePath; // the text table of shifts; empty: none
    };

    struct Result
    {
        int refIndex = 0;
        // Per energy: the shift applied (slices, rows, columns) and the one measured against
        // its neighbour towards the reference (0 for the reference itself).
        std::vector<std::array<double, 3>> shifts;
        std::vector<std::array<double, 3>> pairShifts;
        QStringList suspect; // energies whose pair shift exceeds the maximum
        std::array<int, 3> subVolume { 0, 0, 0 };
        int energiesAtOnce = 0; // energies per written block
        double measureSeconds = 0;
        double writeSeconds = 0;
    };

    // Progress lines for the log.
    std::function<void(const QString &)> log;

    // Measures the shifts only (the tree's energies in order). False with `error` naming the
    // file that could not be read.
    bool measure(const SeriesTree &tree, const Options &options, Result &result, QString *error);

    // The whole step: shifts when asked, the stack file, the table. False with `error` set;
    // a failed stack leaves no file behind.
    bool build(const SeriesTree &tree, const Options &options, Result &result, QString *error);

    // The table: one line per energy with the applied and the measured shift.
    static QString shiftTable(const SeriesTree &tree, const Result &result, double maxShift);

    // Index of the energy nearest to `ev`; 0 for NaN.
    static int nearestEnergy(const SeriesTree &tree, double ev);

private:
    void say(const QString &line) const
    {
        if (log)
            log(line);
    }
};
