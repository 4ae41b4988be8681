#pragma once

#include <QMetaType>

// A point or direction of the 3D view: volume units, x along slice columns, y along slice rows,
// z across the slices.
struct Vec3
{
    double x = 0;
    double y = 0;
    double z = 0;

    constexpr Vec3() = default;
    constexpr Vec3(double x_, double y_, double z_)
        : x(x_)
        , y(y_)
        , z(z_)
    { }

    constexpr double dot(const Vec3 &o) const { return x * o.x + y * o.y + z * o.z; }
    constexpr Vec3 cross(const Vec3 &o) const
    {
        return { y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x };
    }
    double length() const;

    // Turns this vector about `axis` by `angle` radians (right-handed). The axis is used as
    // given: it is meant to be of unit length and is not normalised here.
    Vec3 rotated(const Vec3 &axis, double angle) const;

    constexpr Vec3 operator+(const Vec3 &o) const { return { x + o.x, y + o.y, z + o.z }; }
    constexpr Vec3 operator-(const Vec3 &o) const { return { x - o.x, y - o.y, z - o.z }; }
    constexpr Vec3 operator*(double s) const { return { x * s, y * s, z * s }; }
    constexpr bool operator==(const Vec3 &o) const = default;
};

constexpr Vec3 operator*(double s, const Vec3 &v)
{
    return v * s;
}

Q_DECLARE_METATYPE(Vec3)
