#include "FileNames.h"

#include <QDir>
#include <QFile>

#include <dirent.h>

#include <memory>

bool namesRoundTrip(const QByteArray &bytes)
{
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

QString escapedName(const QByteArray &bytes)
{
    QString text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        // The longest prefix from i that decodes and encodes back unchanged is kept as text.
        qsizetype n = std::min<qsizetype>(4, bytes.size() - i);
        for (; n > 0; --n) {
            if (namesRoundTrip(bytes.mid(i, n)))
                break;
        }
        if (n > 0) {
            text += QFile::decodeName(bytes.mid(i, n));
            i += n;
        } else {
            text += QString("\\x%1").arg(uchar(bytes.at(i)), 2, 16, QChar('0'));
            ++i;
        }
    }
    return text;
}

QStringList undecodableNames(const QString &folder, const QStringList &patterns)
{
    QStringList names;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(
        ::opendir(QFile::encodeName(folder).constData()), ::closedir);
    if (!dir)
        return names;
    while (const dirent *e = ::readdir(dir.get())) {
        const QByteArray name(e->d_name);
        if (namesRoundTrip(name))
            continue;
        const QString shown = escapedName(name);
        if (patterns.isEmpty() || QDir::match(patterns, shown))
            names << shown;
    }
    names.sort();
    return names;
}

QString undecodableText(const QString &folder, const QStringList &names)
{
    return QString("%1 file name%2 in %3 %4 not valid UTF-8 and cannot be read (rename them): %5%6")
        .arg(names.size())
        .arg(names.size() == 1 ? "" : "s")
        .arg(folder)
        .arg(names.size() == 1 ? "is" : "are")
        .arg(names.mid(0, 5).join(", "))
        .arg(names.size() > 5 ? ", ..." : "");
}
