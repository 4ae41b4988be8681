#pragma once

#include <QString>

#include <vector>

// The unit of a list of rotation angles, as a file states it ("deg", "degrees", "rad",
// "radians") or as the user names it ("--theta-units rad|deg", "images_theta_units").
// Angles are kept in degrees everywhere else in the program.
class ThetaUnits
{
public:
    enum class Unit { None, Degrees, Radians };

    // The unit a text names; false (and None) for a text that names no angle unit. An empty
    // text is None and true.
    static bool parse(const QString &text, Unit &unit);

    // Turns `theta` into degrees. `stated` is the unit written in the file (empty when none),
    // `chosen` the one the user names (empty when none; it wins over the file's). Angles
    // without any unit are taken as degrees, except a list of 10 or more that spans less
    // than 6.3 (a half or full turn in radians): that is refused, the message naming `where`
    // (file and dataset) and the option that settles it. False with `error` set.
    static bool toDegrees(std::vector<double> &theta, const QString &stated, const QString &chosen,
        const QString &where, QString *error);

    // The text a user gives for `chosen`, checked: false for one that names no unit.
    static bool validChoice(const QString &chosen);
};
