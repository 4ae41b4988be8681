#pragma once

#include "ImgDisp.h"

class ColorBar;

// An image display with its colour bar on the right and the bar's settings underneath.
class ImgDispWCBar : public ImgDisp
{
    Q_OBJECT
public:
    explicit ImgDispWCBar(QWidget *parent = nullptr);

    ColorBar *colorBar() const { return cBar; }

signals:
    void newBar();

private:
    ColorBar *cBar;
};
