#include "Phantom.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct HeadBody
{
    double density, a, b, c, x0, y0, z0, phiDeg;
};

// The modified (higher contrast) three-dimensional Shepp-Logan head in its unit cube:
// a and b lie in the slice plane, c along the axis; y0 points up in the slice and z0 up
// along the axis. Tilts out of the slice plane are left out so that every body turns only
// about the rotation axis.
constexpr HeadBody headBodies[] = {
    { 1.0, 0.69, 0.92, 0.81, 0.0, 0.0, 0.0, 0.0 },
    { -0.8, 0.6624, 0.874, 0.78, 0.0, -0.0184, 0.0, 0.0 },
    { -0.2, 0.11, 0.31, 0.22, 0.22, 0.0, 0.0, -18.0 },
    { -0.2, 0.16, 0.41, 0.28, -0.22, 0.0, 0.0, 18.0 },
    { 0.1, 0.21, 0.25, 0.41, 0.0, 0.35, -0.15, 0.0 },
    { 0.1, 0.046, 0.046, 0.05, 0.0, 0.1, 0.25, 0.0 },
    { 0.1, 0.046, 0.046, 0.05, 0.0, -0.1, 0.25, 0.0 },
    { 0.1, 0.046, 0.023, 0.05, -0.08, -0.605, 0.0, 0.0 },
    { 0.1, 0.023, 0.023, 0.02, 0.0, -0.606, 0.0, 0.0 },
    { 0.1, 0.023, 0.046, 0.02, 0.06, -0.605, 0.0, 0.0 },
};

// Density 1 across one phantom radius gives this line integral at muScale 1; with the
// skull and brain densities the thickest rays then integrate to about 1.6.
constexpr double densityPerRadius = 3.0;
constexpr double headExponent = 2.5; // gentle fall of attenuation with energy
constexpr double edgeJump = 3.0;
constexpr double edgeWidthEv = 2.0;

} // namespace

Phantom Phantom::head(const DetectorGeometry &detector, double muScale, double edgeEnergy)
{
    Phantom p;
    const double r = 0.9 * std::max(detector.usableHalfWidth() - 1, 1) / 0.92;
    const double ra = 0.9 * (detector.lineCount() / 2.0) / 0.81;
    const double muUnit = densityPerRadius * muScale / r;
    for (const HeadBody &b : headBodies) {
        Ellipsoid e;
        // Slice pictures have z downward and detector images y downward, the unit cube
        // has both upward.
        e.cx = b.x0 * r;
        e.cz = -b.y0 * r;
        e.cy = -b.z0 * ra;
        e.ax = b.a * r;
        e.az = b.b * r;
        e.ay = b.c * ra;
        e.phi = -b.phiDeg * std::numbers::pi / 180.0;
        e.mu = b.density * muUnit;
        e.refEnergy = edgeEnergy;
        e.energyExponent = headExponent;
        p.ellipsoids.push_back(e);
    }
    Ellipsoid &edge = p.ellipsoids[edgeBody];
    edge.edgeEnergy = edgeEnergy;
    edge.edgeJump = edgeJump;
    edge.edgeWidth = edgeWidthEv;
    return p;
}

double Phantom::mu(double X, double Y, double Z, double energy) const
{
    double m = 0.0;
    for (const Ellipsoid &e : ellipsoids) {
        if (e.contains(X, Y, Z))
            m += e.muAt(energy);
    }
    return m;
}

double Phantom::lineIntegral(double theta, double u, double v, double energy) const
{
    const double c = std::cos(theta), s = std::sin(theta);
    const double p[3] = { u * c, v, -u * s };
    const double d[3] = { s, 0.0, c };
    double sum = 0.0;
    for (const Ellipsoid &e : ellipsoids)
        sum += e.chord(p, d) * e.muAt(energy);
    return sum;
}

void Phantom::projectLines(
    const DetectorGeometry &detector, double theta, double energy, double *lines) const
{
    const int len = detector.lineLength();
    const int count = detector.lineCount();
    const double axis = detector.axis();
    std::fill(lines, lines + size_t(len) * count, 0.0);
    const double ct = std::cos(theta), st = std::sin(theta);
    for (const Ellipsoid &e : ellipsoids) {
        const double m = e.muAt(energy);
        if (m == 0.0)
            continue;
        // Each slice of a body turned only about the axis is the same ellipse scaled by
        // sqrt(k); its shadow at angle theta is the chord profile of an ellipse, centred
        // on the projected centre, with half width sqrt(k) * s.
        const double cp = std::cos(theta + e.phi), sp = std::sin(theta + e.phi);
        const double s2 = e.ax * e.ax * cp * cp + e.az * e.az * sp * sp;
        const double factor = 2.0 * e.ax * e.az / s2 * m;
        const double centre = axis + e.cx * ct - e.cz * st; // in detector pixels
        for (int l = 0; l < count; ++l) {
            const double w = (detector.v(l) - e.cy) / e.ay;
            const double k = 1.0 - w * w;
            if (k <= 0.0)
                continue;
            const double h2 = k * s2;
            const double h = std::sqrt(h2);
            const int j0 = std::max(0, int(std::ceil(centre - h)));
            const int j1 = std::min(len - 1, int(std::floor(centre + h)));
            double *row = lines + size_t(l) * len;
            for (int j = j0; j <= j1; ++j) {
                const double t = j - centre;
                const double r2 = h2 - t * t;
                row[j] += r2 > 0.0 ? factor * std::sqrt(r2) : 0.0;
            }
        }
    }
}

std::vector<double> Phantom::project(
    const DetectorGeometry &detector, double theta, double energy) const
{
    const int len = detector.lineLength();
    const int count = detector.lineCount();
    std::vector<double> lines(size_t(len) * count);
    projectLines(detector, theta, energy, lines.data());
    if (!detector.horizontalAxis)
        return lines;
    // Detector line l is image column l: transpose into rows of `width` pixels.
    std::vector<double> image(lines.size());
    for (int l = 0; l < count; ++l)
        for (int j = 0; j < len; ++j)
            image[size_t(j) * detector.width + l] = lines[size_t(l) * len + j];
    return image;
}
