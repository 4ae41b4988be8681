#include "SelectAFile.h"

#include "SelectorDialog.h"
#include "TextUtil.h"
#include "ui_SelectAFile.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

SelectAFile::SelectAFile(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectAFile>())
    , nativeDialog(nativeDialogWanted())
{
    ui->setupUi(this);
    setNameTagVisible(false);
    connect(ui->Select, &QPushButton::clicked, this, &SelectAFile::showDialog);
    connect(ui->Clear, &QPushButton::clicked, this, &SelectAFile::clear0);
}

SelectAFile::~SelectAFile() = default;

QHBoxLayout *SelectAFile::rowLayout() const
{
    return ui->row;
}

void SelectAFile::setMode(int m)
{
    mode = m;
    applyMode();
}

QFileDialog *SelectAFile::fileDialog()
{
    if (!dialog) {
        dialog = newSelectorDialog(this, nativeDialog);
        connect(dialog, &QFileDialog::fileSelected, this, &SelectAFile::fileSelected0);
        // Several files chosen at once (flats or darks) stand for their average.
        connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
            if (severalFiles && mode == 0 && files.size() > 1)
                fileSelected0(files.join(u'|'));
        });
        applyMode();
    }
    return dialog;
}

void SelectAFile::applyMode()
{
    if (!dialog)
        return;
    if (mode == 1) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setNameFilters({ tr("Any file (* *.*)") });
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(severalFiles ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        dialog->setNameFilters(
            { tr("Img file (*.img)"), tr("Tiff file (*.tif *.tiff)"), tr("Any file (* *.*)") });
    }
}

void SelectAFile::showDialog()
{
    fileDialog()->show();
    dialog->raise();
    dialog->activateWindow();
}

QString SelectAFile::filePath() const
{
    return ui->FilePath->text();
}

void SelectAFile::setFilePath(const QString &path)
{
    ui->FilePath->setText(path);
}

QString SelectAFile::name() const
{
    return ui->Name->text();
}

void SelectAFile::setName(const QString &name)
{
    ui->Name->setText(name);
}

QString SelectAFile::addTag() const
{
    return ui->AddTag->text();
}

void SelectAFile::setAddTag(const QString &tag)
{
    ui->AddTag->setText(tag);
}

void SelectAFile::setNameTagVisible(bool f)
{
    ui->Name->setVisible(f);
    ui->AddTag->setVisible(f);
}

void SelectAFile::setButtonText(const QString &text)
{
    ui->Select->setText(text);
}

void SelectAFile::setStat(bool f)
{
    ui->FilePath->setStyleSheet(f ? QStringLiteral("background-color: rgb(211, 255, 241);")
                                  : QStringLiteral("background-color: rgb(255, 192, 192);"));
}

void SelectAFile::fileSelected0(QString fname)
{
    const QFileInfo fi(fname);
    if (mode == 1) {
        // Results are written later into this folder; making it now shows at once whether
        // it can be made, instead of losing the first results.
        const QString folder = fname.isEmpty() ? QString() : fi.absolutePath();
        if (!folder.isEmpty()) {
            if (QDir().mkpath(folder)) {
                ui->FilePath->setStyleSheet(QString());
            } else {
                logLine(QStringLiteral("Can not make folder"), folder);
                setStat(false);
            }
        }
        ui->FilePath->setText(folder);
    } else {
        ui->FilePath->setText(fname);
    }
    ui->Name->setText(fi.baseName());
    emit fileSelected(fname);
}

void SelectAFile::clear0()
{
    ui->FilePath->clear();
    ui->FilePath->setStyleSheet(QString());
    ui->Name->clear();
    emit clear();
}
