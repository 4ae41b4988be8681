#pragma once

#include "ImgDispWCBar.h"

#include <memory>

namespace Ui {
class ImgDispWPV;
}

// An image display with colour bar and a read-out of the pointer's image position and
// the value there (the owner supplies the value, it knows the numbers behind the picture).
class ImgDispWPV : public ImgDispWCBar
{
    Q_OBJECT
public:
    explicit ImgDispWPV(QWidget *parent = nullptr);
    ~ImgDispWPV() override;

signals:
    void newPosInvY(double x, double y);

public slots:
    void noticedNewPos(int ix, int iy);
    void setVal(double v);

private:
    std::unique_ptr<Ui::ImgDispWPV> pv;
};
