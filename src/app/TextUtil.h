#pragma once

#include <QString>
#include <QStringList>

// Line and item handling shared by every line-oriented text the program reads:
// configuration files, batch files, setup files, ITEX header comments and the
// companion viewer's messages. All functions are stateless; malformed quoting is
// reported on the debug log only.

// True for space, tab, line feed, vertical tab, form feed and carriage return.
inline bool isBlankChar(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

QString removeComment(const QString &line);
QString splitComment(QString &line);
bool isBlankLine(const QString &line);
bool cutContinuation(QString &line);
void takeFirstItem(QString &text, QString &item);
bool startsWithKey(const QString &text, const QString &key);
QStringList itemsAfterKey(const QString &text, const QString &key);
QString blanks(int n);
QString padRight(const QString &text, int width);

// Writes one debug-log line: a fixed text, then (when given) the file name or line it
// concerns, separated by one blank unless the text already ends in one.
void logLine(const QString &text, const QString &subject = QString());
