#include "DetectorGeometry.h"

#include <algorithm>
#include <cmath>

int DetectorGeometry::usableHalfWidth() const
{
    const double a = axis();
    return int(std::floor(std::min(a, lineLength() - 1 - a)));
}

bool DetectorGeometry::isValid() const
{
    // A phantom needs a few pixels on each side of the axis to be more than a dot.
    return width >= 4 && height >= 4 && std::isfinite(axisOffset) && usableHalfWidth() >= 2;
}
