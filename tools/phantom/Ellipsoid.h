#pragma once

// One body of a phantom: a uniformly absorbing ellipsoid in object coordinates (pixels).
// X runs to the right and Z downward in a reconstructed slice, Y along the rotation
// axis. The semi-axis `ax` points along (cos phi, sin phi) in the X-Z plane, `az` along
// (-sin phi, cos phi), `ay` along Y: the body may only be turned about the axis
// direction, which keeps every slice through it an ellipse.
struct Ellipsoid
{
    double cx = 0.0, cy = 0.0, cz = 0.0;
    double ax = 1.0, ay = 1.0, az = 1.0;
    double phi = 0.0; // radians

    // Attenuation in 1/pixel at `refEnergy` (below the edge when there is one).
    double mu = 0.0;

    // Energy dependence, in eV. Without a reference energy, or for energy <= 0, the
    // attenuation is `mu` at every energy. Otherwise it falls as (refEnergy / E)^exponent
    // and, when `edgeEnergy` > 0, rises by the factor `edgeJump` across an absorption
    // edge of full width `edgeWidth` (arctangent step, as a core-hole broadened edge).
    double refEnergy = 0.0;
    double energyExponent = 0.0;
    double edgeEnergy = 0.0;
    double edgeJump = 1.0;
    double edgeWidth = 1.0;

    double muAt(double energy) const;
    bool contains(double X, double Y, double Z) const;

    // Length of the part of the line p + s d (all s) inside the ellipsoid. d need not be
    // of unit length but must not be zero.
    double chord(const double p[3], const double d[3]) const;
};
