#include "OptionFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

namespace {

// The text before the first "#" outside double quotes.
QString withoutComment(const QString &line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == u'"')
            quoted = !quoted;
        else if (line.at(i) == u'#' && !quoted)
            return line.left(i);
    }
    return line;
}

} // namespace

bool OptionFile::read(const QString &path, const QList<QCommandLineOption> &options,
    QStringList *out, QString *folder, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the option file %1").arg(path);
        return false;
    }
    QStringList args;
    QTextStream in(&file);
    int lineNo = 0;
    while (!in.atEnd()) {
        ++lineNo;
        const QString line = withoutComment(in.readLine()).trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype blank = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString key = blank < 0 ? line : line.left(blank);
        QString value = blank < 0 ? QString() : line.mid(blank).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        const QString where = QStringLiteral("line %1 of %2").arg(lineNo).arg(path);
        if (key == u"folder") {
            if (value.isEmpty()) {
                *error = QStringLiteral("folder without a path at %1").arg(where);
                return false;
            }
            *folder = value;
            continue;
        }
        const QCommandLineOption *option = nullptr;
        for (const QCommandLineOption &o : options) {
            if (o.names().contains(key) && key.size() > 1)
                option = &o;
        }
        if (option == nullptr || key == u"config" || key == u"help" || key == u"version") {
            *error = QStringLiteral("unknown option '%1' at %2").arg(key, where);
            return false;
        }
        if (option->valueName().isEmpty()) {
            const QString v = value.toLower();
            if (v.isEmpty() || v == u"1" || v == u"yes" || v == u"true" || v == u"on")
                args << QStringLiteral("--") + key;
            else if (!(v == u"0" || v == u"no" || v == u"false" || v == u"off")) {
                *error = QStringLiteral("'%1' takes no value or one of 1/0, yes/no, true/false, "
                                        "not '%2', at %3")
                             .arg(key, value, where);
                return false;
            }
            continue;
        }
        if (value.isEmpty()) {
            *error
                = QStringLiteral("'%1' without its %2 at %3").arg(key, option->valueName(), where);
            return false;
        }
        args << QStringLiteral("--") + key << value;
    }
    *out += args;
    return true;
}
