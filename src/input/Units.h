#pragma once

#include <QString>
#include <QStringList>

// The units in which XAFS energies are given and shown: energy in eV or keV, the X-ray
// wavelength in ångström and the monochromator's Bragg angle in degrees. The angle needs the
// lattice spacing of the monochromator crystal, which the table carries.
class Units
{
public:
    enum Unit { EV = 0, KEV, A, DEG };

    // Si(111), the usual crystal of an XAFS monochromator.
    static constexpr double DefaultDSpacing = 3.13553;
    // h c in eV ångström: E[eV] = HcEvA / lambda[A].
    static constexpr double HcEvA = 12398.424360387684;
    // The value of pi the beamline software uses for angles; kept so that energies computed
    // here agree with the numbers in its files.
    static constexpr double Pi = 3.1415926535;

    explicit Units(double dSpacing = DefaultDSpacing)
        : d(dSpacing)
    { }

    double dSpacing() const { return d; }
    void setDSpacing(double v) { d = v; }

    static QStringList names();
    // "% 8.2f" for eV, "% 8.5f" for the others (printf formats).
    static QString format(Unit u);
    static QString text(double v, Unit u);

    // Energy in eV of a value given in unit u, and back. A wavelength or angle of 0 has no
    // finite energy and gives infinity; an energy below the crystal's reach (hc / 2d) has
    // no angle and gives NaN.
    double toEv(double v, Unit u) const;
    double fromEv(double e, Unit u) const;

    // Bragg angle in degrees to energy in eV with this table's lattice spacing.
    static double angleToEv(double deg, double dSpacing);

private:
    double d;
};
