#pragma once

#include <QList>
#include <QString>

// Writes X-ray energies into folder and file names so that sorting the names as text puts
// them in energy order, and so that the program reads the energy back: the number up to
// its last digit, "_" standing for the decimal point, followed by the unit ("eV" or
// "keV"). Every name of one series gets the same number of integer digits (zero-padded)
// and decimals, e.g. "08980_0eV" or "08_980keV".
class EnergyNaming
{
public:
    bool keV = false;
    int intDigits = 5;
    int decimals = 1;

    // The narrowest common format that writes every energy (eV) of the list exactly,
    // within 1e-6 of the unit, using at most 3 decimals in eV or 6 in keV, and at least
    // 1 and 3 (the facility's habit: "08980_0eV", "08_980keV"). Energies <= 0 are not
    // considered.
    static EnergyNaming forEnergies(const QList<double> &energiesEv, bool keV);

    QString text(double energyEv) const;

    // Reads a name written by text() (or any name with the number up to its last digit):
    // the energy in eV, or 0 when the text holds no number.
    static double readEnergyEv(const QString &text);
};
