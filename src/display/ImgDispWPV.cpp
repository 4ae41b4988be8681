#include "ImgDispWPV.h"

#include "FieldText.h"
#include "ui_ImgDispWPV.h"

ImgDispWPV::ImgDispWPV(QWidget *parent)
    : ImgDispWCBar(parent)
    , pv(std::make_unique<Ui::ImgDispWPV>())
{
    auto *frame = new QFrame(this);
    pv->setupUi(frame);
    setWindowTitle(tr("Image Display with Position and Value"));
    gridLayout()->addWidget(frame, 2, 0, 1, 2);
    connect(this, &ImgDisp::newPos, this, &ImgDispWPV::noticedNewPos);
    connect(pv->ResetScale, &QPushButton::clicked, this, &ImgDisp::resetScale);
    showFieldTextsFromStart(frame);
}

void ImgDispWPV::noticedNewPos(int ix, int iy)
{
    pv->PosX->setText(QString::number(double(ix), 'g', 6));
    pv->PosY->setText(QString::number(double(iy), 'g', 6));
    emit newPosInvY(ix, iy);
}

void ImgDispWPV::setVal(double v)
{
    pv->Val->setText(QString::number(v, 'g', 6));
}

ImgDispWPV::~ImgDispWPV() = default;
