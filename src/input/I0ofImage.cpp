#include "I0ofImage.h"

#include "Failures.h"

#include "I0Correction.h"
#include "SelectAFile.h"
#include "ui_I0ofImage.h"

I0ofImage::I0ofImage(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::I0ofImage>())
{
    ui->setupUi(this);
    ui->XafsFile->setMode(0);
    ui->XafsFile->setFrameShape(QFrame::NoFrame);
    connect(ui->XafsFile, &SelectAFile::fileSelected, this, &I0ofImage::xafsFileChosen);
    connect(ui->XafsFile, &SelectAFile::clear, this, &I0ofImage::xafsFileCleared);
}

I0ofImage::~I0ofImage() = default;

void I0ofImage::setTitle(const QString &title)
{
    ui->Title->setText(title);
}

QString I0ofImage::title() const
{
    return ui->Title->text();
}

double I0ofImage::i0Val() const
{
    bool ok = false;
    const double v = ui->I0Val->text().toDouble(&ok);
    return ok ? v : 0.0;
}

void I0ofImage::setI0Val(double v)
{
    ui->I0Val->setText(QString::number(v, 'g', 6));
}

bool I0ofImage::calcFromXafs() const
{
    return ui->CalcFromXAFS->isChecked();
}

void I0ofImage::setCalcFromXafs(bool f)
{
    ui->CalcFromXAFS->setChecked(f);
}

SelectAFile *I0ofImage::xafsFileSelector() const
{
    return ui->XafsFile;
}

QString I0ofImage::xafsFile() const
{
    return ui->XafsFile->filePath();
}

void I0ofImage::setXafsFile(const QString &fileName)
{
    ui->XafsFile->fileSelected0(fileName);
}

void I0ofImage::clearXafsFile()
{
    ui->XafsFile->clear0();
}

QString I0ofImage::engPattern() const
{
    return ui->EngPattern->text();
}

void I0ofImage::setEngPattern(const QString &pattern)
{
    ui->EngPattern->setText(pattern);
}

void I0ofImage::xafsFileChosen(const QString &fileName)
{
    // A file that cannot be read, or holds no scan points, must not leave the points of
    // the previous file in use under the new name.
    if (!table.readXafs(fileName))
        table.clear();
    ui->XafsFile->setStat(table.count() > 0);
    if (!fileName.isEmpty() && table.count() == 0)
        recordFailure(Failures::Load,
            QString("The XAFS scan file %1 gives no I0 points (missing, unreadable or without "
                    "an I0 column)")
                .arg(fileName));
}

void I0ofImage::xafsFileCleared()
{
    table.clear();
}

double I0ofImage::i0ForImage(const QString &imageFileName) const
{
    I0Correction c;
    c.value = i0Val();
    c.fromXafs = calcFromXafs();
    c.pattern = engPattern();
    if (c.fromXafs)
        c.table = table;
    return c.i0For(imageFileName);
}
