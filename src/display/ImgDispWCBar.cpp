#include "ImgDispWCBar.h"

#include "ColorBar.h"

ImgDispWCBar::ImgDispWCBar(QWidget *parent)
    : ImgDisp(parent)
    , cBar(new ColorBar(this))
{
    setWindowTitle(tr("Image Display with Color Bar"));
    cBar->setObjectName("CBar");
    cBar->setMinimumWidth(24);
    cBar->setMaximumWidth(40);
    gridLayout()->addWidget(cBar, 0, 1);
    gridLayout()->addWidget(cBar->uiBase(), 1, 0, 1, 2);
    gridLayout()->setColumnStretch(0, 1);
    gridLayout()->setRowStretch(0, 1);
    connect(cBar, &ColorBar::newBar, this, &ImgDispWCBar::newBar);
}
