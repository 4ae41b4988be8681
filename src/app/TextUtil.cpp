#include "TextUtil.h"

#include <QDebug>

namespace {

// Index of the first '#' outside quotes, or -1. Single and double quotes flip the
// same flag: the two kinds are deliberately not told apart.
qsizetype commentStart(const QString &line)
{
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u'\'' || c == u'"')
            inQuotes = !inQuotes;
        else if (c == u'#' && !inQuotes)
            return i;
    }
    return -1;
}

const int MaxBlanks = 101;

const QString &blankPool()
{
    static const QString pool(MaxBlanks, u' ');
    return pool;
}

} // namespace

QString removeComment(const QString &line)
{
    const qsizetype at = commentStart(line);
    return at < 0 ? line : line.left(at);
}

QString splitComment(QString &line)
{
    const qsizetype at = commentStart(line);
    if (at < 0)
        return QString();
    QString comment = line.mid(at + 1);
    line.truncate(at);
    return comment;
}

bool isBlankLine(const QString &line)
{
    const QString cut = removeComment(line);
    for (QChar c : cut)
        if (!isBlankChar(c))
            return false;
    return true;
}

bool cutContinuation(QString &line)
{
    qsizetype i = line.size() - 1;
    while (i >= 0 && isBlankChar(line.at(i)))
        --i;
    if (i < 0 || line.at(i) != u'\\')
        return false;
    line.truncate(i);
    return true;
}

void takeFirstItem(QString &text, QString &item)
{
    qsizetype f = 0;
    while (f < text.size() && isBlankChar(text.at(f)))
        ++f;
    if (f >= text.size()) {
        item.clear();
        text.clear();
        return;
    }

    if (text.at(f) == u'"') {
        const qsizetype j = text.indexOf(u'"', f + 1);
        if (j >= 0) {
            item = text.mid(f + 1, j - f - 1);
            text = text.mid(j + 1);
        } else {
            logLine(QString("In a line [%1] item is started from quote but not ended by quote")
                        .arg(text));
            item = text.mid(f + 1);
            text.clear();
        }
        return;
    }

    qsizetype r = f + 1;
    while (r < text.size() && !isBlankChar(text.at(r)))
        ++r;
    const QString whole = text;
    item = text.mid(f, r - f);
    if (r < text.size())
        text = text.mid(r);
    else
        text.clear();
    if (item.endsWith(u'"'))
        logLine(QString("In a line [%1] item is started from not quote but ended by quote")
                    .arg(whole));
}

bool startsWithKey(const QString &text, const QString &key)
{
    return text.startsWith(key, Qt::CaseSensitive);
}

QStringList itemsAfterKey(const QString &text, const QString &key)
{
    QStringList items;
    QString rest = text.mid(key.size());
    QString item;
    while (!rest.isEmpty()) {
        takeFirstItem(rest, item);
        items.append(item);
    }
    return items;
}

QString blanks(int n)
{
    if (n <= 0)
        return QString();
    return blankPool().left(qMin(n, MaxBlanks));
}

QString padRight(const QString &text, int width)
{
    if (text.size() >= width)
        return text;
    return text + blanks(int(width - text.size()));
}

void logLine(const QString &text, const QString &subject)
{
    if (subject.isNull()) {
        qDebug().noquote() << text;
        return;
    }
    // Fixed texts that end in a blank ("... : ") are followed directly by the subject.
    const bool joined = !text.isEmpty() && isBlankChar(text.back());
    qDebug().noquote().nospace() << text << (joined ? "" : " ") << subject;
}
