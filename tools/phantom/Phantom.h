#pragma once

#include "DetectorGeometry.h"
#include "Ellipsoid.h"

#include <vector>

// A test object made of overlapping ellipsoids whose attenuations add up. Angles are in
// radians; a projection at angle theta integrates along the lines
// X cos(theta) - Z sin(theta) = u, which is the detector position the reconstruction
// back-projects to.
class Phantom
{
public:
    std::vector<Ellipsoid> ellipsoids;

    // The body of the head phantom whose attenuation jumps at the absorption edge.
    static constexpr int edgeBody = 4;

    // A three-dimensional Shepp-Logan-like head, scaled so that it fills the part of the
    // detector that the reconstruction can use: 90 % of the usable half width across the
    // axis and 90 % of the height along it. `muScale` 1 lets the thickest part transmit
    // roughly a fifth of the beam, whatever the detector size. All bodies fall gently with
    // energy; body `edgeBody` carries an absorption edge at `edgeEnergy` (eV).
    static Phantom head(
        const DetectorGeometry &detector, double muScale = 1.0, double edgeEnergy = 8979.0);

    // Attenuation (1/pixel) at a point; energy in eV, 0 for the reference attenuation.
    double mu(double X, double Y, double Z, double energy = 0.0) const;

    // Exact integral of mu along the line at angle theta, detector position u and height
    // v along the axis (sum of each body's chord length times its attenuation).
    double lineIntegral(double theta, double u, double v, double energy = 0.0) const;

    // Line integrals of one projection, point-sampled at the detector pixel positions.
    // `lines` receives lineCount() rows of lineLength() values: row l is detector line l
    // (image row l, or image column l with a horizontal axis), element j its pixel j.
    void projectLines(
        const DetectorGeometry &detector, double theta, double energy, double *lines) const;

    // The same as a width x height image, row-major, pixel (x, y) at y * width + x.
    std::vector<double> project(
        const DetectorGeometry &detector, double theta, double energy = 0.0) const;
};
