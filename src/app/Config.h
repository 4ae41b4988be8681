#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The program's key table, filled from the command line and the configuration file.
// Entries are kept by the key as written and, separately, by its upper-cased form for
// the case-insensitive lookups. Every retained configuration line is also kept in
// `lines`, because the main window runs each of them as a batch command at start.
class Config
{
public:
    QStringList keys, values, rests;
    QStringList upperKeys, upperValues, upperRests;
    QStringList lines;

    void parseArgs(int argc, const char *const *argv);
    void parseArgs(const QStringList &args);
    bool readFile(const QString &fileName);
    void set(const QString &key, const QString &value, const QString &rest);
    QString value(const QString &key, const QString &def = QString()) const;
    QString valueNoCase(const QString &key, const QString &def = QString()) const;
    QString restNoCase(const QString &key, const QString &def = QString()) const;
    bool contains(const QString &key) const;

    // Guard against "INCLUDE" cycles and runaway nesting.
    static constexpr int MaxIncludeDepth = 32;

private:
    bool readFileNested(const QString &fileName, int depth);
    QSet<QString> filesBeingRead;
};

// Integer of a configuration value: base 10; not an integer or outside 32 bits gives 0.
int configInt(const QString &text);

extern Config config;
extern QString dataRoot;
extern int sgmImageMode;

// The built-in data root directory used when neither "DataRoot" nor "-d" says otherwise.
QString defaultDataRoot();
