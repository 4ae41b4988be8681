#include "TextUtil.h"

#include <QDebug>
#include <QTextStream>

namespace {

// Index of the first '#' outside quotes, or -1. Single and double quotes flip the
// same flag: the two kinds are deliberately not told apart.
qsizetype commentStart(const QString &line)
{
    bool inQuotes = false;
    qsizetype from = 0;
    // The energy pattern of the I0 commands is written with '#' for its digits
    // ("add_inf_raw_i0_eng_ptn ####_####"): that item is the pattern, not a comment.
    {
        qsizetype i = 0;
        while (i < line.size() && line.at(i).isSpace())
            ++i;
        const qsizetype keyStart = i;
        while (i < line.size() && !line.at(i).isSpace())
            ++i;
        if (QStringView(line)
                .mid(keyStart, i - keyStart)
                .endsWith(u"_eng_ptn", Qt::CaseInsensitive)) {
            while (i < line.size() && line.at(i).isSpace())
                ++i;
            if (i < line.size() && line.at(i) != u'"' && line.at(i) != u'\'') {
                while (i < line.size() && !line.at(i).isSpace())
                    ++i;
                from = i;
            }
        }
    }
    for (qsizetype i = from; i < line.size(); ++i) {
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

namespace {

// The item that starts at or after `pos` (after blanks), as takeFirstItem takes it; moves
// `pos` past it (to the end when nothing but blanks is left). Never copies the rest of the
// text, so taking every item of a line is linear in its length.
void itemAt(const QString &text, qsizetype &pos, QString &item)
{
    const qsizetype size = text.size();
    qsizetype f = pos;
    while (f < size && isBlankChar(text.at(f)))
        ++f;
    if (f >= size) {
        item.clear();
        pos = size;
        return;
    }

    if (text.at(f) == u'"') {
        const qsizetype j = text.indexOf(u'"', f + 1);
        if (j >= 0) {
            item = text.mid(f + 1, j - f - 1);
            pos = j + 1;
        } else {
            logLine(QString("In a line [%1] item is started from quote but not ended by quote")
                        .arg(text.mid(pos)));
            item = text.mid(f + 1);
            pos = size;
        }
        return;
    }

    qsizetype r = f + 1;
    while (r < size && !isBlankChar(text.at(r)))
        ++r;
    item = text.mid(f, r - f);
    if (item.endsWith(u'"'))
        logLine(QString("In a line [%1] item is started from not quote but ended by quote")
                    .arg(text.mid(pos)));
    pos = r;
}

} // namespace

void takeFirstItem(QString &text, QString &item)
{
    qsizetype pos = 0;
    itemAt(text, pos, item);
    if (pos >= text.size())
        text.clear();
    else
        text.remove(0, pos);
}

QStringList splitItems(const QString &text)
{
    QStringList items;
    QString item;
    qsizetype pos = 0;
    while (pos < text.size()) {
        itemAt(text, pos, item);
        items.append(item);
    }
    return items;
}

LineRead readBoundedLine(QTextStream &in, QString &line)
{
    if (!in.readLineInto(&line, MaxTextLineLength + 1))
        return LineRead::End;
    return line.size() > MaxTextLineLength ? LineRead::TooLong : LineRead::Line;
}

bool startsWithKey(const QString &text, const QString &key)
{
    return text.startsWith(key, Qt::CaseSensitive);
}

QStringList itemsAfterKey(const QString &text, const QString &key)
{
    return splitItems(text.mid(key.size()));
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
