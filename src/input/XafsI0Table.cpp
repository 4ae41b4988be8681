#include "XafsI0Table.h"

#include "TextUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

void XafsI0Table::clear()
{
    energies.clear();
    i0Values.clear();
    i0Column = -1;
}

bool XafsI0Table::readXafs(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logLine(QStringLiteral("Can't open : "), fileName);
        return false;
    }
    // A scan of a few thousand points is well under a megabyte: a device, or a file far larger
    // than any scan, is not read into memory line by line.
    const QFileInfo info(fileName);
    if (!info.isFile() || info.size() > MaxFileBytes) {
        logLine(QString("Not an XAFS scan file (not a regular file, or over %1 MB) : ")
                    .arg(MaxFileBytes >> 20),
            fileName);
        return false;
    }
    clear();
    QTextStream in(&f);
    bool inHeader = true;
    QString line;
    while (in.readLineInto(&line)) {
        const QStringList items = line.simplified().split(u' ');
        if (inHeader) {
            if (items.at(0) == u"Mode") {
                for (int i = 1; i < items.size(); ++i) {
                    bool ok = false;
                    if (items.at(i).toInt(&ok) == 1 && ok)
                        i0Column = i;
                }
            } else if (items.at(0) == u"Offset") {
                inHeader = false;
            }
            continue;
        }
        const int g = i0Column;
        if (g <= 2 || g >= items.size())
            continue;
        bool okA = false, okT = false, okC = false;
        const double angle = items.at(1).toDouble(&okA);
        const double time = items.at(2).toDouble(&okT);
        const double counts = items.at(g).toDouble(&okC);
        if (!okA || !okT || !okC)
            continue;
        const double e = Units::angleToEv(angle, dSpacing);
        const double i0 = counts / time;
        // A zero counting time or angle would put an infinity or NaN into the table and
        // spoil the interpolation at every energy, not only at this point.
        if (!std::isfinite(e) || !std::isfinite(i0))
            continue;
        energies.append(e);
        i0Values.append(i0);
    }
    sortByEnergy();
    return true;
}

void XafsI0Table::sortByEnergy()
{
    // A scan recorded downward in energy (or in pieces) must still interpolate between its
    // neighbours in energy; equal energies keep their file order.
    const qsizetype n = energies.size();
    std::vector<qsizetype> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
        [this](qsizetype a, qsizetype b) { return energies.at(a) < energies.at(b); });
    QVector<double> e(n), v(n);
    for (qsizetype i = 0; i < n; ++i) {
        e[i] = energies.at(order[size_t(i)]);
        v[i] = i0Values.at(order[size_t(i)]);
    }
    energies = std::move(e);
    i0Values = std::move(v);
}

namespace {

double interpolate(double x, double x0, double y0, double x1, double y1)
{
    if (x0 == x1)
        return (y0 + y1) / 2.0;
    return y0 + (x - x0) * (y1 - y0) / (x1 - x0);
}

} // namespace

double XafsI0Table::i0At(double energy) const
{
    const qsizetype n = energies.size();
    if (n == 0)
        return 1.0;
    if (n == 1)
        return i0Values.at(0);
    qsizetype k = 1;
    while (k < n && energies.at(k) <= energy)
        ++k;
    if (k == n)
        k = n - 1;
    return interpolate(
        energy, energies.at(k - 1), i0Values.at(k - 1), energies.at(k), i0Values.at(k));
}

double XafsI0Table::energyFromName(const QString &fileName, const QString &pattern, bool *ok)
{
    if (ok)
        *ok = false;
    if (pattern.isEmpty())
        return 0.0;
    // The digits stand exactly where the pattern puts them: a run of digits longer than the
    // pattern's does not hold an energy ("a-12345_67890" has none for "####_####").
    QString rx;
    if (pattern.front() == u'#')
        rx += QStringLiteral("(?<![0-9])");
    for (const QChar c : pattern)
        rx += c == u'#' ? QStringLiteral("[0-9]") : QRegularExpression::escape(QString(c));
    if (pattern.back() == u'#')
        rx += QStringLiteral("(?![0-9])");
    const QRegularExpressionMatch m = QRegularExpression(rx).match(QFileInfo(fileName).fileName());
    if (!m.hasMatch())
        return 0.0;
    // Only the digits and decimal marks make the number; the pattern's other characters
    // just place it in the name.
    QString number;
    for (const QChar c : m.captured(0)) {
        if (c == u'_' || c == u'.')
            number += u'.';
        else if (c >= u'0' && c <= u'9')
            number += c;
    }
    bool numOk = false;
    const double v = number.toDouble(&numOk);
    if (ok)
        *ok = numOk;
    return numOk ? v : 0.0;
}
