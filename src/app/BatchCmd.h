#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One command line of a batch file, a setup file or the configuration file: the line as
// stored, its keyword and its arguments (quotes removed, empty items dropped). Copied by
// value into queued signals, so it holds no pointers and no shared state.
class BatchCmd
{
public:
    QString line;
    QString cmd;
    QStringList args;
    // Where the line comes from, for messages about mistakes in it: the file and the line
    // number (from 1). 0 for lines that are not checked as commands: configuration lines,
    // labels, conditions that did not hold.
    QString file;
    int lineNo = 0;

    BatchCmd() = default;
    explicit BatchCmd(const QString &line);

    // Keywords are compared without regard to letter case.
    bool is(const QString &keyword) const;

    int argCount() const { return int(args.size()); }
    // Argument i as written; empty when there is no such argument.
    QString arg(int i) const;
    // Argument i as a decimal integer; 0 when missing, not an integer or beyond 32 bits.
    int argInt(int i) const;
    // Argument i (the first by default) as a number; 0 when missing or not a finite number.
    double argDouble(int i = 0) const;
};

Q_DECLARE_METATYPE(BatchCmd)
