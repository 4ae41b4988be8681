#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

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
// Every item of `text`, as repeated takeFirstItem would take them (trailing blanks give a
// last empty item), in time linear in the length of the text.
QStringList splitItems(const QString &text);
bool startsWithKey(const QString &text, const QString &key);
QStringList itemsAfterKey(const QString &text, const QString &key);
QString blanks(int n);
QString padRight(const QString &text, int width);

// Bounds on what the program reads as text (configuration and batch files): a line or a file
// beyond them is no text anyone wrote (an INCLUDE of /dev/zero, a binary file by mistake)
// and would otherwise take all memory.
constexpr qsizetype MaxTextLineLength = qsizetype(4) << 20; // characters
constexpr qint64 MaxTextFileLength = qint64(64) << 20; // characters
enum class LineRead { Line, End, TooLong };
// The next line of `in` into `line`: Line, End (nothing left), or TooLong when the line has
// more than MaxTextLineLength characters (`line` then holds only its beginning).
LineRead readBoundedLine(QTextStream &in, QString &line);

// Writes one debug-log line: a fixed text, then (when given) the file name or line it
// concerns, separated by one blank unless the text already ends in one.
void logLine(const QString &text, const QString &subject = QString());
