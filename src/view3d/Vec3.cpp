#include "Vec3.h"

#include <cmath>

double Vec3::length() const
{
    return std::sqrt(dot(*this));
}

Vec3 Vec3::rotated(const Vec3 &k, double angle) const
{
    // Rodrigues: cos(a) v + sin(a) (k x v) + (1 - cos(a)) k (k . v)
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return (*this) * c + k.cross(*this) * s + k * ((1.0 - c) * k.dot(*this));
}
