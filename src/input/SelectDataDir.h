#pragma once

#include "CtFileSet.h"

#include <QFileInfoList>
#include <QFrame>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class SelectDir;
namespace Ui {
class SelectDataDir;
}

// Turns a data folder into a numbered list of data sets and steps through it for
// sequential execution. A set is either a sub-folder of the data folder (its files chosen
// by the blank-separated patterns) or, under the facility's file-naming standard ("ZBX
// Std."), a run of files of the folder whose names share sample and energy (`CtFileSet`).
// The list's current entry is the set that `set()` announces.
class SelectDataDir : public QFrame
{
    Q_OBJECT
public:
    explicit SelectDataDir(QWidget *parent = nullptr);
    ~SelectDataDir() override;

    std::vector<std::unique_ptr<CtFileSet>> fileSets;
    QStringList subDirs;

    SelectDir *dirSelector() const;
    QString dataDir() const;
    // Takes dir as the data folder (its dialog opens there next time) and lists its sets.
    void setDataDir(const QString &dir);
    QString pattern() const;
    void setPattern(const QString &p);
    QStringList patterns() const; // the pattern field split at runs of blanks
    bool isZBXStandard() const;

    int count() const; // entries of the list
    int currentIndex() const;
    QStringList entryTexts() const;

    double currentEnergy() const;
    QString currentSetName() const;
    bool advance();

    // The list text of one set: "%1 : %2 (%3[%4], %5)", the sample name blanked when
    // `sameSampleAsBefore`.
    static QString setEntryText(int number, const CtFileSet &set, bool sameSampleAsBefore);

signals:
    void newSets(int items);
    void selected(QString dir, QStringList patterns);
    void selectedFileInfoList(QFileInfoList fileInfos);
    void noMoreSets();

public slots:
    void aDirSelected(QString dir);
    void changedZBXStd();
    void setSubDirs(QString dir);
    void setFileSets(QString dir);
    void setIsZBXStandard(bool f);
    void set();
    void next();
    void setFirstSet(int firstIdx);
    void setNextSet(int lastIdx);

private:
    void listSets(const QString &dir);
    bool isLast() const;

    std::unique_ptr<Ui::SelectDataDir> ui;
};
