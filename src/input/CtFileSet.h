#pragma once

#include <QFileInfo>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// One data set in a folder named by the facility's standard: "<sample>-<energy>-<number>".
// Files whose names agree up to the last "-" form one set; the field before that "-" is the
// energy with its unit ("8_98keV", "_" standing for the decimal point).
class CtFileSet : public QObject
{
    Q_OBJECT
public:
    // A set holding only `first`.
    explicit CtFileSet(const QFileInfo &first, QObject *parent = nullptr);

    QString firstName;
    QString setKey;
    QString sampleName;
    QString energyText;
    double energy = 0;
    double energyScale = 1.0;
    QString unit;
    QFileInfoList files;

    double energyEv() const { return energy * energyScale; }

    // The set a file name belongs to: the name up to (not including) its last "-".
    static QString keyOf(const QString &fileName);
    // The text up to and including its last decimal digit, "_" read as ".", as a double;
    // 0 when that is not a number.
    static double readNameNumber(const QString &text);
    // What follows the last decimal digit of a name field ("keV" of "8_98keV"); empty
    // without a digit.
    static QString unitOf(const QString &text);
    // 1000 for "keV" in any letter case, else 1.
    static double scaleOf(const QString &unit);

    // Sets of files in the given (name) order: a file joins the set before it when its key
    // equals that set's key and starts a new set otherwise, so a set is a run of adjacent
    // names.
    static std::vector<std::unique_ptr<CtFileSet>> group(const QFileInfoList &files);
};
