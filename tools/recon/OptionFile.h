#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

// Options kept in a file for a job that is run again and again: one option per line,
// "key value" with the option's long name as key ("cor 1024.5", "method gridding"), a switch
// alone or with 1/0, yes/no, true/false ("tiff", "png 0"), "#" starting a comment, double
// quotes around a value that holds "#" or starts or ends with blanks; "folder PATH" names the
// data when the command line does not.
class OptionFile
{
public:
    // Appends to `args` the command-line arguments the file stands for, in its order, to be
    // put before those typed (which therefore win), and sets `folder` when the file names
    // one. False with `error` set for a file that cannot be read, an unknown key, a switch
    // with another value or an option without its value; the error names the file and line.
    static bool read(const QString &path, const QList<QCommandLineOption> &options,
        QStringList *args, QString *folder, QString *error);
};
