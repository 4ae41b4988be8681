#include "SelectAImgFile.h"

#include "ImgData.h"
#include "ImgDispWPV.h"
#include "ImgPicture.h"
#include "ImgReaders.h"
#include "ui_SelectAImgFile.h"

#include <QHBoxLayout>

SelectAImgFile::SelectAImgFile(QWidget *parent)
    : SelectAFile(parent)
    , imgUi(std::make_unique<Ui::SelectAImgFile>())
    , imgView(new ImgDispWPV)
{
    auto *extra = new QFrame(this);
    imgUi->setupUi(extra);
    // Before the "Clear" button, which stays last in the row.
    rowLayout()->insertWidget(rowLayout()->count() - 1, extra);
    defaultExpTime = expTime();
    // Flats or darks taken several times are averaged into one image.
    severalFiles = true;

    connect(this, &SelectAFile::fileSelected, this, &SelectAImgFile::loadImage);
    connect(this, &SelectAFile::clear, this, &SelectAImgFile::clear);
    connect(imgView, &ImgDispWPV::newPosInvY, this, &SelectAImgFile::noticedNewPos);
    connect(imgView, &ImgDispWPV::newBar, this, &SelectAImgFile::render);
    connect(imgUi->ShowImg, &QCheckBox::toggled, this, &SelectAImgFile::showImgToggled);
}

SelectAImgFile::~SelectAImgFile()
{
    delete imgView.data();
    delete img;
}

ImgDispWPV *SelectAImgFile::view() const
{
    return imgView.data();
}

double SelectAImgFile::expTime() const
{
    bool ok = false;
    const double v = imgUi->ExpTimeLE->text().toDouble(&ok);
    return ok ? v : 0.0;
}

bool SelectAImgFile::showImg() const
{
    return imgUi->ShowImg->isChecked();
}

void SelectAImgFile::setShowImg(bool f)
{
    imgUi->ShowImg->setChecked(f);
}

void SelectAImgFile::setExpTime(double time)
{
    imgUi->ExpTimeLE->setText(QString::number(time, 'g', 6));
}

void SelectAImgFile::loadImage(const QString &fname)
{
    ImgData *fresh = ImgReaders::create(fname);
    if (fresh) {
        if (!fresh->load()) {
            delete fresh;
            fresh = nullptr;
        }
    }
    if (!fresh) {
        // The previous image stays in use: a failed choice must not leave the image set
        // without its I0 or background.
        setStat(false);
        return;
    }
    delete img;
    img = fresh;
    row.assign(size_t(img->width), 0.0);
    setStat(true);
    render();
    if (imgView && showImg())
        imgView->show();
}

void SelectAImgFile::render()
{
    if (!imgView)
        return;
    if (img)
        toImage(*img, imgView->img, imgView->colorBar());
    else
        imgView->img = QImage();
    imgView->newImage();
}

void SelectAImgFile::showImgToggled(bool f)
{
    // Without an image there is nothing to show; the view appears with the next one.
    if (imgView)
        imgView->setVisible(f && img);
}

void SelectAImgFile::clear()
{
    delete img;
    img = nullptr;
    row.clear();
    render();
    setExpTime(defaultExpTime);
}

void SelectAImgFile::noticedNewPos(double x, double y)
{
    double v = 0.0;
    // Compared before the conversion: a position far outside (or NaN) has no int value.
    if (img && img->ready && x > -1.0 && y > -1.0 && x < img->width && y < img->height) {
        const int ix = int(x);
        const int iy = int(y);
        img->hLine(iy, row.data());
        v = row[size_t(ix)];
    }
    if (imgView)
        imgView->setVal(v);
}
