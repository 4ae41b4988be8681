#pragma once

#include "CtFilter.h"
#include "CtMethod.h"

class HSgm;

// What every reconstruction method offers its callers: sized for a run, given a filter and
// the rows' angles, it makes one slice from the attenuation rows of a sinogram into an
// N x N result on the common pixel grid. The workers, the single-slice panel, the tools and
// the Python module hold their engine through this interface and make it from the method
// table (CtMethods::info(method).make()), so a new method is one class and one table row.
//
// One engine per thread; an engine is only used by one thread at a time.
class CtEngine
{
public:
    virtual ~CtEngine() = default;

    // The method this engine implements; its row of the method table names and labels it.
    virtual CtMethod method() const = 0;
    // The label of the results' files: "filtered back-projection".
    QString label() const { return CtMethods::info(method()).label; }

    // Sizes the engine for a run of rows of length n and `projections` rows, the divisor of
    // the normalisation. An engine may make its transforms only at its first slice.
    virtual void sizeForRun(int n, int projections) = 0;
    // Makes the engine fit a slice of even width n and `rows` projections without touching
    // the divisor. False when it cannot (n < 2, no memory).
    virtual bool prepare(int n, int rows) = 0;
    // The divisor of the normalisation: the number of projections a slice is made of.
    virtual void setProjections(int projections) = 0;
    // The filter of the projections; false when its transforms cannot be made. An engine
    // may stand in its nearest equivalent for a filter it cannot use: filter() tells.
    virtual bool setFilter(CtFilterKind kind) = 0;
    virtual CtFilterKind filter() const = 0;
    // Angles of their own for the rows (radians, row i at angles[i]), used instead of
    // angle0 + i * dAngle; the caller keeps the array alive while a slice is made; nullptr
    // returns to the common step.
    virtual void setRowAngles(const double *angles) = 0;

    // Result of n x n zeros, not valid.
    virtual void initResult(int n) = 0;
    // A whole slice from the attenuation rows of `sgm` (row i at angle0 + i * dAngle
    // radians) into the region x0 <= x < x1, z0 <= z < z1 inside the inscribed circle.
    // False, and no valid result, for an empty sinogram, angles that are not numbers or no
    // memory.
    virtual bool reconstruct(const HSgm &sgm, double x0, double x1, double z0, double z1,
        double angle0, double dAngle)
        = 0;

    // The result: one contiguous row-major block of resultSize() x resultSize().
    virtual bool resultValid() const = 0;
    virtual int resultSize() const = 0;
    virtual const double *resultData() const = 0;
    // Finds the result's range for resMin() and resMax().
    virtual void findMinMax() = 0;
    virtual double resMin() const = 0;
    virtual double resMax() const = 0;
};
