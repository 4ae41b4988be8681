#include "Units.h"

#include <cmath>

QStringList Units::names()
{
    return { QStringLiteral("eV"), QStringLiteral("keV"), QStringLiteral("A"),
        QStringLiteral("deg") };
}

QString Units::format(Unit u)
{
    return u == EV ? QStringLiteral("% 8.2f") : QStringLiteral("% 8.5f");
}

QString Units::text(double v, Unit u)
{
    return QString::asprintf(u == EV ? "% 8.2f" : "% 8.5f", v);
}

double Units::angleToEv(double deg, double dSpacing)
{
    return HcEvA / (2.0 * std::sin(deg * Pi / 180.0) * dSpacing);
}

double Units::toEv(double v, Unit u) const
{
    switch (u) {
    case EV:
        return v;
    case KEV:
        return v * 1000.0;
    case A:
        return HcEvA / v;
    case DEG:
        return angleToEv(v, d);
    }
    return v;
}

double Units::fromEv(double e, Unit u) const
{
    switch (u) {
    case EV:
        return e;
    case KEV:
        return e / 1000.0;
    case A:
        return HcEvA / e;
    case DEG:
        return std::asin(HcEvA / (2.0 * d * e)) * 180.0 / Pi;
    }
    return e;
}
