#include "SelectDir.h"

#include "SelectorDialog.h"
#include "ui_SelectDir.h"

#include <QFileDialog>

SelectDir::SelectDir(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDir>())
    , nativeDialog(nativeDialogWanted())
{
    ui->setupUi(this);
    connect(ui->Select, &QPushButton::clicked, this, &SelectDir::showDialog);
}

SelectDir::~SelectDir() = default;

QFileDialog *SelectDir::fileDialog()
{
    if (!dialog) {
        dialog = newSelectorDialog(this, nativeDialog);
        if (!dialogDir.isEmpty())
            dialog->setDirectory(dialogDir);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
        dialog->setNameFilter(QStringLiteral("(*)"));
        connect(dialog, &QFileDialog::fileSelected, this, &SelectDir::chooseDir);
    }
    return dialog;
}

void SelectDir::showDialog()
{
    fileDialog()->show();
    dialog->raise();
    dialog->activateWindow();
}

QString SelectDir::dirName() const
{
    return ui->SelectedDir->text();
}

void SelectDir::setButtonText(const QString &text)
{
    ui->Select->setText(text);
}

void SelectDir::setDirName(QString dir)
{
    ui->SelectedDir->setText(dir);
    dialogDir = dir;
    if (dialog)
        dialog->setDirectory(dir);
}

void SelectDir::chooseDir(QString dir)
{
    setDirName(dir);
    emit aDirSelected(dir);
}
