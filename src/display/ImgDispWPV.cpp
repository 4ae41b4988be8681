#include "ImgDispWPV.h"

#include "FieldText.h"
#include "ProfilePanel.h"
#include "ui_ImgDispWPV.h"

ImgDispWPV::ImgDispWPV(QWidget *parent)
    : ImgDispWCBar(parent)
    , pv(std::make_unique<Ui::ImgDispWPV>())
    , profile(new ProfilePanel(this))
{
    auto *frame = new QFrame(this);
    pv->setupUi(frame);
    setWindowTitle(tr("Image Display with Position and Value"));
    gridLayout()->addWidget(frame, 2, 0, 1, 2);
    connect(this, &ImgDisp::newPos, this, &ImgDispWPV::noticedNewPos);
    connect(pv->ResetScale, &QPushButton::clicked, this, &ImgDisp::resetScale);
    showFieldTextsFromStart(frame);
    gridLayout()->addWidget(profile, 3, 0, 1, 2);
    profile->hide();
    connect(this, &ImgDisp::profileLineChanged, this, &ImgDispWPV::updateProfile);
    connect(this, &ImgDisp::pictureChanged, this, &ImgDispWPV::updateProfile);
    connect(this, &ImgDisp::profileLineCleared, profile, &QWidget::hide);
    connect(profile, &ProfilePanel::closeRequested, this, &ImgDisp::clearProfileLine);
}

void ImgDispWPV::setProfileSampler(Sampler s)
{
    sampler = std::move(s);
    profileEnabled = bool(sampler);
    if (!profileEnabled)
        clearProfileLine();
}

void ImgDispWPV::updateProfile()
{
    if (!sampler || !profileValid)
        return;
    // The plot appears when the line is done: appearing under the canvas during the drag
    // would shrink the canvas and move the picture under the pointer.
    if (profile->isHidden() && drawingProfileLine())
        return;
    profile->setPoints(sampler(profileLine.p1(), profileLine.p2()));
    profile->show();
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
