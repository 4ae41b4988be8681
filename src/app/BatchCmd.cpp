#include "BatchCmd.h"

#include "TextUtil.h"

#include <cmath>

BatchCmd::BatchCmd(const QString &l)
    : line(l)
{
    const QStringList items = splitItems(l);
    cmd = items.value(0);
    for (qsizetype i = 1; i < items.size(); ++i)
        if (!items.at(i).isEmpty())
            args.append(items.at(i));
}

bool BatchCmd::is(const QString &keyword) const
{
    return cmd.toUpper() == keyword.toUpper();
}

QString BatchCmd::arg(int i) const
{
    return i >= 0 && i < args.size() ? args.at(i) : QString();
}

int BatchCmd::argInt(int i) const
{
    bool ok = false;
    const int v = arg(i).toInt(&ok, 10);
    return ok ? v : 0;
}

double BatchCmd::argDouble(int i) const
{
    bool ok = false;
    const double v = arg(i).toDouble(&ok);
    // "nan" and "inf" parse as numbers, but no control of the window can take them: a
    // centre of rotation or a colour limit set to NaN would silently spoil every result.
    return ok && std::isfinite(v) ? v : 0.0;
}
