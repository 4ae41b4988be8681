#include "Ellipsoid.h"

#include <cmath>
#include <numbers>

double Ellipsoid::muAt(double energy) const
{
    if (energy <= 0.0 || refEnergy <= 0.0)
        return mu;
    double m = mu * std::pow(refEnergy / energy, energyExponent);
    if (edgeEnergy > 0.0) {
        const double halfWidth = edgeWidth > 0.0 ? edgeWidth / 2.0 : 1e-9;
        const double step = 0.5 + std::atan((energy - edgeEnergy) / halfWidth) / std::numbers::pi;
        m *= 1.0 + (edgeJump - 1.0) * step;
    }
    return m;
}

bool Ellipsoid::contains(double X, double Y, double Z) const
{
    const double c = std::cos(phi), s = std::sin(phi);
    const double dx = X - cx, dy = Y - cy, dz = Z - cz;
    const double qx = (dx * c + dz * s) / ax;
    const double qy = dy / ay;
    const double qz = (-dx * s + dz * c) / az;
    return qx * qx + qy * qy + qz * qz <= 1.0;
}

double Ellipsoid::chord(const double p[3], const double d[3]) const
{
    const double c = std::cos(phi), s = std::sin(phi);
    // Line in the body's own frame, scaled so that the body becomes the unit sphere:
    // |q + t e|^2 = 1 is then a quadratic in t.
    const double dx = p[0] - cx, dy = p[1] - cy, dz = p[2] - cz;
    const double q[3] = { (dx * c + dz * s) / ax, dy / ay, (-dx * s + dz * c) / az };
    const double e[3] = { (d[0] * c + d[2] * s) / ax, d[1] / ay, (-d[0] * s + d[2] * c) / az };
    const double a = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
    const double b = q[0] * e[0] + q[1] * e[1] + q[2] * e[2];
    const double cc = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] - 1.0;
    const double disc = b * b - a * cc;
    if (a <= 0.0 || disc <= 0.0)
        return 0.0;
    const double dn = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return 2.0 * std::sqrt(disc) / a * dn;
}
