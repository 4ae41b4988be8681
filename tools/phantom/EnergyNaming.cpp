#include "EnergyNaming.h"

#include <algorithm>
#include <cmath>

namespace {

bool exactAt(double value, int decimals)
{
    const double scaled = value * std::pow(10.0, decimals);
    return std::abs(scaled - std::round(scaled)) < 1e-6 * std::pow(10.0, decimals);
}

} // namespace

EnergyNaming EnergyNaming::forEnergies(const QList<double> &energiesEv, bool keV)
{
    EnergyNaming n;
    n.keV = keV;
    const int minDecimals = keV ? 3 : 1;
    const int maxDecimals = keV ? 6 : 3;
    n.decimals = minDecimals;
    double largest = 0.0;
    for (double e : energiesEv) {
        if (!(e > 0.0))
            continue;
        const double v = keV ? e / 1000.0 : e;
        while (n.decimals < maxDecimals && !exactAt(v, n.decimals))
            ++n.decimals;
        largest = std::max(largest, v);
    }
    n.intDigits = keV ? 2 : 5;
    // Rounding may carry into a new digit (9.9999996 keV becomes "10.000000").
    const QString widest = QString::number(largest, 'f', n.decimals);
    n.intDigits = std::max<int>(n.intDigits, widest.indexOf(u'.'));
    return n;
}

QString EnergyNaming::text(double energyEv) const
{
    const double v = keV ? energyEv / 1000.0 : energyEv;
    QString number = QString::number(v, 'f', decimals);
    const int width = intDigits + (decimals > 0 ? decimals + 1 : 0);
    number = number.rightJustified(width, u'0');
    number.replace(u'.', u'_');
    return number + (keV ? QStringLiteral("keV") : QStringLiteral("eV"));
}

double EnergyNaming::readEnergyEv(const QString &text)
{
    qsizetype last = text.size() - 1;
    while (last >= 0 && (text.at(last) < u'0' || text.at(last) > u'9'))
        --last;
    if (last < 0)
        return 0.0;
    QString number = text.left(last + 1);
    number.replace(u'_', u'.');
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (!ok)
        return 0.0;
    const QString unit = text.mid(last + 1);
    return unit.toUpper() == QLatin1String("KEV") ? v * 1000.0 : v;
}
