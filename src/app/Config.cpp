#include "Config.h"
#include "Failures.h"

#include "TextUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

Config config;
QString dataRoot = defaultDataRoot();
int sgmImageMode = 2;

QString defaultDataRoot()
{
    // The user's home folder: data usually lives below it, and it always exists.
    return QDir::homePath();
}

int configInt(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok ? v : 0;
}

namespace {

// An argument that begins with "-" but is really a number (a negative value):
// "-" followed by a digit, a "." or any other character that counts as a number.
bool isNumberLike(const QString &arg)
{
    if (arg.size() < 2 || arg.at(0) != u'-')
        return false;
    const QChar c = arg.at(1);
    return c == u'.' || c.isDigit() || c.isNumber();
}

} // namespace

void Config::parseArgs(int argc, const char *const *argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    parseArgs(args);
}

void Config::parseArgs(const QStringList &args)
{
    int i = 0;
    while (i < args.size()) {
        const QString &arg = args.at(i);
        if (!arg.startsWith(u'-')) {
            ++i; // neither an option nor consumed by one
            continue;
        }
        QString value;
        if (i + 1 < args.size()) {
            const QString &next = args.at(i + 1);
            if (!next.startsWith(u'-') || isNumberLike(next))
                value = next;
        }
        QStringList rest;
        int j = i + 1;
        while (j < args.size() && !args.at(j).startsWith(u'-'))
            rest << args.at(j++);
        set(arg, value, rest.join(u' '));
        i = j;
    }
}

bool Config::readFile(const QString &fileName)
{
    return readFileNested(fileName, 0);
}

bool Config::readFileNested(const QString &fileName, int depth)
{
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logLine("Can't open config file : ", fileName);
        return false;
    }
    const QString id = QFileInfo(fileName).canonicalFilePath();
    if (filesBeingRead.contains(id)) {
        logLine("Config file includes itself, INCLUDE ignored : ", fileName);
        return false;
    }
    if (depth > MaxIncludeDepth) {
        logLine("Config files nested too deeply, INCLUDE ignored : ", fileName);
        return false;
    }
    filesBeingRead.insert(id);

    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QString line;
    qint64 read = 0;
    for (LineRead r; (r = readBoundedLine(in, line)) != LineRead::End;) {
        read += line.size();
        if (r == LineRead::TooLong || read > MaxTextFileLength) {
            recordFailure(Failures::Command,
                QString("Config file %1 has a line of more than %2 characters or more than %3 "
                        "characters in all: the rest of it is ignored")
                    .arg(fileName)
                    .arg(MaxTextLineLength)
                    .arg(MaxTextFileLength));
            break;
        }
        const QString kept = removeComment(line);
        if (isBlankLine(kept))
            continue;
        lines << kept;
        QString rest = kept;
        QString key, value;
        takeFirstItem(rest, key);
        const QString afterKey = rest;
        takeFirstItem(rest, value);
        if (key.toUpper() == QLatin1String("INCLUDE"))
            readFileNested(value, depth + 1);
        else
            set(key, value, afterKey);
    }
    filesBeingRead.remove(id);
    return true;
}

void Config::set(const QString &key, const QString &value, const QString &rest)
{
    qsizetype i = keys.indexOf(key);
    if (i >= 0) {
        values[i] = value;
        rests[i] = rest;
    } else {
        keys << key;
        values << value;
        rests << rest;
    }
    const QString upper = key.toUpper();
    i = upperKeys.indexOf(upper);
    if (i >= 0) {
        upperValues[i] = value;
        upperRests[i] = rest;
    } else {
        upperKeys << upper;
        upperValues << value;
        upperRests << rest;
    }
}

QString Config::value(const QString &key, const QString &def) const
{
    const qsizetype i = keys.indexOf(key);
    return i >= 0 ? values.at(i) : def;
}

QString Config::valueNoCase(const QString &key, const QString &def) const
{
    const qsizetype i = upperKeys.indexOf(key.toUpper());
    return i >= 0 ? upperValues.at(i) : def;
}

QString Config::restNoCase(const QString &key, const QString &def) const
{
    const qsizetype i = upperKeys.indexOf(key.toUpper());
    return i >= 0 ? upperRests.at(i) : def;
}

bool Config::contains(const QString &key) const
{
    return keys.contains(key);
}
