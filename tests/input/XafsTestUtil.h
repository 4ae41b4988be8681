#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// An XAFS scan file as the beamline writes it: a few title lines, the "Mode" line that
// marks the detector columns (1 = I0), the "Offset" line, then one line per point.
inline bool writeXafsFile(const QString &path, const QString &modeLine, const QStringList &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QString text = QStringLiteral("  9809     KEK-PF   BL9C\n"
                                  "Fe-foil  2024.03.01 10:00\n"
                                  " 12.0   0.5   1   2   3\n");
    text += modeLine + u'\n';
    text += QStringLiteral("Offset   0.0   0.0   10.0   20.0   30.0\n");
    for (const QString &l : data)
        text += l + u'\n';
    const QByteArray bytes = text.toUtf8();
    return f.write(bytes) == bytes.size();
}
