#include "ThetaUnits.h"

#include <algorithm>
#include <cmath>
#include <numbers>

bool ThetaUnits::parse(const QString &text, Unit &unit)
{
    const QString t = text.trimmed().toLower();
    unit = Unit::None;
    if (t.isEmpty())
        return true;
    if (t == u"deg" || t == u"degree" || t == u"degrees" || t == u"°")
        unit = Unit::Degrees;
    else if (t == u"rad" || t == u"radian" || t == u"radians")
        unit = Unit::Radians;
    else
        return false;
    return true;
}

bool ThetaUnits::validChoice(const QString &chosen)
{
    Unit u;
    return parse(chosen, u);
}

bool ThetaUnits::toDegrees(std::vector<double> &theta, const QString &stated, const QString &chosen,
    const QString &where, QString *error)
{
    Unit unit = Unit::None;
    if (!parse(chosen, unit)) {
        *error = QStringLiteral("The angle unit \"%1\" chosen for %2 is not known (rad or deg)")
                     .arg(chosen, where);
        return false;
    }
    if (unit == Unit::None && !parse(stated, unit)) {
        *error = QStringLiteral("The angles of %1 are in \"%2\", which is no angle unit this "
                                "program knows (rad, radians, deg, degrees); say which with "
                                "--theta-units rad|deg (batch: images_theta_units)")
                     .arg(where, stated);
        return false;
    }
    if (unit == Unit::None && theta.size() >= 10) {
        const auto [lo, hi] = std::minmax_element(theta.begin(), theta.end());
        const double span = *hi - *lo;
        if (span < 6.3) {
            *error = QStringLiteral("The angles of %1 have no unit and span %2 over %3 "
                                    "projections: they are likely radians (%4 degrees). Say "
                                    "which with --theta-units rad|deg (batch: "
                                    "images_theta_units rad|deg)")
                         .arg(where)
                         .arg(span, 0, 'g', 4)
                         .arg(theta.size())
                         .arg(span * 180.0 / std::numbers::pi, 0, 'g', 4);
            return false;
        }
    }
    if (unit == Unit::Radians) {
        for (double &t : theta)
            t *= 180.0 / std::numbers::pi;
    }
    return true;
}
