#include "SelectDataFiles.h"

#include "FileNames.h"

#include "DxchangeFile.h"
#include "Failures.h"
#include "FolderLayout.h"
#include "Hdf5DataSet.h"
#include "ImgReaders.h"

#include "SelectorDialog.h"
#include "TextUtil.h"
#include "ui_SelectDataFiles.h"

#include <QDir>
#include <QFileDialog>

#include <algorithm>

SelectDataFiles::SelectDataFiles(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDataFiles>())
    , nativeDialog(nativeDialogWanted())
{
    ui->setupUi(this);
    connect(ui->Select, &QPushButton::clicked, this, &SelectDataFiles::showDialog);
    connect(ui->Clear, &QPushButton::clicked, this, &SelectDataFiles::clearFiles);
    connect(
        ui->Selected, &QComboBox::currentIndexChanged, this, &SelectDataFiles::currentIndexChanged);
}

SelectDataFiles::~SelectDataFiles() = default;

QFileDialog *SelectDataFiles::fileDialog()
{
    if (!dialog) {
        dialog = newSelectorDialog(this, nativeDialog);
        if (!dialogDir.isEmpty())
            dialog->setDirectory(dialogDir);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFiles);
        dialog->setNameFilters({ tr("Itex File (*.img)"), tr("Tiff File (*.tif *.tiff)"),
            tr("HDF5 File (*.h5 *.hdf5 *.nxs)"), tr("Any Files (* *.*)") });
        connect(dialog, &QFileDialog::filesSelected, this, &SelectDataFiles::handleChosenFiles);
    }
    return dialog;
}

void SelectDataFiles::addBesideSelect(QWidget *w)
{
    ui->fileRow->insertWidget(ui->fileRow->indexOf(ui->Select) + 1, w);
}

void SelectDataFiles::showDialog()
{
    fileDialog()->show();
    dialog->raise();
    dialog->activateWindow();
}

void SelectDataFiles::handleChosenFiles(QStringList list)
{
    // An HDF5 file stands for all its projections, a TIFF stack for its pages; an HDF5
    // file that holds no data set is refused here, once, with a message naming the file
    // and the dataset.
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!DxchangeFile::isHdf5(list[i])) {
            const QStringList pages = ImgReaders::imagesOf(list[i]);
            if (pages.size() > 1) {
                list.removeAt(i);
                for (qsizetype k = 0; k < pages.size(); ++k)
                    list.insert(i + k, pages[k]);
                i += pages.size() - 1;
            }
            continue;
        }
        const QString path = list.takeAt(i);
        Hdf5DataSet set;
        QString error;
        bool given = false, even = true;
        double origin = 0, range = 0;
        if (!set.open(path, nxEntry, thetaUnits, &error)
            || !DxchangeFile::angleRange(path, set.info, given, origin, range, &error, &even)) {
            recordFailure(Failures::Load, error);
            --i;
            continue;
        }
        logLine(QStringLiteral("%1 file: %2 projections, %3 flats, %4 darks :")
                    .arg(set.layout)
                    .arg(set.info.projections)
                    .arg(set.info.whites)
                    .arg(set.info.darks),
            set.base);
        const QStringList images = set.projections();
        for (qsizetype k = 0; k < images.size(); ++k)
            list.insert(i + k, images[k]);
        i += images.size() - 1;
        emit hdf5Chosen(set.base, set.info);
    }
    const bool newFiles = ui->LoadNewFiles->isChecked();
    if (newFiles)
        clearFiles();
    if (ui->LoadMultiTimes->isChecked() && !list.isEmpty()) {
        int n = multiTimes();
        if (n > MaxMultiTimes) {
            logLine(QStringLiteral("Repetition count cut to %1 :").arg(MaxMultiTimes),
                QString::number(n));
            n = MaxMultiTimes;
        }
        const QString first = list.first();
        list.clear();
        for (int i = 0; i < n; ++i)
            list.append(first);
    }
    emit filesSelected(list, newFiles);
}

void SelectDataFiles::loadFromDir(const QString &dir, const QStringList &patterns)
{
    dialogDir = dir;
    if (dialog)
        dialog->setDirectory(dir);
    const QDir d(dir);
    if (!d.exists())
        logLine(QStringLiteral("Can not find folder"), dir);
    // Names that are not valid text are missing from the listing: a set without them would
    // put every later projection at a wrong angle. Listed under their escaped names, which no
    // file has, they make the set incomplete, and no run starts on it.
    const QStringList lost = undecodableNames(d.path(), patterns);
    if (!lost.isEmpty())
        recordFailure(Failures::Load, undecodableText(d.path(), lost));
    if (plain) {
        // Folders ("." and ".." among them) can match a pattern such as "*", but they are
        // never images: listing them would only add names that fail to load.
        const QStringList names = d.entryList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase);
        QStringList paths;
        paths.reserve(names.size());
        for (const QString &n : names)
            paths.append(d.absoluteFilePath(n));
        for (const QString &n : lost)
            paths.append(d.absoluteFilePath(n));
        handleChosenFiles(paths);
        return;
    }
    // Flats and darks in the folder (or in its flats/ and darks/) are never projections:
    // they become the I0 and BG images.
    FolderLayout layout;
    layout.flatNames = flatNames;
    layout.darkNames = darkNames;
    QString error;
    if (layout.read(dir, patterns, &error))
        logLine(layout.text());
    if (!layout.flats.isEmpty() || !layout.darks.isEmpty())
        emit referencesFound(
            ImgReaders::averageName(layout.flats), ImgReaders::averageName(layout.darks));
    QStringList paths = layout.projections;
    for (const QString &n : lost)
        paths.append(d.absoluteFilePath(n));
    handleChosenFiles(paths);
}

void SelectDataFiles::loadFileInfos(const QFileInfoList &list)
{
    QStringList paths;
    paths.reserve(list.size());
    for (const QFileInfo &fi : list)
        paths.append(fi.absoluteFilePath());
    handleChosenFiles(paths);
}

void SelectDataFiles::appendFile(const QString &name)
{
    ui->Selected->addItem(name);
    showCount();
}

void SelectDataFiles::setMissing(int n)
{
    missing = std::max(0, n);
    showCount();
}

void SelectDataFiles::showCount()
{
    const int n = ui->Selected->count();
    if (missing > 0) {
        ui->Count->setText(QStringLiteral("%1 / %2").arg(n).arg(n + missing));
        ui->Count->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    } else {
        ui->Count->setText(QString::number(n));
        ui->Count->setStyleSheet(QString());
    }
}

int SelectDataFiles::count() const
{
    return ui->Selected->count();
}

QStringList SelectDataFiles::files() const
{
    QStringList l;
    for (int i = 0; i < ui->Selected->count(); ++i)
        l.append(ui->Selected->itemText(i));
    return l;
}

int SelectDataFiles::currentIndex() const
{
    return ui->Selected->currentIndex();
}

QString SelectDataFiles::currentFile() const
{
    return ui->Selected->currentText();
}

void SelectDataFiles::clearFiles()
{
    ui->Selected->clear();
    missing = 0;
    showCount();
    emit filesCleared();
}

void SelectDataFiles::prev()
{
    const int i = ui->Selected->currentIndex();
    if (i > 0)
        ui->Selected->setCurrentIndex(i - 1);
}

void SelectDataFiles::next()
{
    const int i = ui->Selected->currentIndex();
    if (i + 1 < ui->Selected->count())
        ui->Selected->setCurrentIndex(i + 1);
}

void SelectDataFiles::select(int idx)
{
    if (idx >= 0 && idx < ui->Selected->count())
        ui->Selected->setCurrentIndex(idx);
}

void SelectDataFiles::setExpTime(double time)
{
    ui->ExpTime->setText(QString::number(time, 'g', 6));
}

double SelectDataFiles::expTime()
{
    bool ok = false;
    const double v = ui->ExpTime->text().toDouble(&ok);
    return ok ? v : 0.0;
}

void SelectDataFiles::setPlainMode()
{
    plain = true;
    ui->LoadNewFiles->hide();
    ui->AddFiles->hide();
    ui->KeepConditions->hide();
    ui->LoadMultiTimes->hide();
    ui->MultiTimes->hide();
    ui->SepLine->hide();
    ui->LoadNewFiles->setChecked(true);
}

bool SelectDataFiles::loadNewFiles() const
{
    return ui->LoadNewFiles->isChecked();
}

void SelectDataFiles::setLoadNewFiles(bool f)
{
    (f ? ui->LoadNewFiles : ui->AddFiles)->setChecked(true);
}

bool SelectDataFiles::keepConditions() const
{
    return ui->KeepConditions->isChecked();
}

void SelectDataFiles::setKeepConditions(bool f)
{
    ui->KeepConditions->setChecked(f);
}

bool SelectDataFiles::loadMultiTimes() const
{
    return ui->LoadMultiTimes->isChecked();
}

void SelectDataFiles::setLoadMultiTimes(bool f)
{
    ui->LoadMultiTimes->setChecked(f);
}

int SelectDataFiles::multiTimes() const
{
    bool ok = false;
    const int n = ui->MultiTimes->text().toInt(&ok);
    return ok ? n : 0;
}

void SelectDataFiles::setMultiTimes(int n)
{
    ui->MultiTimes->setText(QString::number(n));
}

void SelectDataFiles::setButtonText(const QString &text)
{
    ui->Select->setText(text);
}

void SelectDataFiles::setLabelText(const QString &text)
{
    ui->Count->setText(text);
}
