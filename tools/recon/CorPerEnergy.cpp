#include "CorPerEnergy.h"

#include "DataSeries.h"
#include "RowWindow.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace CorPerEnergy {

QList<double> fromTable(const QString &path, const QList<SeriesSet> &sets, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = "cannot read the table of centres " + path;
        return {};
    }
    QList<QPair<double, double>> rows;
    QTextStream in(&f);
    int lineNo = 0;
    static const QRegularExpression space(QStringLiteral("[\\s,;]+"));
    while (!in.atEnd()) {
        ++lineNo;
        const QString line = in.readLine().section('#', 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList items = line.split(space, Qt::SkipEmptyParts);
        bool okE = false, okC = false;
        const double e = items.value(0).toDouble(&okE);
        const double c = items.value(1).toDouble(&okC);
        if (items.size() != 2 || !okE || !okC || !std::isfinite(e) || !std::isfinite(c)) {
            *error = QString("%1 line %2: not \"energy cor\": %3").arg(path).arg(lineNo).arg(line);
            return {};
        }
        rows.append({ e, c });
    }
    QList<double> cors;
    for (const SeriesSet &set : sets) {
        const auto it = std::min_element(rows.cbegin(), rows.cend(), [&set](auto a, auto b) {
            return std::abs(a.first - set.energyEv) < std::abs(b.first - set.energyEv);
        });
        if (it == rows.cend() || std::abs(it->first - set.energyEv) > 0.05) {
            *error = QString("the table %1 gives no centre for energy %2 (%3 eV)")
                         .arg(path, set.tag)
                         .arg(set.energyEv);
            return {};
        }
        cors << it->second;
    }
    return cors;
}

Grid commonGrid(bool rotAxIsV, int lineLength, const QList<double> &cors)
{
    Grid g;
    if (cors.isEmpty())
        return g;
    QList<int> halves;
    for (double c : cors)
        halves << makeRowWindow(rotAxIsV, lineLength, c).half;
    const int smallest = *std::min_element(halves.cbegin(), halves.cend());
    g.size = std::max(0, 2 * smallest - 2);
    for (int h : std::as_const(halves))
        g.offset << h - smallest;
    return g;
}

} // namespace CorPerEnergy
