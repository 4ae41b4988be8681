#include "SelectDataDir.h"

#include "SelectDir.h"
#include "TextUtil.h"
#include "ui_SelectDataDir.h"

#include <QDir>
#include <QRegularExpression>

SelectDataDir::SelectDataDir(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDataDir>())
{
    ui->setupUi(this);
    ui->SelDir->setButtonText(tr("Sel. Data Dir."));
    connect(ui->SelDir, &SelectDir::aDirSelected, this, &SelectDataDir::aDirSelected);
    connect(ui->isZBXStd_, &QCheckBox::toggled, this, &SelectDataDir::changedZBXStd);
    connect(ui->Set, &QPushButton::clicked, this, &SelectDataDir::set);
    connect(ui->Next, &QPushButton::clicked, this, &SelectDataDir::next);
}

SelectDataDir::~SelectDataDir() = default;

SelectDir *SelectDataDir::dirSelector() const
{
    return ui->SelDir;
}

QString SelectDataDir::dataDir() const
{
    return ui->SelDir->dirName();
}

void SelectDataDir::setDataDir(const QString &dir)
{
    ui->SelDir->chooseDir(dir);
}

QString SelectDataDir::pattern() const
{
    return ui->Pattern->text();
}

void SelectDataDir::setPattern(const QString &p)
{
    ui->Pattern->setText(p);
}

QStringList SelectDataDir::patterns() const
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return ui->Pattern->text().split(blanks, Qt::SkipEmptyParts);
}

bool SelectDataDir::isZBXStandard() const
{
    return ui->isZBXStd_->isChecked();
}

int SelectDataDir::count() const
{
    return ui->SubDirs->count();
}

int SelectDataDir::currentIndex() const
{
    return ui->SubDirs->currentIndex();
}

QStringList SelectDataDir::entryTexts() const
{
    QStringList l;
    for (int i = 0; i < ui->SubDirs->count(); ++i)
        l.append(ui->SubDirs->itemText(i));
    return l;
}

bool SelectDataDir::isLast() const
{
    return ui->SubDirs->currentIndex() >= ui->SubDirs->count() - 1;
}

void SelectDataDir::listSets(const QString &dir)
{
    if (isZBXStandard())
        setFileSets(dir);
    else
        setSubDirs(dir);
    emit newSets(ui->SubDirs->count());
}

void SelectDataDir::aDirSelected(QString dir)
{
    listSets(dir);
}

void SelectDataDir::changedZBXStd()
{
    listSets(ui->SelDir->dirName());
}

void SelectDataDir::setIsZBXStandard(bool f)
{
    ui->isZBXStd_->setChecked(f);
}

void SelectDataDir::setSubDirs(QString dir)
{
    // No folder chosen yet is not the working directory.
    subDirs = dir.isEmpty() ? QStringList()
                            : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    // The file-name sets are no longer what the list shows: they must not be announced
    // under a sub-folder entry after the mode is switched back.
    fileSets.clear();
    ui->SubDirs->clear();
    for (int i = 0; i < subDirs.size(); ++i)
        ui->SubDirs->addItem(QStringLiteral("%1 : %2").arg(i + 1).arg(subDirs.at(i)));
    ui->SubDirs->setCurrentIndex(0);
}

QString SelectDataDir::setEntryText(int number, const CtFileSet &set, bool sameSampleAsBefore)
{
    const QString sample
        = sameSampleAsBefore ? QString(set.sampleName.size(), u' ') : set.sampleName;
    // One pass, so that a "%" in a name is never taken for a place of the format.
    return QStringLiteral("%1 : %2 (%3[%4], %5)")
        .arg(QString::number(number), sample, QString::number(set.energy, 'g', 6), set.unit,
            QString::number(set.files.size()));
}

void SelectDataDir::setFileSets(QString dir)
{
    if (dir.isEmpty())
        return;
    const QStringList filter
        = ui->Pattern->text().isEmpty() ? QStringList() : QStringList { ui->Pattern->text() };
    const QFileInfoList files = QDir(dir).entryInfoList(filter, QDir::Files, QDir::Name);
    // A folder without matching files has no sets: the previous folder's sets must not stay
    // listed under this folder's name (a "Set" would load the old folder's files).
    if (files.isEmpty()) {
        if (!fileSets.empty() || ui->SubDirs->count() > 0)
            logLine(QStringLiteral("No files matching %1 in %2: the data sets are cleared")
                        .arg(filter.isEmpty() ? QStringLiteral("*") : filter.first(), dir));
        fileSets.clear();
        subDirs.clear();
        ui->SubDirs->clear();
        return;
    }
    fileSets = CtFileSet::group(files);
    ui->SubDirs->clear();
    for (size_t i = 0; i < fileSets.size(); ++i) {
        const bool same = i > 0 && fileSets[i]->sampleName == fileSets[i - 1]->sampleName;
        ui->SubDirs->addItem(setEntryText(int(i) + 1, *fileSets[i], same));
    }
    ui->SubDirs->setCurrentIndex(0);
}

void SelectDataDir::set()
{
    const int idx = ui->SubDirs->currentIndex();
    if (isZBXStandard()) {
        if (idx < 0 || size_t(idx) >= fileSets.size())
            emit noMoreSets();
        else
            emit selectedFileInfoList(fileSets[size_t(idx)]->files);
        return;
    }
    if (ui->SubDirs->currentText().isEmpty() || idx < 0 || idx >= subDirs.size()) {
        emit noMoreSets();
        return;
    }
    emit selected(ui->SelDir->dirName() + QDir::separator() + subDirs.at(idx), patterns());
}

void SelectDataDir::next()
{
    if (!isLast())
        ui->SubDirs->setCurrentIndex(ui->SubDirs->currentIndex() + 1);
}

bool SelectDataDir::advance()
{
    if (isLast())
        return false;
    ui->SubDirs->setCurrentIndex(ui->SubDirs->currentIndex() + 1);
    return true;
}

void SelectDataDir::setFirstSet(int firstIdx)
{
    // An index outside the list leaves no current entry, so that set() reports the end.
    ui->SubDirs->setCurrentIndex(firstIdx);
    set();
}

void SelectDataDir::setNextSet(int lastIdx)
{
    const int idx = ui->SubDirs->currentIndex();
    if (idx < lastIdx && !isLast()) {
        ui->SubDirs->setCurrentIndex(idx + 1);
        set();
    } else {
        emit noMoreSets();
    }
}

double SelectDataDir::currentEnergy() const
{
    const int idx = ui->SubDirs->currentIndex();
    if (isZBXStandard())
        return idx >= 0 && size_t(idx) < fileSets.size() ? fileSets[size_t(idx)]->energyEv() : 0.0;
    if (idx < 0 || idx >= subDirs.size())
        return 0.0;
    // The unit counts here as in the file names: a folder "8_98keV" is at 8980 eV, like the
    // I0 files it is matched with.
    const QString &name = subDirs.at(idx);
    return CtFileSet::readNameNumber(name) * CtFileSet::scaleOf(CtFileSet::unitOf(name));
}

QString SelectDataDir::currentSetName() const
{
    const int idx = ui->SubDirs->currentIndex();
    if (isZBXStandard())
        return idx >= 0 && size_t(idx) < fileSets.size() ? fileSets[size_t(idx)]->energyText
                                                         : QString();
    return idx >= 0 && idx < subDirs.size() ? subDirs.at(idx) : QString();
}
